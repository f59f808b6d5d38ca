#include "ui/pixbutton.h"

#include <QMouseEvent>
#include <QPixmap>

pixButton::pixButton(QString picture, QWidget *parent) : QPushButton(parent)
{
    const QPixmap pixmap(picture);
    setIcon(QIcon(pixmap));
    setIconSize(pixmap.size());
    setFixedSize(pixmap.size());
    setFlat(true);
    setAutoFillBackground(true);
    setBackgroundAlpha(0);
}

int pixButton::backgroundAlpha() const
{
    return palette().color(QPalette::Active, QPalette::Button).alpha();
}

void pixButton::setBackgroundAlpha(int alpha)
{
    QPalette pal = palette();
    pal.setColor(QPalette::Button, QColor(255, 255, 255, alpha));
    setPalette(pal);
}

void pixButton::enterEvent(QEvent *event)
{
    QPushButton::enterEvent(event);
    setBackgroundAlpha(120);
}

void pixButton::leaveEvent(QEvent *event)
{
    QPushButton::leaveEvent(event);
    setBackgroundAlpha(0);
}

void pixButton::mousePressEvent(QMouseEvent *event)
{
    setBackgroundAlpha(150);
    event->accept();
    emit clicked(false);
}

void pixButton::mouseReleaseEvent(QMouseEvent *event)
{
    QPushButton::mouseReleaseEvent(event);
    setBackgroundAlpha(120);
}
