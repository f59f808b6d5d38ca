#pragma once

// What the client writes about its user (logs, the picture cache, settings,
// the crash dump) is the user's alone: folders 0700, files 0600, whatever
// the umask. Recordings are not written through here: they follow the
// umask as any desktop program's documents do.

#include <QByteArray>
#include <QString>

namespace tavi {

// Makes the folder (and missing parents, each 0700). An existing folder of
// the user's own is narrowed to 0700; one that is a link is refused.
bool makePrivateDir(const QString &path);

// Makes sure path is a regular file of mode 0600 about to be written:
// creates it when missing, narrows an existing one; never follows a link
// (a link at path is refused).
bool preparePrivateFile(const QString &path);

// Writes data to path (0600) through a temporary file in the same folder,
// so the old content stays until the new one is whole.
bool writePrivateFile(const QString &path, const QByteArray &data);

} // namespace tavi
