#include "ui/pixbutton.h"

#include "ui/builtinpicture.h"

#include <QMouseEvent>
#include <QPixmap>

pixButton::pixButton(QString picture, QWidget *parent) : MouseStateWidget(parent)
{
    const QSize size = builtinPictureSize(picture);
    setIcon(QIcon(builtinPicture(picture, devicePixelRatioF())));
    setIconSize(size);
    setFixedSize(size);
    setFlat(true);
    setAutoFillBackground(true);
    mouseStateChanged();
}

void pixButton::mouseStateChanged()
{
    int alpha = 0;
    if (mouseState() == MousePressed)
        alpha = 150;
    else if (mouseState() == MouseHover || mouseState() == MouseReleased)
        alpha = 120;
    QPalette pal = palette();
    pal.setColor(QPalette::Button, QColor(255, 255, 255, alpha));
    setPalette(pal);
}

void pixButton::mousePressEvent(QMouseEvent *event)
{
    press();
    event->accept();
    emit clicked(false);
}
