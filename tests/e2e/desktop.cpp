#include "desktop.h"

#include "testsupport.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QThread>

QImage Desktop::shot()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return QImage();
    return screen->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
}

QSize Desktop::size()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().size() : QSize();
}

bool Desktop::xdotool(const QStringList &args, QByteArray *out)
{
    return testsupport::run(QStringLiteral("xdotool"), args, 10000, out);
}

bool Desktop::click(const QPoint &at)
{
    return moveTo(at) && xdotool({QStringLiteral("click"), QStringLiteral("1")});
}

bool Desktop::moveTo(const QPoint &at)
{
    return xdotool(
        {QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(at.x()), QString::number(at.y())});
}

bool Desktop::type(const QString &text)
{
    return xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), text});
}

bool Desktop::key(const QString &name)
{
    return xdotool({QStringLiteral("key"), name});
}

bool Desktop::drag(const QPoint &from, const QPoint &to)
{
    if (!moveTo(from) || !xdotool({QStringLiteral("mousedown"), QStringLiteral("1")}))
        return false;
    bool ok = true;
    const int steps = 6;
    for (int i = 1; i <= steps && ok; ++i)
        ok = moveTo(from + (to - from) * i / steps);
    return xdotool({QStringLiteral("mouseup"), QStringLiteral("1")}) && ok;
}

bool Desktop::raise(const QString &window)
{
    return xdotool({QStringLiteral("windowraise"), window});
}

QList<Desktop::Window> Desktop::windows(qint64 pid)
{
    QList<Window> found;
    QByteArray ids;
    // Exits with 1 when nothing matches.
    xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"), QString::number(pid)},
            &ids);
    for (const QByteArray &line : ids.split('\n')) {
        const QString id = QString::fromLatin1(line.trimmed());
        QByteArray shell;
        if (id.isEmpty() || !xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), id}, &shell))
            continue;
        QRect geometry;
        for (const QByteArray &field : shell.split('\n')) {
            const QList<QByteArray> pair = field.trimmed().split('=');
            if (pair.size() != 2)
                continue;
            const int value = pair.at(1).toInt();
            if (pair.at(0) == "X")
                geometry.moveLeft(value);
            else if (pair.at(0) == "Y")
                geometry.moveTop(value);
            else if (pair.at(0) == "WIDTH")
                geometry.setWidth(value);
            else if (pair.at(0) == "HEIGHT")
                geometry.setHeight(value);
        }
        if (geometry.width() > 40 && geometry.height() > 40)
            found.append({id, geometry});
    }
    return found;
}
