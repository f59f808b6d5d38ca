#include "ui/iconlabel.h"

#include "ui/builtinpicture.h"

#include <QPainter>
#include <QPixmap>

IconLabel::IconLabel(QString picture, int width, int height) : IconLabel(nullptr, std::move(picture), width, height) {}

IconLabel::IconLabel(QWidget *parent, QString picture, int width, int height)
    : QLabel(parent), m_picture(std::move(picture)), m_width(width), m_height(height)
{
    // Sized now so layouts place it right before the first paint.
    setFixedSize(targetSize(builtinPictureSize(m_picture)));
}

QSize IconLabel::targetSize(const QSize &own) const
{
    if (m_width != 0 && m_height != 0)
        return QSize(m_width, m_height);
    return own;
}

void IconLabel::paintEvent(QPaintEvent *)
{
    const QSize size = targetSize(builtinPictureSize(m_picture));
    if (this->size() != size)
        setFixedSize(size);
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(QRect(QPoint(0, 0), size), builtinPicture(m_picture, devicePixelRatioF(), size));
}
