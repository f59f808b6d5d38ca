#pragma once

#include <QPixmap>
#include <QSize>
#include <QString>

// Built-in pictures (":/images/sys/NAME") drawn for the screen's device pixel
// ratio from their SVG sources (":/images/sys/svg/NAME"), so that they stay
// sharp at 150 % and 200 %. Any other picture is loaded as it is.

// The picture at size (its own size when empty), in device-independent
// pixels, for a device pixel ratio.
QPixmap builtinPicture(const QString &path, qreal ratio, QSize size = QSize());
// Its own size in device-independent pixels.
QSize builtinPictureSize(const QString &path);
