#include "ui/levelmeter.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {
constexpr int kSegments = 8;
}

LevelMeter::LevelMeter(QWidget *parent) : QWidget(parent)
{
    setFixedSize(sizeHint());
    setAttribute(Qt::WA_TranslucentBackground);
}

void LevelMeter::setLevel(float level)
{
    level = std::clamp(level, 0.0f, 1.0f);
    // Only a segment's change is worth a repaint.
    const bool changed = std::lround(level * kSegments) != std::lround(m_level * kSegments);
    m_level = level;
    if (changed)
        update();
}

void LevelMeter::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const int lit = int(std::lround(m_level * kSegments));
    const qreal gap = 2;
    const qreal segment = (width() - gap * (kSegments - 1)) / kSegments;
    for (int i = 0; i < kSegments; ++i) {
        QColor colour(QStringLiteral("#4a5163"));
        if (i < lit)
            colour = i >= kSegments - 1
                ? QColor(QStringLiteral("#e8625a"))
                : (i >= kSegments - 3 ? QColor(QStringLiteral("#f2c14e")) : QColor(QStringLiteral("#4cc27a")));
        painter.fillRect(QRectF(i * (segment + gap), 0, segment, height()), colour);
    }
}
