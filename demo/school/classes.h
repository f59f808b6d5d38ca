#pragma once

#include <QDateTime>
#include <QJsonArray>
#include <QString>
#include <QStringList>

#include <map>

// Today's classes of the demo school. Every role gets one one-to-one class
// that can be entered at once, one group class and one still counting down;
// a teacher and a student of the same class publish and play the same
// streams, so two clients make a real class.
namespace democlasses {

// The list a user sees: list type 1 (classes the user teaches) or 2
// (classes the user attends), with times relative to now. origin is where
// teachers publish and the one-to-one voices go, e.g.
// rtmp://127.0.0.1:1935/live; students play a class from studentBase (an
// edge of the origin, or the origin), and with low also get its low
// rendition ("rtmplat_low").
QJsonArray todays(const QString &userName, int listType, const QDateTime &now, const QString &origin,
                  const QString &studentBase, bool low);

// Stream name of each class that students watch -> what the demo lesson
// shows on it.
std::map<QString, QString> watchedStreams();

} // namespace democlasses
