#pragma once

#include "testsupport.h"

#include "peerprocess.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QRect>
#include <QScreen>
#include <QTest>

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
        QByteArray out;
        if (display().isEmpty() || !xdotool({"getdisplaygeometry"}, &out))
            return screen && display().isEmpty() ? screen->geometry().size() : QSize();
        const QList<QByteArray> size = out.trimmed().split(' ');
        return QSize(size.value(0).toInt(), size.value(1).toInt());
    }
    // What these windows of the display set show, each where it lies, on black: the root of XWayland's display holds
    // no picture of the desktop.
    static QImage shotOf(const QList<Window> &windows)
    {
        QImage desktop(size(), QImage::Format_RGB32);
        desktop.fill(Qt::black);
        QPainter painter(&desktop);
        for (const Window &w : windows) {
            QByteArray png;
            if (testsupport::run(QStringLiteral("ffmpeg"),
                                 {"-v", "error", "-f", "x11grab", "-draw_mouse", "0", "-window_id", w.id, "-i",
                                  display(), "-frames:v", "1", "-f", "image2pipe", "-c:v", "png", "-"},
                                 10000, &png))
                painter.drawImage(w.geometry.topLeft(), QImage::fromData(png));
        }
        return desktop;
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

    // An X server of the test's own (Xvfb), with the desktop's scale as Xft.dpi when dpi is given, as a desktop's
    // settings keep it; no other test's window takes a click there.
    class Private
    {
    public:
        ~Private() { m_server.stop(); }
        bool start(const QSize &size, int dpi = 0)
        {
            // -noreset: without it the server resets when its last client leaves and refuses whoever connects meanwhile.
            m_server.start(QStringLiteral("Xvfb"),
                           {"-displayfd", "1", "-screen", "0",
                            QStringLiteral("%1x%2x24").arg(size.width()).arg(size.height()), "-nolisten", "tcp",
                            "-noreset"});
            if (!m_server.waitForStarted(5000) ||
                !QTest::qWaitFor([&] { return m_server.canReadLine() || m_server.state() == QProcess::NotRunning; },
                                 10000))
                return false;
            m_name = ':' + QString::fromLatin1(m_server.readLine()).trimmed();
            return m_name.size() > 1 &&
                (dpi == 0 ||
                 testsupport::run(QStringLiteral("env"),
                                  {"DISPLAY=" + m_name, "xprop", "-root", "-f", "RESOURCE_MANAGER", "8s", "-set",
                                   "RESOURCE_MANAGER", QStringLiteral("Xft.dpi:\t%1\n").arg(dpi)}));
        }
        QString name() const { return m_name; }

    private:
        testsupport::PeerProcess m_server;
        QString m_name;
    };

private:
    static QString &display()
    {
        static QString name;
        return name;
    }
};
