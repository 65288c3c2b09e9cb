#include "platform/core/ReplaceFile.h"

#include "platform/core/Exceptions.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Opens a new temporary file beside `target`; -1 with errno set when none can be made.
int createTemporary(const QString& target, QByteArray* name) {
    const QFileInfo info(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = QFile::encodeName(info.path() + QStringLiteral("/.") + info.fileName() +
                                  QStringLiteral(".%1").arg(QRandomGenerator::global()->generate(),
                                                            8, 16, QLatin1Char('0')));
        const int fd =
            ::open(name->constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

bool writeAll(int fd, const QByteArray& bytes) {
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

} // namespace

QString ReplaceFileContents(const QString& path, const QByteArray& bytes) {
    QByteArray temporary;
    const int fd = createTemporary(path, &temporary);
    if (fd < 0)
        return SysErrorMessage(errno);
    // A file system may report a full disk only at the flush or at the close.
    bool ok = writeAll(fd, bytes) && ::fsync(fd) == 0;
    int error = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && std::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0) {
        ok = false;
        error = errno;
    }
    if (ok)
        return {};
    ::unlink(temporary.constData());
    return SysErrorMessage(error);
}
