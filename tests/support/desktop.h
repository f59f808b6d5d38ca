#pragma once

#include "testsupport.h"

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QScreen>

// An X display as a user meets it: screenshots, the pointer and the keyboard (xdotool), and which windows a program
// shows where. Drives $DISPLAY, or the display set with setDisplay().
class Desktop
{
public:
    struct Window
    {
        QString id;
        QRect geometry;
    };

    static void setDisplay(const QString &name) { display() = name; }
    // This process's display as it is now, 32-bit RGB.
    static QImage shot()
    {
        QScreen *screen = QGuiApplication::primaryScreen();
        return screen ? screen->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32) : QImage();
    }
    static QSize size()
    {
        QScreen *screen = QGuiApplication::primaryScreen();
        return screen ? screen->geometry().size() : QSize();
    }
    static bool xdotool(const QStringList &args, QByteArray *out = nullptr)
    {
        if (display().isEmpty())
            return testsupport::run(QStringLiteral("xdotool"), args, 10000, out);
        return testsupport::run(QStringLiteral("env"), QStringList{"DISPLAY=" + display(), "xdotool"} + args, 10000,
                                out);
    }
    static bool moveTo(const QPoint &at)
    {
        return xdotool({"mousemove", "--sync", QString::number(at.x()), QString::number(at.y())});
    }
    static bool click(const QPoint &at) { return moveTo(at) && xdotool({"click", "1"}); }
    // Typed into whatever has the keyboard focus under the pointer.
    static bool type(const QString &text) { return xdotool({"type", "--delay", "20", text}); }
    static bool key(const QString &name) { return xdotool({"key", name}); }
    // Left button pressed at from, moved in steps to to, released there.
    static bool drag(const QPoint &from, const QPoint &to)
    {
        bool ok = moveTo(from) && xdotool({"mousedown", "1"});
        for (int i = 1; i <= 6 && ok; ++i)
            ok = moveTo(from + (to - from) * i / 6);
        return xdotool({"mouseup", "1"}) && ok;
    }
    // What a window manager does when the user clicks a window.
    static bool raise(const QString &window) { return xdotool({"windowraise", window}); }
    // The visible windows of a process (by _NET_WM_PID), bigger than 40 x 40.
    static QList<Window> windows(qint64 pid)
    {
        QList<Window> found;
        QByteArray ids;
        xdotool({"search", "--onlyvisible", "--pid", QString::number(pid)}, &ids); // 1 when nothing matches
        for (const QByteArray &id : ids.simplified().split(' ')) {
            QByteArray shell;
            if (id.isEmpty() || !xdotool({"getwindowgeometry", "--shell", QString::fromLatin1(id)}, &shell))
                continue;
            QMap<QString, int> value;
            for (const QString &field : QString::fromLatin1(shell).split('\n'))
                value.insert(field.section('=', 0, 0), field.section('=', 1).toInt());
            const QRect geometry(value["X"], value["Y"], value["WIDTH"], value["HEIGHT"]);
            if (geometry.width() > 40 && geometry.height() > 40)
                found.append({QString::fromLatin1(id), geometry});
        }
        return found;
    }

private:
    static QString &display()
    {
        static QString name;
        return name;
    }
};
