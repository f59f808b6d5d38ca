#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>

// The one X display that the test and the clients share, as a user meets
// it: screenshots of the whole display, the pointer and the keyboard
// (xdotool), and which windows a program shows where.
class Desktop
{
public:
    struct Window
    {
        QString id;
        QRect geometry;
    };

    // The whole display as it is now, 32-bit RGB.
    static QImage shot();
    static QSize size();

    static bool click(const QPoint &at);
    static bool moveTo(const QPoint &at);
    // Typed into whatever has the keyboard focus under the pointer.
    static bool type(const QString &text);
    static bool key(const QString &name);
    // Left button pressed at from, moved in steps to to, released there.
    static bool drag(const QPoint &from, const QPoint &to);
    // What a window manager does when the user clicks a window.
    static bool raise(const QString &window);
    // The visible windows of a process (by _NET_WM_PID), bigger than 40 x 40.
    static QList<Window> windows(qint64 pid);

private:
    static bool xdotool(const QStringList &args, QByteArray *out = nullptr);
};
