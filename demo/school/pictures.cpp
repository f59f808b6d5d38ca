#include "pictures.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

QByteArray drawUserPicture(const QColor &background, int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(background);
        painter.drawEllipse(QRectF(0, 0, size, size));

        QPainterPath clip;
        clip.addEllipse(QRectF(0, 0, size, size));
        painter.setClipPath(clip);
        painter.setBrush(QColor(0xf5, 0xf6, 0xf7));
        const qreal s = size;
        painter.drawEllipse(QRectF(s * 0.32, s * 0.18, s * 0.36, s * 0.36));
        painter.drawEllipse(QRectF(s * 0.14, s * 0.60, s * 0.72, s * 0.70));
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}
