#pragma once

#include "testsupport.h"

#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QRect>
#include <QWidget>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

// A wide Xvfb display of the test's own, made two monitors with xrandr, for tests that need it before their
// QApplication connects (call from main).
namespace twomonitors {

// Starts Xvfb with one screen of that size ("3840x1080x24"); the server dies with this process. Returns ":N", empty
// when it did not start.
inline QByteArray startDisplay(const char *screen)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::dup2(fds[1], 9); // without close-on-exec
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        // -noreset: without it the server resets when its last client leaves and refuses whoever connects meanwhile.
        ::execlp("Xvfb", "Xvfb", "-displayfd", "9", "-screen", "0", screen, "-nolisten", "tcp", "-noreset",
                 static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    QByteArray number;
    pollfd wait{fds[0], POLLIN, 0};
    char c = 0;
    while (pid > 0 && ::poll(&wait, 1, 10000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    ::close(fds[0]);
    return number.isEmpty() ? QByteArray() : ':' + number;
}

// Before the application connects: this process's display becomes a wide X server of its own, whatever the session's
// desktop is. False when it did not start.
inline bool useWideDisplay()
{
    const QByteArray display = startDisplay("3840x1080x24");
    if (display.isEmpty()) {
        fprintf(stderr, "Xvfb did not start\n");
        return false;
    }
    qputenv("DISPLAY", display);
    qunsetenv("WAYLAND_DISPLAY");
    qunsetenv("XDG_SESSION_TYPE");
    return true;
}

// xrandr on this process's display, or on the one named.
inline bool xrandr(const QStringList &args, const QString &display = QString())
{
    if (display.isEmpty())
        return testsupport::run(QStringLiteral("xrandr"), args, 10000);
    return testsupport::run(QStringLiteral("env"), QStringList{"DISPLAY=" + display, "xrandr"} + args, 10000);
}

// The monitors "left" and "right" (1920x1080 each, side by side) in place of the screen's own; the one named primary
// (xrandr's '*'), or neither.
inline bool split(const QString &primary, const QString &display = QString())
{
    // Either may be there from an earlier split; the screen's own monitor goes once "left" takes its output.
    xrandr({"--delmonitor", "right"}, display);
    xrandr({"--delmonitor", "left"}, display);
    const auto name = [&](const QString &monitor) { return monitor == primary ? '*' + monitor : monitor; };
    return xrandr({"--setmonitor", name("left"), "1920/508x1080/286+0+0", "screen"}, display) &&
        xrandr({"--setmonitor", name("right"), "1920/508x1080/286+1920+0", "none"}, display);
}

// A plain colour over a part of the display (no window manager: the window lies where it is put).
class Patch : public QWidget
{
public:
    Patch(const QRect &where, const QColor &colour) : m_colour(colour)
    {
        setWindowFlags(Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
        // The pointer over it is not grabbed with the picture.
        setCursor(Qt::BlankCursor);
        setGeometry(where);
        show();
    }

    void setColour(const QColor &colour)
    {
        m_colour = colour;
        repaint();
    }

protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(rect(), m_colour); }

private:
    QColor m_colour;
};

// How many of the picture's pixels are far from colour (each channel within tolerance counts as near).
inline int pixelsNotOf(const QImage &picture, const QColor &colour, int tolerance = 40)
{
    int far = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const QColor c = picture.pixelColor(x, y);
            if (std::abs(c.red() - colour.red()) > tolerance || std::abs(c.green() - colour.green()) > tolerance ||
                std::abs(c.blue() - colour.blue()) > tolerance)
                ++far;
        }
    return far;
}

// One picture of a recording (at that second) or of a live stream (at empty: the first that comes), decoded by
// ffmpeg.
inline QImage frameOf(const QString &input, const QString &at = QString(), int timeoutMs = 30000)
{
    QStringList args{"-v", "error"};
    if (!at.isEmpty())
        args << "-ss" << at;
    args << "-i" << input << "-frames:v"
         << "1"
         << "-f"
         << "image2pipe"
         << "-c:v"
         << "png"
         << "-";
    QByteArray png;
    if (!testsupport::run(QStringLiteral("ffmpeg"), args, timeoutMs, &png))
        return QImage();
    return QImage::fromData(png).convertToFormat(QImage::Format_RGB32);
}

} // namespace twomonitors
