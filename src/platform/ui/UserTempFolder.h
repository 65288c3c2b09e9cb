#pragma once

#include <QString>

// The user's own temporary-files folder, with a trailing slash: $XDG_RUNTIME_DIR when the session
// has one, else /tmp/torvi-<uid>/, created private to the user. Files put there cannot be read or
// replaced by other users, which the shared /tmp itself does not promise. Throws EOSError when
// the folder cannot be had or belongs to someone else.
QString userTempFolder();
