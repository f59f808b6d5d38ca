#pragma once

// Pictures named by the network (users' photos): fetched only over http and
// https (built-in ":/" pictures are read from the program), at most
// kMaxPictureBytes, decoded only when their announced size is sane, and an
// address that failed once is not asked again in the same run.

#include <QImage>
#include <QSize>
#include <QString>

class QByteArray;

namespace tavi {

// Larger pictures are refused before they are decoded.
constexpr int kMaxPictureSide = 4096;
// Shown wherever a picture cannot be had.
inline const char *const kFallbackPicture = ":/images/sys/man";

// A built-in picture of the program (":/...").
bool isBuiltInPicture(const QString &address);
// An http:// or https:// address with a host.
bool isFetchablePicture(const QString &address);

// Decodes a picture, refusing one whose size (read from its header) is
// unknown or over kMaxPictureSide on a side. With a valid fit the picture is
// scaled to fit it, keeping its aspect ratio, while it is read. Null when
// refused or broken.
QImage decodePicture(const QByteArray &data, const QSize &fit = QSize());
// The same for a built-in picture or a file of the program's own.
QImage readPictureFile(const QString &path, const QSize &fit = QSize());

// The run's memory of addresses whose picture could not be had.
void markPictureFailed(const QString &address);
bool pictureFailed(const QString &address);

} // namespace tavi
