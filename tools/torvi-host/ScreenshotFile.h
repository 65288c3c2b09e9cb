#pragma once

#include <QString>

class QImage;

// Writes `image` as the PNG file `fileName` in `folder` and returns its path; on failure returns
// an empty string and says why in `error`, in Russian. The folder is created (0755 less the umask)
// when missing. The picture goes to a new file under a temporary name that is then renamed over
// `fileName`: a reader never sees half a picture, and a link planted at that name is replaced
// rather than written through.
QString saveScreenshot(const QImage& image, const QString& folder, const QString& fileName,
                       QString* error);
