#include "platform/ui/UserTempFolder.h"

#include "platform/core/Exceptions.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

QString userTempFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(runtime).exists())
        return QDir(runtime).absolutePath() + QLatin1Char('/');

    const QString folder = QStringLiteral("/tmp/torvi-%1").arg(::getuid());
    const QByteArray native = QFile::encodeName(folder);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        throw EOSError(QStringLiteral("Не удалось создать временную папку %1: %2")
                           .arg(folder, SysErrorMessage(errno)));
    // Someone else may have made the name first, or planted a link under it.
    struct stat info {};
    if (::lstat(native.constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::getuid())
        throw EOSError(
            QStringLiteral("Временная папка %1 принадлежит другому пользователю или не является "
                           "папкой")
                .arg(folder));
    if ((info.st_mode & 077) != 0 && ::chmod(native.constData(), 0700) != 0)
        throw EOSError(QStringLiteral("Не удалось закрыть временную папку %1 от других "
                                      "пользователей")
                           .arg(folder));
    return folder + QLatin1Char('/');
}
