#pragma once

#include "platform/core/DateTime.h"
#include "platform/core/FormatSettings.h"
#include "platform/settings/IniFile.h"
#include "platform/settings/NamedLock.h"

#include <memory>

// Typed values in the settings file are written and read in these settings, whatever the
// workstation's regional settings: dd.mm.yyyy, hh:nn:ss.zzz and "." as the decimal point. Filled
// when the library is loaded, only read afterwards.
const TFormatSettings& IniFormatSettings();

// The hash that ties the parts of a long value together: over the code page 1251 bytes of the
// text, h := h + c, then h := h - rotl(h, 13), modulo 2^32, read as a signed number.
qint32 IniValueHash(const QString& text);

// The plug-in's settings file. Every operation runs under a machine-wide lock named after the
// file, so processes of several users can share one file without mixing their changes. Values may
// hold line breaks and may be longer than one key can hold; both are stored in a form the plain
// file format keeps:
//   - CR is dropped and LF stored as "<@\n@>";
//   - the text is cut into parts of at most 65532 characters, never inside a "<@\n@>";
//   - a part with a quote or a blank or control character at either end is quoted;
//   - part 1 goes to the key itself; with more parts, K__$Count holds their number, K__$Hash the
//     hash of part 1, K__$HashAll the hash of all parts together and K__$Line2 … K__$Line<n> the
//     other parts.
// A part sequence whose hashes do not match its parts (a hand edit, a writer without the lock, a
// torn file) reads as part 1 alone; values of writers that leave no K__$HashAll are checked by
// part 1's hash only. Every failure is an error whose message begins with the failing operation.
class TSafeIniFile : public TIniFile {
public:
    explicit TSafeIniFile(const QString& fileName);
    ~TSafeIniFile() override;

    QString ReadString(const QString& section, const QString& ident,
                       const QString& defaultValue) override;
    void WriteString(const QString& section, const QString& ident, const QString& value) override;
    void DeleteKey(const QString& section, const QString& ident) override;
    void EraseSection(const QString& section) override;
    void ReadSection(const QString& section, QStringList& strings) override;
    void ReadSections(QStringList& strings) override;
    void ReadSectionValues(const QString& section, QStringList& strings) override;
    void UpdateFile() override;

    TDateTime ReadDate(const QString& section, const QString& ident, TDateTime defaultValue);
    TDateTime ReadTime(const QString& section, const QString& ident, TDateTime defaultValue);
    TDateTime ReadDateTime(const QString& section, const QString& ident, TDateTime defaultValue);
    double ReadFloat(const QString& section, const QString& ident, double defaultValue);
    void WriteDate(const QString& section, const QString& ident, TDateTime value);
    void WriteTime(const QString& section, const QString& ident, TDateTime value);
    void WriteDateTime(const QString& section, const QString& ident, TDateTime value);
    void WriteFloat(const QString& section, const QString& ident, double value);

    // The machine-wide lock of this file; not valid when it could not be had, and the object then
    // works without it.
    const NamedLock& lockHandle() const { return *m_lockHandle; }

    // "ini file lock mutex" and the file name, lower-cased, with doubled backslashes collapsed and
    // the characters " * / : < > ? \ | made underscores.
    static QString lockNameFor(const QString& fileName);
    // The parts of a value before quoting; none for an empty value.
    static QStringList splitValue(const QString& value);
    // A part as it goes into the file: in quotes when the profile functions would otherwise strip
    // a quote or a blank at its ends.
    static QString quotePart(const QString& part);
    // "<@\n@>" back to CR LF.
    static QString decodeValue(const QString& stored);

private:
    void checkSection(const QString& section) const;
    void checkIdent(const QString& ident) const;
    // Writes with the retry of the profile functions: a failure that may pass (another program
    // holding the file, a full folder being cleaned) is tried again for one second.
    void writeWithRetry(const std::function<void(IniDocument&)>& change);

    std::unique_ptr<NamedLock> m_lockHandle;
};
