#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class QTemporaryFile;

// A data file written beside its final name and renamed over it only when every byte is on the
// disk. A link planted at the final name is replaced, never written through; a full disk or a
// failed write is an error naming the file, and the old file (if any) stays as it was. The
// temporary file goes away whatever happens unless commit() succeeded.
class TExportFile {
public:
    explicit TExportFile(const QString& path);
    ~TExportFile();
    TExportFile(const TExportFile&) = delete;
    TExportFile& operator=(const TExportFile&) = delete;

    QString path() const { return m_path; }
    // The temporary file's name, for a writer that opens files by name itself.
    QString temporaryPath() const;

    // Buffered: the bytes reach the file in large blocks, so that a row costs no system call.
    void write(const QByteArray& bytes);
    void write(const char* data, qsizetype size);
    // Flushes, syncs and renames over the final name. Throws EOSError when any of it fails.
    void commit();

    // The Russian message of a failed write of `path`.
    [[noreturn]] static void fail(const QString& path, const QString& reason);

private:
    void flushBuffer();

    QString m_path;
    std::unique_ptr<QTemporaryFile> m_file;
    QByteArray m_buffer;
    bool m_committed = false;
};
