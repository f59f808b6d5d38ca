#pragma once

#include <QColor>
#include <QImage>
#include <QList>
#include <QRect>

#include <cstdlib>
#include <functional>
#include <limits>

// What the test reads from screenshots: colours of areas, where pixels of a kind lie, and whether an area changed.
namespace Pixels {

using Match = std::function<bool(QRgb)>;

// Calls f(x, y, pixel) for every pixel of area within the image.
template<class F> void each(const QImage &image, const QRect &area, F f)
{
    const QRect r = area & image.rect();
    for (int y = r.top(); y <= r.bottom(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = r.left(); x <= r.right(); ++x)
            f(x, y, line[x]);
    }
}

// Pixels whose channels each lie within tolerance of colour.
inline Match near(const QColor &c, int tolerance)
{
    return [=](QRgb p) {
        return std::abs(qRed(p) - c.red()) <= tolerance && std::abs(qGreen(p) - c.green()) <= tolerance &&
            std::abs(qBlue(p) - c.blue()) <= tolerance;
    };
}

inline QColor mean(const QImage &image, const QRect &area)
{
    const qint64 n = qint64((area & image.rect()).width()) * (area & image.rect()).height();
    qint64 red = 0, green = 0, blue = 0;
    each(image, area, [&](int, int, QRgb p) { red += qRed(p), green += qGreen(p), blue += qBlue(p); });
    return n ? QColor(int(red / n), int(green / n), int(blue / n)) : QColor();
}

// Largest difference of one channel.
inline int distance(const QColor &a, const QColor &b)
{
    return qMax(std::abs(a.red() - b.red()), qMax(std::abs(a.green() - b.green()), std::abs(a.blue() - b.blue())));
}

inline int count(const QImage &image, const QRect &area, const Match &match)
{
    int n = 0;
    each(image, area, [&](int, int, QRgb p) { n += match(p) ? 1 : 0; });
    return n;
}

// The smallest rectangle holding every matching pixel (null if none).
inline QRect bounds(const QImage &image, const QRect &area, const Match &match)
{
    QRect found;
    each(image, area, [&](int x, int y, QRgb p) {
        if (match(p))
            found |= QRect(x, y, 1, 1);
    });
    return found;
}

// Bands of rows with a matching pixel, gaps of one row closed; only bands
// of at least minHeight rows; each band as wide as its pixels.
inline QList<QRect> bands(const QImage &image, const QRect &area, const Match &match, int minHeight)
{
    const QRect r = area & image.rect();
    QList<QRect> found;
    QRect band;
    int gap = 0;
    for (int y = r.top(); y <= r.bottom() + 2; ++y) {
        const QRect row = y <= r.bottom() ? bounds(image, QRect(r.left(), y, r.width(), 1), match) : QRect();
        if (!row.isNull()) {
            band |= row;
            gap = 0;
        } else if (!band.isNull() && ++gap > 1) {
            if (band.height() >= minHeight)
                found.append(band);
            band = QRect();
            gap = 0;
        }
    }
    return found;
}

// Mean absolute difference per channel between two equal-sized images.
inline double difference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull())
        return std::numeric_limits<double>::max();
    qint64 sum = 0;
    each(a, a.rect(), [&](int x, int y, QRgb p) {
        const QRgb q = b.pixel(x, y);
        sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
    });
    return double(sum) / (3.0 * a.width() * a.height());
}

// Pixels of after that match and differ from before (same size).
inline int changed(const QImage &before, const QImage &after, const Match &match, int fromX = 0)
{
    int n = 0;
    if (before.size() == after.size())
        each(after, after.rect().adjusted(fromX, 0, 0, 0),
             [&](int x, int y, QRgb p) { n += p != before.pixel(x, y) && match(p) ? 1 : 0; });
    return n;
}

// Where the picture lies in area best (least difference), and how well.
inline QPoint find(const QImage &image, const QRect &area, const QImage &picture, double *score)
{
    QPoint best;
    *score = std::numeric_limits<double>::max();
    const QRect r = area & image.rect();
    for (int y = r.top(); y + picture.height() <= r.bottom() + 1; ++y)
        for (int x = r.left(); x + picture.width() <= r.right() + 1; ++x) {
            const double d = difference(image.copy(x, y, picture.width(), picture.height()), picture);
            if (d < *score)
                *score = d, best = QPoint(x, y);
        }
    return best;
}

} // namespace Pixels
