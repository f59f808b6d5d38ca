#pragma once

#include "ui/mousestate.h"

#include <QString>
#include <QToolButton>

// A picture button: the widget takes the picture's size and, when made with
// the hover flag, shows the picture's "_hover" twin under the mouse.
class IconBtn : public MouseStateWidget<QToolButton>
{
    Q_OBJECT
public:
    IconBtn(QString picture, bool hover, QWidget *parent = nullptr);

    QString picture() const { return m_picture; }
    // The picture the next repaint draws.
    QString shownPicture() const;
    void setPicture(const QString &picture);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_picture;
};
