#include "ui/label.h"

#include <QMouseEvent>
#include <QPainter>

namespace {
QFont labelFont()
{
    QFont font("Microsoft YaHei");
    font.setPointSize(8);
    font.setWeight(11);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0);
    return font;
}
} // namespace

Label::Label(QString text, QColor colour, bool clickable, QWidget *parent)
    : QLabel(parent), m_colour(colour), m_hoverColour(colour), m_clickable(clickable)
{
    // The label's own font is the painted one, so its size hint fits the text.
    setFont(labelFont());
    setTextFormat(Qt::PlainText);
    setText(std::move(text));
}

void Label::setHoverColor(QColor colour)
{
    m_hoverColour = colour;
    update();
}

void Label::setText(QString text)
{
    // Kept in QLabel's own field, so a call through a QLabel pointer paints too.
    QLabel::setText(text);
}

bool Label::shownUnderlined() const
{
    return m_state == 1 || m_state == 2 || m_state == 4;
}

QColor Label::shownColor() const
{
    return shownUnderlined() ? m_hoverColour : m_colour;
}

void Label::setMouseState(int state)
{
    if (!m_clickable)
        return;
    m_state = state;
    update();
}

void Label::enterEvent(QEvent *)
{
    setMouseState(1);
}

void Label::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    setMouseState(2);
}

void Label::leaveEvent(QEvent *)
{
    setMouseState(3);
}

void Label::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    emit s_clicked();
    setMouseState(4);
}

void Label::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QFont font = labelFont();
    font.setUnderline(shownUnderlined());
    painter.setFont(font);
    painter.setPen(shownColor());
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, text());
}
