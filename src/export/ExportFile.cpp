#include "export/ExportFile.h"

#include "platform/core/Exceptions.h"

#include <QDir>
#include <QFileInfo>

namespace {

constexpr qsizetype kBufferBytes = 1 << 16;

QString createdFolder(const QString& path) {
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        TExportFile::fail(
            path,
            QStringLiteral("не удалось создать папку %1").arg(QDir::toNativeSeparators(folder)));
    return path;
}

} // namespace

TExportFile::TExportFile(const QString& path)
    : m_file(createdFolder(path)) {
    m_buffer.reserve(kBufferBytes);
}

void TExportFile::fail(const QString& path, const QString& reason) {
    throw EOSError(QStringLiteral("Не удалось записать файл %1: %2")
                       .arg(QDir::toNativeSeparators(path), reason));
}

void TExportFile::write(const QByteArray& bytes) {
    m_buffer += bytes;
    if (m_buffer.size() >= kBufferBytes)
        flushBuffer();
}

void TExportFile::flushBuffer() {
    if (m_buffer.isEmpty())
        return;
    m_file.write(m_buffer);
    m_buffer.clear();
}

void TExportFile::commit() {
    flushBuffer();
    m_file.commit();
}
