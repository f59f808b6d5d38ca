#include "ui/commonbutton.h"

#include <QPainter>

namespace {
const QColor slate("#303e54");
const QColor red("#de3120");
} // namespace

CommonButton::CommonButton(QString text, QWidget *parent) : QToolButton(parent)
{
    setText(text);
    setFixedSize(98, 38);
    setAutoFillBackground(true);
    applyStateColour();
}

void CommonButton::applyStateColour()
{
    if (m_selected)
        return;
    const QColor colour = (m_state == 1 || m_state == 2 || m_state == 4) ? red : slate;
    if (palette().color(QPalette::Button) == colour)
        return;
    QPalette pal = palette();
    pal.setColor(QPalette::Button, colour);
    pal.setColor(QPalette::Window, colour);
    setPalette(pal);
}

QColor CommonButton::backgroundColor() const
{
    return palette().color(QPalette::Button);
}

void CommonButton::setSelectedState()
{
    m_selected = false;
    m_state = 4;
    applyStateColour();
    m_selected = true;
    update();
}

void CommonButton::setNormalState()
{
    m_selected = false;
    m_state = 0;
    applyStateColour();
    update();
}

void CommonButton::clearSelected()
{
    m_selected = false;
    applyStateColour();
    update();
}

void CommonButton::setMouseState(int state)
{
    m_state = state;
    applyStateColour();
    update();
}

void CommonButton::enterEvent(QEvent *event)
{
    QToolButton::enterEvent(event);
    setMouseState(1);
}

void CommonButton::mousePressEvent(QMouseEvent *event)
{
    QToolButton::mousePressEvent(event);
    setMouseState(2);
}

void CommonButton::leaveEvent(QEvent *event)
{
    QToolButton::leaveEvent(event);
    setMouseState(3);
}

void CommonButton::mouseReleaseEvent(QMouseEvent *event)
{
    // Marked selected before the base handler emits clicked(), so the owner
    // sees a settled tab when it reacts.
    m_state = 4;
    applyStateColour();
    m_selected = true;
    QToolButton::mouseReleaseEvent(event);
    update();
}

void CommonButton::paintEvent(QPaintEvent *)
{
    applyStateColour();
    QPainter painter(this);
    painter.fillRect(rect(), backgroundColor());
    QFont font("Microsoft YaHei");
    font.setPointSize(11);
    font.setWeight(88);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 4.0);
    painter.setFont(font);
    painter.setPen(QColor("#f5f6f7"));
    painter.drawText(rect(), Qt::AlignCenter, text());
}
