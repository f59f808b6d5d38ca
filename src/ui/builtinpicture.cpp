#include "ui/builtinpicture.h"

#include <QFile>
#include <QPainter>
#include <QPixmapCache>
#include <QSvgRenderer>

namespace {
QString svgSource(const QString &path)
{
    static const QString builtin = QStringLiteral(":/images/sys/");
    if (!path.startsWith(builtin))
        return {};
    const QString source = QStringLiteral(":/images/sys/svg/") + path.mid(builtin.size());
    return QFile::exists(source) ? source : QString();
}
} // namespace

QSize builtinPictureSize(const QString &path)
{
    const QString source = svgSource(path);
    if (!source.isEmpty())
        return QSvgRenderer(source).defaultSize();
    return QPixmap(path).size();
}

QPixmap builtinPicture(const QString &path, qreal ratio, QSize size)
{
    const QString source = svgSource(path);
    if (source.isEmpty())
        return QPixmap(path);
    const QString key = QStringLiteral("tavi:%1:%2x%3@%4").arg(path).arg(size.width()).arg(size.height()).arg(ratio);
    QPixmap pixmap;
    if (QPixmapCache::find(key, &pixmap))
        return pixmap;
    QSvgRenderer renderer(source);
    if (size.isEmpty())
        size = renderer.defaultSize();
    pixmap = QPixmap((QSizeF(size) * ratio).toSize());
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    painter.end();
    pixmap.setDevicePixelRatio(ratio);
    QPixmapCache::insert(key, pixmap);
    return pixmap;
}
