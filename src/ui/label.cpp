#include "ui/label.h"

#include <QKeyEvent>
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
    : MouseStateWidget(parent), m_colour(colour), m_hoverColour(colour), m_clickable(clickable)
{
    setFollowsMouse(clickable);
    // A link is a button to the keyboard and to assistive tools.
    if (clickable)
        setFocusPolicy(Qt::TabFocus);
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
    // QLabel tells readers of the changed name ("● 直播中", "连接中断，正在重连…").
    QLabel::setText(text);
}

bool Label::shownUnderlined() const
{
    return mouseState() == MouseHover || mouseState() == MousePressed || mouseState() == MouseReleased;
}

QColor Label::shownColor() const
{
    return shownUnderlined() ? m_hoverColour : m_colour;
}

void Label::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    press();
}

void Label::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    emit s_clicked();
    setMouseState(MouseReleased);
}

void Label::click()
{
    if (m_clickable && isEnabled())
        emit s_clicked();
}

void Label::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    if (m_clickable && (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter)) {
        event->accept();
        click();
        return;
    }
    MouseStateWidget::keyPressEvent(event);
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
