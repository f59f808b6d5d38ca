#pragma once

// A millisecond counter drawn as squares, and read back from a picture of it.
// Row 0 holds the 24 bits of the counter (most significant first), row 1
// their complement, so a picture caught between two paints or blurred by the
// encoder is recognised and skipped instead of read as a wrong time.

#include <QColor>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <optional>

namespace timecode {

constexpr int kBits = 24;
constexpr int kSquare = 20;
constexpr uint32_t kMask = (1u << kBits) - 1;

inline QSize size()
{
    return {kBits * kSquare, 2 * kSquare};
}

// Centre of square `bit` in row `row`, relative to the code's top-left.
inline QPoint centre(int bit, int row)
{
    return {bit * kSquare + kSquare / 2, row * kSquare + kSquare / 2};
}

inline bool lit(int bit, int row, uint32_t value)
{
    const bool one = (value >> (kBits - 1 - bit)) & 1u;
    return row == 0 ? one : !one;
}

// luminance(x, y) gives 0..255 at a point of the code, relative to its corner.
template<typename Luma> std::optional<uint32_t> read(Luma luminance)
{
    uint32_t value = 0;
    for (int bit = 0; bit < kBits; ++bit) {
        const QPoint a = centre(bit, 0), b = centre(bit, 1);
        const bool one = luminance(a.x(), a.y()) >= 128;
        const bool other = luminance(b.x(), b.y()) >= 128;
        if (one == other)
            return std::nullopt;
        value = (value << 1) | (one ? 1u : 0u);
    }
    return value;
}

inline std::optional<uint32_t> read(const QImage &picture, QPoint corner)
{
    if (!QRect(QPoint(0, 0), picture.size()).contains(QRect(corner, size())))
        return std::nullopt;
    return read([&](int x, int y) { return qGray(picture.pixel(corner.x() + x, corner.y() + y)); });
}

// Milliseconds from `sent` to `now` on the 24-bit counter.
inline int64_t elapsed(uint32_t sent, uint32_t now)
{
    return int64_t((now - sent) & kMask);
}

// The window on the teacher's desktop: redrawn at 50 Hz with the clock's
// milliseconds at the moment of painting.
class Window : public QWidget
{
public:
    Window(const QElapsedTimer &clock, QPoint corner) : m_clock(clock)
    {
        setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        setAttribute(Qt::WA_OpaquePaintEvent);
        setGeometry(QRect(corner, size()));
        connect(&m_timer, &QTimer::timeout, this, [this] { repaint(); });
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.start(20);
        show();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        const uint32_t value = uint32_t(m_clock.elapsed()) & kMask;
        QPainter painter(this);
        for (int row = 0; row < 2; ++row)
            for (int bit = 0; bit < kBits; ++bit)
                painter.fillRect(bit * kSquare, row * kSquare, kSquare, kSquare,
                                 lit(bit, row, value) ? Qt::white : Qt::black);
    }

private:
    const QElapsedTimer &m_clock;
    QTimer m_timer;
};

} // namespace timecode
