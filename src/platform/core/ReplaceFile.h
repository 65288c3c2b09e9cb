#pragma once

#include <QByteArray>
#include <QString>

// Writes `bytes` as the new content of `path`: into a fresh file beside it, flushed to the disk,
// then renamed over the name. A link planted at `path` is replaced and its target left alone, and
// the old file stays whole until the new one is complete, so a full disk never leaves a cut file.
// The new file is created with mode 0666 less the process's umask, as any file a user saves.
// Returns the empty text on success, else the reason in Russian (SysErrorMessage); nothing of
// the attempt is left behind then. The folder must exist.
QString ReplaceFileContents(const QString& path, const QByteArray& bytes);
