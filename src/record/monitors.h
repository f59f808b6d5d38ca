#pragma once

#include <QByteArray>
#include <QRect>
#include <QString>
#include <QVector>

// The monitors of the X display the desktop is captured from, and which one
// the user shares (remembered in the user's settings).
struct Monitor
{
    QString name;
    // In the screen's pixels.
    QRect rect;
    bool primary = false;
};

namespace monitors {

// More are not monitors but a hostile or broken server.
constexpr int kMaxMonitors = 16;
constexpr int kMaxNameLength = 64;

// The RandR monitors of display (empty: $DISPLAY), each clipped to the
// screen, left to right. Without RandR monitors, or on any failure, the whole screen as one
// monitor (its rectangle empty when even the screen's size is unknown).
QVector<Monitor> list(const QByteArray &display = QByteArray());

// The index of the monitor named remembered; a name that is gone (or none)
// gives the primary monitor, else the first. -1 only for an empty list.
int resolve(const QVector<Monitor> &monitors, const QString &remembered);
// Whether a monitor of that name is in the list.
bool contains(const QVector<Monitor> &monitors, const QString &name);

// The monitor the user chose last (empty before the first choice).
QString remembered();
void remember(const QString &name);
// Where the choice is remembered.
QString settingsPath();

} // namespace monitors
