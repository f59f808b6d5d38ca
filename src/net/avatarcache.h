#pragma once

#include <QString>

// Local path of the 20 x 20 picture cached for key under "./pic", fetched
// from address on a miss. Gives ":/images/sys/man" when the picture cannot
// be had within timeoutMs. Keys come from the network: whatever they hold,
// the file stays inside "./pic".
QString avatarPath(QString address, QString key, int timeoutMs = 3000);

// File name (inside "./pic") used for key.
QString avatarFileName(const QString &key);

// Removes the cached files; the folder stays.
void clearAvatarCache();
