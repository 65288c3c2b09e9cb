#include "platform/core/StagedFile.h"

#include "platform/core/Exceptions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

[[noreturn]] void failWrite(const QString& path, int osError) {
    throw EOSError(QStringLiteral("Не удалось записать файл %1: %2")
                       .arg(QDir::toNativeSeparators(path), SysErrorMessage(osError)));
}

bool writeAll(int fd, const char* data, qsizetype size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

} // namespace

StagedFile::StagedFile(const QString& path)
    : m_path(QFileInfo(path).absoluteFilePath()) {
    const QFileInfo info(m_path);
    struct stat existing {};
    // A folder at the name would refuse the rename only after everything has been written.
    if (::lstat(QFile::encodeName(m_path).constData(), &existing) == 0 && S_ISDIR(existing.st_mode))
        fail(EISDIR);
    // Hidden beside the file, so that the rename stays on one file system; the name is cut so that
    // the suffixes cannot push it past the file name limit.
    const QString stem =
        QDir(info.absolutePath()).filePath(QLatin1Char('.') + info.fileName().left(200));
    for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
        m_temporary = QStringLiteral("%1.%2.tmp")
                          .arg(stem, QString::number(QRandomGenerator::global()->generate(), 36));
        m_fd = ::open(QFile::encodeName(m_temporary).constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (m_fd < 0 && errno != EEXIST)
            fail(errno);
    }
    if (m_fd < 0)
        fail(EEXIST);
}

StagedFile::~StagedFile() {
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_committed)
        ::unlink(QFile::encodeName(m_temporary).constData());
}

void StagedFile::fail(int osError) const {
    failWrite(m_path, osError);
}

void StagedFile::write(const QByteArray& bytes) {
    if (!writeAll(m_fd, bytes.constData(), bytes.size()))
        fail(errno);
}

void StagedFile::commit() {
    if (::fsync(m_fd) != 0)
        fail(errno);
    if (::close(std::exchange(m_fd, -1)) != 0)
        fail(errno);
    if (::rename(QFile::encodeName(m_temporary).constData(),
                 QFile::encodeName(m_path).constData()) != 0)
        fail(errno);
    m_committed = true;
    // The new name must outlast a power cut as well as the content.
    const int folder = ::open(QFile::encodeName(QFileInfo(m_path).absolutePath()).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}

void StagedFile::failIncomplete() {
    // Whatever cut the writer short stops this too: the disk is full or the file at its limit.
    const QByteArray probe(64 * 1024, '\0');
    if (::lseek(m_fd, 0, SEEK_END) < 0 || !writeAll(m_fd, probe.constData(), probe.size()))
        fail(errno);
    throw EOSError(QStringLiteral("Не удалось записать файл %1: запись прервана, файл неполон")
                       .arg(QDir::toNativeSeparators(m_path)));
}

void writeWholeFile(const QString& path, const QByteArray& bytes) {
    StagedFile file(path);
    file.write(bytes);
    file.commit();
}

void moveWholeFile(const QString& from, const QString& to) {
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return;
    if (errno != EXDEV)
        failWrite(to, errno);
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly))
        failWrite(to, EIO);
    writeWholeFile(to, source.readAll());
    source.close();
    QFile::remove(from);
}
