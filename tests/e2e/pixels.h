#pragma once

#include <QColor>
#include <QImage>
#include <QList>
#include <QRect>

#include <functional>

// What the test reads from screenshots: colours of areas, where pixels of
// a kind lie, and whether an area changed.
class Pixels
{
public:
    using Match = std::function<bool(QRgb)>;

    // Pixels whose channels each lie within tolerance of colour.
    static Match near(const QColor &colour, int tolerance);
    static QColor mean(const QImage &image, const QRect &area);
    // Largest difference of one channel.
    static int distance(const QColor &a, const QColor &b);
    static int count(const QImage &image, const QRect &area, const Match &match);
    // The smallest rectangle holding every matching pixel (null if none).
    static QRect bounds(const QImage &image, const QRect &area, const Match &match);
    // Bands of rows with a matching pixel, gaps of one row closed; only
    // bands of at least minHeight rows; each band as wide as its pixels.
    static QList<QRect> bands(const QImage &image, const QRect &area, const Match &match, int minHeight);
    // Mean absolute difference per channel between two equal-sized images.
    static double difference(const QImage &a, const QImage &b);
    // Pixels of after that match and differ from before (same size).
    static int changed(const QImage &before, const QImage &after, const Match &match, int fromX = 0);
    // Where the picture lies in area best (least difference), and how well.
    static QPoint find(const QImage &image, const QRect &area, const QImage &picture, double *score);
};
