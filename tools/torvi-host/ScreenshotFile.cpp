#include "ScreenshotFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

// Creates the folder's missing parents the usual way and the folder itself with mkdir, so that
// "exists but is no folder" is told apart from "could not be created".
bool makeFolder(const QString& folder, QString* error) {
    const QByteArray encoded = QFile::encodeName(folder);
    struct stat info {};
    if (::stat(encoded.constData(), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            return true;
        *error = QStringLiteral("«%1» не является папкой").arg(folder);
        return false;
    }
    const QString parent = QFileInfo(QDir::cleanPath(folder)).path();
    if (!QDir().mkpath(parent)) {
        *error = QStringLiteral("Не удалось создать папку «%1»").arg(parent);
        return false;
    }
    if (::mkdir(encoded.constData(), 0755) != 0 && errno != EEXIST) {
        *error =
            QStringLiteral("Не удалось создать папку «%1»: %2").arg(folder, systemError(errno));
        return false;
    }
    return true;
}

} // namespace

QString saveScreenshot(const QImage& image, const QString& folder, const QString& fileName,
                       QString* error) {
    error->clear();
    if (image.isNull()) {
        *error = QStringLiteral("Снимок «%1» пуст").arg(fileName);
        return {};
    }
    if (!makeFolder(folder, error))
        return {};
    const QString path = QDir(folder).filePath(fileName);
    QTemporaryFile temporary(
        QDir(folder).filePath(QLatin1Char('.') + fileName + QStringLiteral(".XXXXXX")));
    if (!temporary.open()) {
        *error = QStringLiteral("Не удалось создать файл в папке «%1»: %2")
                     .arg(folder, temporary.errorString());
        return {};
    }
    if (!image.save(&temporary, "PNG") || !temporary.flush() || ::fsync(temporary.handle()) != 0) {
        *error = QStringLiteral("Не удалось записать снимок «%1»: %2")
                     .arg(path, temporary.errorString());
        return {};
    }
    // A temporary file is private to its owner; the picture is as readable as any exported file.
    temporary.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                             QFileDevice::ReadGroup | QFileDevice::ReadOther);
    temporary.close();
    if (std::rename(QFile::encodeName(temporary.fileName()).constData(),
                    QFile::encodeName(path).constData()) != 0) {
        *error =
            QStringLiteral("Не удалось сохранить снимок «%1»: %2").arg(path, systemError(errno));
        return {};
    }
    temporary.setAutoRemove(false);
    return path;
}
