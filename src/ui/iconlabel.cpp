#include "ui/iconlabel.h"

#include <QPainter>
#include <QPixmap>

IconLabel::IconLabel(QString picture, int width, int height) : IconLabel(nullptr, std::move(picture), width, height) {}

IconLabel::IconLabel(QWidget *parent, QString picture, int width, int height)
    : QLabel(parent), m_picture(std::move(picture)), m_width(width), m_height(height)
{
    // Sized now so layouts place it right before the first paint.
    setFixedSize(targetSize(QPixmap(m_picture)));
}

QSize IconLabel::targetSize(const QPixmap &pixmap) const
{
    if (m_width != 0 && m_height != 0)
        return QSize(m_width, m_height);
    return pixmap.size();
}

void IconLabel::paintEvent(QPaintEvent *)
{
    const QPixmap pixmap(m_picture);
    const QSize size = targetSize(pixmap);
    if (this->size() != size)
        setFixedSize(size);
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(QRect(QPoint(0, 0), size), pixmap);
}
