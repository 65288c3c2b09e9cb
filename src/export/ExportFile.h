#pragma once

#include "platform/core/StagedFile.h"

#include <QByteArray>
#include <QString>

// A data file written as a StagedFile (beside its name, renamed over it when whole: a planted
// link is replaced, a full disk leaves the old file and no half a file), through a buffer, so
// that a table's row costs no system call.
class TExportFile {
public:
    explicit TExportFile(const QString& path);

    QString path() const { return m_file.path(); }
    // The temporary file's name, for a writer that opens files by name itself.
    QString temporaryPath() const { return m_file.temporaryPath(); }

    void write(const QByteArray& bytes);
    // Writes what is buffered and renames over the final name. Throws EOSError when it fails.
    void commit();

    // The Russian message of a failed write of `path` for a reason the writer knows.
    [[noreturn]] static void fail(const QString& path, const QString& reason);

private:
    void flushBuffer();

    StagedFile m_file;
    QByteArray m_buffer;
};
