#include "ui/commonbutton.h"

#include <QPainter>

namespace {
const QColor slate("#303e54");
const QColor red("#de3120");
} // namespace

CommonButton::CommonButton(QString text, QWidget *parent) : MouseStateWidget(parent)
{
    setText(text);
    // At least as wide as its text: a longer translation never clips.
    setFixedSize(qMax(98, sizeHint().width()), 38);
    setAutoFillBackground(true);
    applyStateColour();
}

void CommonButton::applyStateColour()
{
    if (m_selected)
        return;
    const int state = mouseState();
    const QColor colour = (state == MouseHover || state == MousePressed || state == MouseReleased) ? red : slate;
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
    showMouseState(MouseReleased);
    m_selected = true;
}

void CommonButton::setNormalState()
{
    m_selected = false;
    showMouseState(MouseNormal);
}

void CommonButton::clearSelected()
{
    m_selected = false;
    applyStateColour();
    update();
}

void CommonButton::mouseStateChanged()
{
    applyStateColour();
}

void CommonButton::mouseReleaseEvent(QMouseEvent *event)
{
    // Marked selected before the base handler emits clicked(), so the owner
    // sees a settled tab when it reacts.
    showMouseState(MouseReleased);
    m_selected = true;
    QToolButton::mouseReleaseEvent(event);
}

QFont CommonButton::tabFont()
{
    QFont font("Microsoft YaHei");
    font.setPointSize(11);
    font.setWeight(88);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 4.0);
    return font;
}

QSize CommonButton::sizeHint() const
{
    const QFontMetrics fm(tabFont());
    return QSize(fm.horizontalAdvance(text()) + 16, fm.height());
}

void CommonButton::paintEvent(QPaintEvent *)
{
    applyStateColour();
    QPainter painter(this);
    painter.fillRect(rect(), backgroundColor());
    painter.setFont(tabFont());
    painter.setPen(QColor("#f5f6f7"));
    painter.drawText(rect(), Qt::AlignCenter, text());
}
