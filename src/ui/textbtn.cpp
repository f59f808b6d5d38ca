#include "ui/textbtn.h"

#include <QFontMetrics>
#include <QPainter>

namespace {
QFont textFont(int pixelSize, int weight)
{
    QFont font("Microsoft YaHei");
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0);
    return font;
}
} // namespace

TextBtn::TextBtn(QString text, QString text2, int textSize, int text2Size, int width, int height, QWidget *parent)
    : MouseStateWidget(parent)
{
    setLocksOnPress(true);
    m_style.text = std::move(text);
    m_style.text2 = std::move(text2);
    m_style.textSize = textSize;
    m_style.text2Size = text2Size;
    m_style.width = width;
    m_style.height = height;
    setText(m_style.text);
    // At least as wide as its texts: a longer translation never clips.
    setFixedSize(qMax(width, sizeHint().width()), height);
}

QSize TextBtn::sizeHint() const
{
    const QFontMetrics fm1(textFont(m_style.textSize, m_style.textWeight));
    const QFontMetrics fm2(textFont(m_style.text2Size, m_style.text2Weight));
    // The texts start 10 px in, 2 px apart; 10 px after them.
    return QSize(10 + fm1.horizontalAdvance(m_style.text) + 2 + fm2.horizontalAdvance(m_style.text2) + 10,
                 qMax(fm1.height(), fm2.height()));
}

void TextBtn::setText2(QString text2)
{
    m_style.text2 = std::move(text2);
    update();
}

void TextBtn::setBorder(bool on)
{
    m_style.border = on;
    update();
}

void TextBtn::setChecked(bool checked)
{
    showMouseState(checked ? MousePressed : MouseNormal);
}

void TextBtn::paintEvent(QPaintEvent *)
{
    const int set = colourSet();
    const int h = height();
    QPainter painter(this);

    const QFont font1 = textFont(m_style.textSize, m_style.textWeight);
    const QFontMetrics fm1(font1);
    const int w1 = fm1.horizontalAdvance(m_style.text);
    painter.setFont(font1);
    painter.setPen(m_style.textColors[set]);
    painter.drawText(QRect(10, (h - fm1.ascent() - fm1.descent()) / 2, w1 + 2, (h + fm1.ascent() + fm1.descent()) / 2),
                     Qt::AlignHCenter | Qt::AlignTop, m_style.text);

    const QFont font2 = textFont(m_style.text2Size, m_style.text2Weight);
    const QFontMetrics fm2(font2);
    const int w2 = fm2.horizontalAdvance(m_style.text2);
    painter.setFont(font2);
    painter.setPen(m_style.text2Colors[set]);
    painter.drawText(
        QRect(10 + w1 + 2, (h - fm2.ascent() - fm2.descent()) / 2, w2, (h + fm2.ascent() + fm2.descent()) / 2),
        Qt::AlignHCenter | Qt::AlignTop, m_style.text2);

    if (m_style.border) {
        painter.setPen(QPen(m_style.lineColors[set], m_style.lineWidth));
        painter.drawLine(-1, h - 1, width() + 8, h - 1);
    }
}
