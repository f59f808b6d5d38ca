#pragma once

#include "ui/mousestate.h"

#include <QColor>
#include <QString>
#include <QToolButton>

// Looks of a TextBtn; each colour triple is normal, hover, pressed.
struct TextBtnStyle
{
    int width = 80;
    int height = 35;
    QString text;
    int textSize = 12;
    int textWeight = 25;
    QString text2;
    int text2Size = 9;
    int text2Weight = 15;
    bool border = true;
    int lineWidth = 2;
    QColor textColors[3] = {QColor(31, 38, 56), QColor(229, 90, 78), QColor(229, 90, 78)};
    QColor text2Colors[3] = {QColor(31, 38, 56), QColor(229, 90, 78), QColor(229, 90, 78)};
    QColor lineColors[3] = {QColor(246, 246, 246), QColor(235, 133, 123), QColor(235, 133, 123)};
};

// A tab-like button: two texts side by side over a line along the bottom.
// Once pressed it stays pressed (a selected tab) and ignores the mouse.
class TextBtn : public MouseStateWidget<QToolButton>
{
    Q_OBJECT
public:
    TextBtn(QString text, QString text2, int textSize, int text2Size, int width, int height, QWidget *parent = nullptr);

    void setText2(QString text2);
    QString text2() const { return m_style.text2; }
    void setBorder(bool on);
    void setChecked(bool checked);

    const TextBtnStyle &style() const { return m_style; }
    // What its two texts need.
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    TextBtnStyle m_style;
};
