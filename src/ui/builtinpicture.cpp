#include "ui/builtinpicture.h"

#include <QCoreApplication>
#include <QFile>
#include <QPainter>
#include <QPixmapCache>
#include <QRegularExpression>
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

// The texts drawn in the pictures, for lupdate: each is translated as the
// picture is drawn.
[[maybe_unused]] const char *const kPictureTexts[] = {
    QT_TRANSLATE_NOOP("BuiltinPicture", "课堂尚未开始"), QT_TRANSLATE_NOOP("BuiltinPicture", "本节课已结束"),
    QT_TRANSLATE_NOOP("BuiltinPicture", "已离开课堂"), QT_TRANSLATE_NOOP("BuiltinPicture", "今日暂无课程")};

// The SVG with its <text> in the interface's language.
QByteArray translatedSvg(const QString &source)
{
    QFile file(source);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString svg = QString::fromUtf8(file.readAll());
    static const QRegularExpression text(QStringLiteral("(<text[^>]*>)([^<]+)(</text>)"));
    QString out;
    int at = 0;
    for (auto it = text.globalMatch(svg); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        out += svg.mid(at, m.capturedStart(2) - at);
        out += QCoreApplication::translate("BuiltinPicture", m.captured(2).toUtf8().constData()).toHtmlEscaped();
        at = m.capturedEnd(2);
    }
    out += svg.mid(at);
    return out.toUtf8();
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
    QSvgRenderer renderer(translatedSvg(source));
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
