#pragma once

#include <QByteArray>
#include <QString>

class QImage;

// Writes `bytes` as the file `fileName` in `folder` and returns its path; on failure returns an
// empty string and says why in `error`, in Russian. The folder is created (0755 less the umask)
// when missing. The content goes to a new file under a temporary name that is then renamed over
// `fileName`: a reader never sees half a file, a full disk leaves the old one as it was, and a
// link planted at that name is replaced rather than written through.
QString saveExportFile(const QByteArray& bytes, const QString& folder, const QString& fileName,
                       QString* error);

// saveExportFile for `image` as a PNG picture.
QString saveScreenshot(const QImage& image, const QString& folder, const QString& fileName,
                       QString* error);
