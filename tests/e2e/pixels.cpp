#include "pixels.h"

#include <QtGlobal>

#include <cstdlib>
#include <limits>

Pixels::Match Pixels::near(const QColor &colour, int tolerance)
{
    const int r = colour.red();
    const int g = colour.green();
    const int b = colour.blue();
    return [=](QRgb p) {
        return std::abs(qRed(p) - r) <= tolerance && std::abs(qGreen(p) - g) <= tolerance &&
            std::abs(qBlue(p) - b) <= tolerance;
    };
}

QColor Pixels::mean(const QImage &image, const QRect &area)
{
    const QRect r = area & image.rect();
    if (r.isEmpty())
        return QColor();
    qint64 red = 0;
    qint64 green = 0;
    qint64 blue = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = r.left(); x <= r.right(); ++x) {
            red += qRed(line[x]);
            green += qGreen(line[x]);
            blue += qBlue(line[x]);
        }
    }
    const qint64 n = qint64(r.width()) * r.height();
    return QColor(int(red / n), int(green / n), int(blue / n));
}

int Pixels::distance(const QColor &a, const QColor &b)
{
    return qMax(std::abs(a.red() - b.red()), qMax(std::abs(a.green() - b.green()), std::abs(a.blue() - b.blue())));
}

int Pixels::count(const QImage &image, const QRect &area, const Match &match)
{
    const QRect r = area & image.rect();
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = r.left(); x <= r.right(); ++x)
            n += match(line[x]) ? 1 : 0;
    }
    return n;
}

QRect Pixels::bounds(const QImage &image, const QRect &area, const Match &match)
{
    const QRect r = area & image.rect();
    QRect found;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = r.left(); x <= r.right(); ++x) {
            if (match(line[x]))
                found |= QRect(x, y, 1, 1);
        }
    }
    return found;
}

QList<QRect> Pixels::bands(const QImage &image, const QRect &area, const Match &match, int minHeight)
{
    const QRect r = area & image.rect();
    QList<QRect> found;
    QRect band;
    int gap = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        const QRect row = bounds(image, QRect(r.left(), y, r.width(), 1), match);
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
    if (!band.isNull() && band.height() >= minHeight)
        found.append(band);
    return found;
}

double Pixels::difference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull())
        return std::numeric_limits<double>::max();
    qint64 sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        const QRgb *la = reinterpret_cast<const QRgb *>(a.constScanLine(y));
        const QRgb *lb = reinterpret_cast<const QRgb *>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x)
            sum += std::abs(qRed(la[x]) - qRed(lb[x])) + std::abs(qGreen(la[x]) - qGreen(lb[x])) +
                std::abs(qBlue(la[x]) - qBlue(lb[x]));
    }
    return double(sum) / (3.0 * a.width() * a.height());
}

int Pixels::changed(const QImage &before, const QImage &after, const Match &match, int fromX)
{
    if (before.size() != after.size())
        return 0;
    int n = 0;
    for (int y = 0; y < after.height(); ++y) {
        const QRgb *lb = reinterpret_cast<const QRgb *>(before.constScanLine(y));
        const QRgb *la = reinterpret_cast<const QRgb *>(after.constScanLine(y));
        for (int x = fromX; x < after.width(); ++x)
            n += (la[x] != lb[x] && match(la[x])) ? 1 : 0;
    }
    return n;
}

QPoint Pixels::find(const QImage &image, const QRect &area, const QImage &picture, double *score)
{
    QPoint best;
    double bestScore = std::numeric_limits<double>::max();
    const QRect r = area & image.rect();
    for (int y = r.top(); y + picture.height() <= r.bottom() + 1; ++y) {
        for (int x = r.left(); x + picture.width() <= r.right() + 1; ++x) {
            const double d = difference(image.copy(x, y, picture.width(), picture.height()), picture);
            if (d < bestScore) {
                bestScore = d;
                best = QPoint(x, y);
            }
        }
    }
    if (score)
        *score = bestScore;
    return best;
}
