#pragma once

#include <QSize>

// The size a picture of source (square pixels) is shown at in area: its own
// size where it fits, else scaled down in proportion to the largest size
// that fits, at least 1x1. An empty area leaves the picture as it is.
// Pictures are never enlarged: a desktop's text is sharpest 1:1.
QSize fittedPictureSize(const QSize &source, const QSize &area);
