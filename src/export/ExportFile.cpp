#include "export/ExportFile.h"

#include "platform/core/Exceptions.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qsizetype kBufferBytes = 1 << 16;

QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

TExportFile::TExportFile(const QString& path)
    : m_path(QFileInfo(path).absoluteFilePath()) {
    const QFileInfo target(m_path);
    if (!QDir().mkpath(target.absolutePath()))
        fail(m_path, QStringLiteral("не удалось создать папку %1")
                         .arg(QDir::toNativeSeparators(target.absolutePath())));
    // Hidden and in the same folder: the rename stays within one file system.
    m_file = std::make_unique<QTemporaryFile>(target.absoluteDir().filePath(
        QLatin1Char('.') + target.fileName() + QStringLiteral(".XXXXXX")));
    if (!m_file->open())
        fail(m_path, m_file->errorString());
    m_buffer.reserve(kBufferBytes);
}

TExportFile::~TExportFile() = default;

QString TExportFile::temporaryPath() const {
    return m_file->fileName();
}

void TExportFile::fail(const QString& path, const QString& reason) {
    throw EOSError(QStringLiteral("Не удалось записать файл %1: %2")
                       .arg(QDir::toNativeSeparators(path), reason));
}

void TExportFile::write(const QByteArray& bytes) {
    write(bytes.constData(), bytes.size());
}

void TExportFile::write(const char* data, qsizetype size) {
    m_buffer.append(data, size);
    if (m_buffer.size() >= kBufferBytes)
        flushBuffer();
}

void TExportFile::flushBuffer() {
    if (m_buffer.isEmpty())
        return;
    if (m_file->write(m_buffer) != m_buffer.size())
        fail(m_path, m_file->errorString());
    m_buffer.clear();
}

void TExportFile::commit() {
    flushBuffer();
    if (!m_file->flush())
        fail(m_path, m_file->errorString());
    // A full disk may only show when the blocks are really written.
    if (::fsync(m_file->handle()) != 0)
        fail(m_path, systemError());
    // A temporary file is the owner's alone; the data file gets what any new file of the user
    // gets.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(m_file->handle(), 0666 & ~mask) != 0)
        fail(m_path, systemError());
    const QString temporary = m_file->fileName();
    // rename() replaces the directory entry itself, never the file a link there points to.
    if (std::rename(QFile::encodeName(temporary).constData(),
                    QFile::encodeName(m_path).constData()) != 0)
        fail(m_path, systemError());
    m_file->setAutoRemove(false);
    m_committed = true;
}
