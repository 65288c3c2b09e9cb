#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <utility>

// One settings file in memory, read and changed the way the Windows profile functions do it:
// names of sections and keys match without regard to case, the first section and the first key of
// a name win when reading, a value loses its outer blanks and one surrounding pair of double
// quotes. Lines end in CR LF, LF or a lone CR. Lines that a change does not touch (other sections
// and keys, comments, blank lines, even bytes that are not text) are written back exactly as they
// were read.
//
// The file's bytes are kept once; besides them only section and key lines are indexed, with a few
// offsets each and no copies of their text, so a file of millions of blank lines or keys costs a
// small multiple of its size. Names are compared as bytes through a case-folding table of the code
// page, so a lookup allocates nothing per line.
class IniDocument {
public:
    IniDocument() = default;
    // Bytes in code page 1251. Raises EIniFileException for more bytes than offsets can hold.
    static IniDocument fromBytes(QByteArray bytes);
    // Every line ends in CR LF, as the suite's other programs write the file.
    QByteArray toBytes() const;

    // The value as the profile functions return it, without length limit; nothing for a missing
    // section or key.
    std::optional<QString> value(const QString& section, const QString& key) const;
    bool hasSection(const QString& section) const;
    QStringList sectionNames() const;
    // Key names as they stand in the file, in file order.
    QStringList keyNames(const QString& section) const;
    // Key and stored value text (outer blanks dropped, quotes kept) as they stand in the file.
    QList<std::pair<QString, QString>> storedEntries(const QString& section) const;
    // Each key of the section whose name begins with `prefix` (without regard to case), in file
    // order and duplicates included, with its value as value() gives it: one pass for callers
    // that need many keys of one family.
    void
    forEachKey(const QString& section, const QString& prefix,
               const std::function<void(const QString& name, const QString& value)>& visit) const;

    // Replaces the first key of that name, or adds it after the last key of the section, or adds
    // the section at the end. Names and values that the file could not give back unchanged (line
    // breaks, "=" in a key, "]" in a section, characters outside code page 1251) raise
    // EIniFileException naming `fileName`.
    void setValue(const QString& section, const QString& key, const QString& value,
                  const QString& fileName);
    // Each returns whether the document changed. A name present more than once (a hand edit, two
    // programs) is removed everywhere, so that no older copy comes back in its place.
    bool removeKey(const QString& section, const QString& key);
    // Removes, in one pass, every key of the section that begins with `prefix` and that `which`
    // accepts.
    bool removeKeys(const QString& section, const QString& prefix,
                    const std::function<bool(const QString& name)>& which);
    bool removeSection(const QString& section);

    bool isModified() const { return m_modified; }

private:
    enum class Kind : quint8 { Section, Key };
    enum class Removed : quint8 { No, LineOnly, WithGap };
    // A section or key line. The lines after it up to the next such line (blank lines, comments,
    // anything else) are its gap: bytes of the source that are written back as they stand.
    struct Line {
        qint32 begin = 0; // of the text, in m_source or, when `added`, in m_added
        qint32 size = 0;  // of the text, line end excluded
        qint32 gapBegin = 0;
        qint32 gapEnd = 0;
        Kind kind = Kind::Key;
        bool added = false;
        Removed removed = Removed::No;
    };

    QByteArrayView text(const Line& line) const;
    QByteArrayView name(const Line& line) const;
    QString valueText(const Line& line) const;
    // Index of the first live section of that name, or -1; `end` receives one past its last line.
    qsizetype findSection(const QByteArray& foldedName, qsizetype from, qsizetype* end) const;
    qsizetype findKey(const QString& section, const QString& key) const;
    void appendLine(QByteArray& out, QByteArrayView text) const;
    qint32 addText(const QByteArray& text);

    QByteArray m_source;
    QByteArray m_added;
    QList<Line> m_lines;
    qint32 m_preambleEnd = 0; // source bytes before the first section line
    bool m_modified = false;
};
