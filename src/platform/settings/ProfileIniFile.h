#pragma once

#include "platform/core/Exceptions.h"
#include "platform/settings/IniDocument.h"

#include <QString>
#include <QStringList>

#include <functional>

// A settings file could not be written. Callers see an INI-file error; the operating system's
// error number rides along so that they can tell a lasting failure from a passing one.
class EIniWriteError : public ExceptionClass<EIniWriteError, EIniFileException> {
public:
    EIniWriteError(QString message, int osError)
        : ExceptionClass(std::move(message))
        , m_osError(osError) {}
    int osError() const { return m_osError; }

private:
    int m_osError;
};

// The profile-file service: reads and writes one settings file the way the Windows profile
// functions do (see IniDocument). Nothing is cached between calls, so every read sees what other
// processes wrote last.
//
// A write reads the file, changes it in memory and replaces it as a whole: a new file beside it,
// flushed to disk, then renamed over the old one. Readers in other processes therefore see either
// the old or the new file, never a mix, and a crash or a full disk leaves the old file intact.
// The rename also means a symbolic link planted at the file's name is replaced, never written
// through; a write refuses to read its old content through such a link. A file that the user may
// not write is not replaced, although the folder would allow it; a file he may write in a folder
// he may not change is written over in place (the caller's lock keeps other writers out), after a
// safety copy of its old content in the user's own folder (~/.local/state/torvi): the next read or
// write of that user puts back the old content of a rewrite that a crash cut off. Temporary files
// that killed writers left behind are removed by the next write.
//
// A file over the size limit is refused, before it is read, with an INI-file error that says so;
// so is a write that would make it grow past the limit, and the file then stays as it was.
class ProfileIniFile {
public:
    // The most characters a value read comes back with: the profile functions fill a buffer of
    // 65535 characters including the terminating zero.
    static constexpr qsizetype kMaxValueLength = 65534;

    explicit ProfileIniFile(QString fileName);
    const QString& fileName() const { return m_fileName; }

    // A missing, unreadable or non-regular file reads as an empty one, as with the profile
    // functions; one over the size limit raises EIniFileException.
    IniDocument read() const;
    // Applies `change` to the current content and writes the result when it changed. A file that
    // does not exist yet is created. Failures of the file system raise EIniWriteError; `change`
    // may raise errors of its own, which leave the file untouched.
    void update(const std::function<void(IniDocument&)>& change);

    // Single calls of the profile functions.
    QString readString(const QString& section, const QString& key,
                       const QString& defaultValue) const;
    void writeString(const QString& section, const QString& key, const QString& value);
    void deleteKey(const QString& section, const QString& key);
    void eraseSection(const QString& section);

    // Makes the last replacement of the file survive a power failure: the folder entry that the
    // rename changed is flushed too.
    void flush() const;

    // The value as read, cut to kMaxValueLength characters.
    static QString limited(QString value);
    // A missing key's default as the profile functions give it back: without its trailing blanks.
    static QString defaultAsRead(const QString& defaultValue);

private:
    QString m_fileName;
};
