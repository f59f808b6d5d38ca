#include "ui/colorbtn.h"

#include <QFontMetrics>
#include <QPainter>

ColorBtn::ColorBtn(const ColorBtnStyle &style, QWidget *parent) : QToolButton(parent), m_style(style)
{
    setText(m_style.text);
    setFixedSize(m_style.width, m_style.height);
}

ColorBtn::ColorBtn(QString text, int pixelSize, int width, int height, QWidget *parent) : QToolButton(parent)
{
    m_style.text = std::move(text);
    m_style.pixelSize = pixelSize;
    m_style.width = width;
    m_style.height = height;
    setText(m_style.text);
    setFixedSize(width, height);
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

int ColorBtn::colourSet() const
{
    if (m_state == 1)
        return 1;
    if (m_state == 2)
        return 2;
    return 0;
}

void ColorBtn::setMouseState(int state)
{
    if (m_locked)
        return;
    m_state = state;
    update();
}

void ColorBtn::enterEvent(QEvent *event)
{
    QToolButton::enterEvent(event);
    setMouseState(1);
}

void ColorBtn::leaveEvent(QEvent *event)
{
    QToolButton::leaveEvent(event);
    setMouseState(3);
}

void ColorBtn::mousePressEvent(QMouseEvent *event)
{
    QToolButton::mousePressEvent(event);
    m_state = 2;
    m_locked = true;
    update();
}

void ColorBtn::mouseReleaseEvent(QMouseEvent *event)
{
    QToolButton::mouseReleaseEvent(event);
    setMouseState(4);
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

    QFont font("Microsoft YaHei");
    font.setPixelSize(m_style.pixelSize);
    font.setWeight(m_style.weight);
    painter.setFont(font);
    const QFontMetrics fm(font);
    const int x = (width() - fm.horizontalAdvance(m_style.text)) / 2;
    const int y = (height() - fm.ascent() - fm.descent()) / 2 + fm.ascent();
    painter.setPen(m_style.textColors[set]);
    painter.drawText(x, y, m_style.text);
}
