#include "ScreenshotFile.h"

#include "platform/core/Exceptions.h"
#include "platform/core/StagedFile.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <cerrno>
#include <sys/stat.h>

namespace {

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
            QStringLiteral("Не удалось создать папку «%1»: %2").arg(folder, SysErrorMessage(errno));
        return false;
    }
    return true;
}

} // namespace

QString saveExportFile(const QByteArray& bytes, const QString& folder, const QString& fileName,
                       QString* error) {
    error->clear();
    if (!makeFolder(folder, error))
        return {};
    const QString path = QDir(folder).filePath(fileName);
    try {
        writeWholeFile(path, bytes);
    } catch (const EOSError& e) {
        *error = e.message();
        return {};
    }
    return path;
}

QString saveScreenshot(const QImage& image, const QString& folder, const QString& fileName,
                       QString* error) {
    error->clear();
    QByteArray png;
    QBuffer buffer(&png);
    if (image.isNull()) {
        *error = QStringLiteral("Снимок «%1» пуст").arg(fileName);
        return {};
    }
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG")) {
        *error = QStringLiteral("Снимок «%1» не удалось преобразовать в PNG").arg(fileName);
        return {};
    }
    return saveExportFile(png, folder, fileName, error);
}
