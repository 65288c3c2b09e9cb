#pragma once

#include <QString>
#include <QStringList>

class QIODevice;

// The toolkit's abstract settings file. Integers and booleans reach the file only through the
// string operations, so a class that changes how strings are stored changes them too.
class TCustomIniFile {
public:
    explicit TCustomIniFile(QString fileName);
    virtual ~TCustomIniFile();
    TCustomIniFile(const TCustomIniFile&) = delete;
    TCustomIniFile& operator=(const TCustomIniFile&) = delete;

    const QString& FileName() const { return m_fileName; }

    virtual QString ReadString(const QString& section, const QString& ident,
                               const QString& defaultValue) = 0;
    virtual void WriteString(const QString& section, const QString& ident,
                             const QString& value) = 0;
    virtual void DeleteKey(const QString& section, const QString& ident) = 0;
    virtual void EraseSection(const QString& section) = 0;
    virtual void ReadSection(const QString& section, QStringList& strings) = 0;
    virtual void ReadSections(QStringList& strings) = 0;
    virtual void ReadSectionValues(const QString& section, QStringList& strings) = 0;
    virtual void UpdateFile() = 0;

    // Decimal, or hexadecimal after "0x" or "$"; anything else gives the default.
    int ReadInteger(const QString& section, const QString& ident, int defaultValue);
    void WriteInteger(const QString& section, const QString& ident, int value);
    // Stored as 1 and 0; any integer other than 0 reads as true.
    bool ReadBool(const QString& section, const QString& ident, bool defaultValue);
    void WriteBool(const QString& section, const QString& ident, bool value);
    // A stream is stored as text: two upper-case hexadecimal digits per byte. Writing stores what
    // `value` holds from its position to its end. Reading writes the stored bytes into `value` at
    // its position, moves a random-access device back to where the bytes begin, and returns how
    // many there were; the digits are read up to the first pair that is not one, and an
    // absent key gives 0 bytes.
    int ReadBinaryStream(const QString& section, const QString& ident, QIODevice& value);
    void WriteBinaryStream(const QString& section, const QString& ident, QIODevice& value);
    // Whether the section holds a key of that name, compared without regard to case.
    bool ValueExists(const QString& section, const QString& ident);

    // The integer rule of ReadInteger, for readers of other stored counts.
    static bool parseInteger(const QString& text, int* value);

private:
    QString m_fileName;
};
