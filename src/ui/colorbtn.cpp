#include "ui/colorbtn.h"

#include <QFontMetrics>
#include <QPainter>

namespace {
QFont buttonFont(const ColorBtnStyle &style)
{
    QFont font("Microsoft YaHei");
    font.setPixelSize(style.pixelSize);
    font.setWeight(style.weight);
    return font;
}
} // namespace

ColorBtn::ColorBtn(const ColorBtnStyle &style, QWidget *parent) : MouseStateWidget(parent), m_style(style)
{
    setLocksOnPress(true);
    setText(m_style.text);
    // At least as wide as its text: a longer translation never clips.
    setFixedSize(qMax(m_style.width, sizeHint().width()), m_style.height);
}

ColorBtn::ColorBtn(QString text, int pixelSize, int width, int height, QWidget *parent) : MouseStateWidget(parent)
{
    setLocksOnPress(true);
    m_style.text = std::move(text);
    m_style.pixelSize = pixelSize;
    m_style.width = width;
    m_style.height = height;
    setText(m_style.text);
    setFixedSize(qMax(width, sizeHint().width()), height);
}

QSize ColorBtn::sizeHint() const
{
    const QFontMetrics fm(buttonFont(m_style));
    return QSize(fm.horizontalAdvance(m_style.text) + 12, fm.height());
}

void ColorBtn::setFlag(int flag)
{
    m_style.flag = flag;
    update();
}

void ColorBtn::setTextColors(QColor normal, QColor hover, QColor pressed)
{
    m_style.textColors[0] = normal;
    m_style.textColors[1] = hover;
    m_style.textColors[2] = pressed;
    update();
}

void ColorBtn::setBgColors(QColor normal, QColor hover, QColor pressed)
{
    m_style.bgColors[0] = normal;
    m_style.bgColors[1] = hover;
    m_style.bgColors[2] = pressed;
    update();
}

void ColorBtn::paintEvent(QPaintEvent *)
{
    const int set = colourSet();
    const QColor bg = m_style.bgColors[set];
    QPainter painter(this);
    painter.setPen(bg);
    if (m_style.flag == 0) {
        painter.setBrush(bg);
        painter.drawRect(-1, -1, width(), height() + 1);
    } else {
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(0, 0, width() - 3, height() - 1);
    }

    const QFont font = buttonFont(m_style);
    painter.setFont(font);
    const QFontMetrics fm(font);
    const int x = (width() - fm.horizontalAdvance(m_style.text)) / 2;
    const int y = (height() - fm.ascent() - fm.descent()) / 2 + fm.ascent();
    painter.setPen(m_style.textColors[set]);
    painter.drawText(x, y, m_style.text);
}
