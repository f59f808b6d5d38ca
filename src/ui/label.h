#pragma once

#include "ui/mousestate.h"

#include <QColor>
#include <QLabel>
#include <QString>

// A text that works as a link: underlined in its hover colour under the
// mouse when clickable, and s_clicked() on every release.
class Label : public MouseStateWidget<QLabel>
{
    Q_OBJECT
public:
    Label(QString text, QColor colour, bool clickable, QWidget *parent = nullptr);

    void setHoverColor(QColor colour);
    bool isClickable() const { return m_clickable; }
    // What a click does, for the keyboard and for assistive tools.
    void click();
    void setText(QString text);

    // The pen colour and underline the next repaint uses.
    QColor shownColor() const;
    bool shownUnderlined() const;

signals:
    void s_clicked();

protected:
    // Accepted here, not passed to QLabel: a press on the link never starts
    // a drag of the window beneath it.
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_colour;
    QColor m_hoverColour;
    bool m_clickable;
};
