#include "ui/iconbtn.h"

#include <QFile>
#include <QPainter>
#include <QPixmap>

IconBtn::IconBtn(QString picture, bool hover, QWidget *parent)
    : QToolButton(parent), m_picture(std::move(picture)), m_hover(hover)
{
    setAutoRaise(true);
    setFixedSize(QPixmap(m_picture).size());
}

void IconBtn::setPicture(const QString &picture)
{
    m_picture = picture;
    update();
}

QString IconBtn::shownPicture() const
{
    if (m_state == 1 || m_state == 2) {
        const QString hover = m_picture + "_hover";
        // A picture without a hover twin keeps showing itself.
        if (QFile::exists(hover))
            return hover;
    }
    return m_picture;
}

void IconBtn::setMouseState(int state)
{
    if (!m_hover)
        return;
    m_state = state;
    update();
}

void IconBtn::enterEvent(QEvent *event)
{
    QToolButton::enterEvent(event);
    setMouseState(1);
}

void IconBtn::mousePressEvent(QMouseEvent *event)
{
    QToolButton::mousePressEvent(event);
    setMouseState(2);
}

void IconBtn::leaveEvent(QEvent *event)
{
    QToolButton::leaveEvent(event);
    setMouseState(3);
}

void IconBtn::mouseReleaseEvent(QMouseEvent *event)
{
    QToolButton::mouseReleaseEvent(event);
    setMouseState(4);
}

void IconBtn::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(rect(), QPixmap(shownPicture()));
}
