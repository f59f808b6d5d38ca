#pragma once

#include <QString>

// The picture cache: 20 x 20 pictures under "./pic", one file per key (a
// participant's identifier). Keys come from the network: whatever they
// hold, the file stays inside "./pic". The folder is the user's alone
// (0700, files 0600).

// Path of key's cached picture (which may not exist).
QString avatarCachePath(const QString &key);
// File name (inside "./pic") used for key.
QString avatarFileName(const QString &key);
// The cache's folder, made when missing.
bool makeAvatarCacheDir();

// Removes the cached files; the folder stays.
void clearAvatarCache();
