#pragma once

#include "ui/mousestate.h"

#include <QColor>
#include <QString>
#include <QToolButton>

// Looks of a ColorBtn; each colour triple is normal, hover, pressed.
struct ColorBtnStyle
{
    int width = 80;
    int height = 35;
    int flag = 0; // non-zero: outline only, no fill
    QString text = "123";
    int pixelSize = 12;
    int weight = 25;
    QColor textColors[3] = {QColor(255, 255, 255), QColor(255, 255, 255), QColor(255, 255, 255)};
    QColor bgColors[3] = {QColor(251, 174, 67), QColor(251, 174, 67), QColor(251, 174, 67)};
};

// A filled (or outlined) button with centred text. Once pressed it stays
// pressed and ignores the mouse.
class ColorBtn : public MouseStateWidget<QToolButton>
{
    Q_OBJECT
public:
    explicit ColorBtn(const ColorBtnStyle &style, QWidget *parent = nullptr);
    ColorBtn(QString text, int pixelSize, int width, int height, QWidget *parent = nullptr);

    void setFlag(int flag);
    void setTextColors(QColor normal, QColor hover, QColor pressed);
    void setBgColors(QColor normal, QColor hover, QColor pressed);

    const ColorBtnStyle &style() const { return m_style; }

    // What its text needs.
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    ColorBtnStyle m_style;
};
