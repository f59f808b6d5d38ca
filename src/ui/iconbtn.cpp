#include "ui/iconbtn.h"

#include "ui/builtinpicture.h"

#include <QFile>
#include <QPainter>
#include <QPixmap>

IconBtn::IconBtn(QString picture, bool hover, QWidget *parent) : MouseStateWidget(parent), m_picture(std::move(picture))
{
    setFollowsMouse(hover);
    setAutoRaise(true);
    setFixedSize(builtinPictureSize(m_picture));
}

void IconBtn::setPicture(const QString &picture)
{
    if (picture == m_picture)
        return;
    m_picture = picture;
    update();
}

QString IconBtn::shownPicture() const
{
    if (mouseState() == MouseHover || mouseState() == MousePressed) {
        const QString hover = m_picture + "_hover";
        // A picture without a hover twin keeps showing itself.
        if (QFile::exists(hover))
            return hover;
    }
    return m_picture;
}

void IconBtn::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(rect(), builtinPicture(shownPicture(), devicePixelRatioF(), size()));
}
