#pragma once

#include <QByteArray>
#include <QColor>

// A user's picture drawn on the spot: a head and shoulders on a round
// background of the given colour, as PNG bytes.
QByteArray drawUserPicture(const QColor &background, int size = 96);
