#pragma once

#include "nginxrtmp.h"

#include <QString>
#include <QUrl>

#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

// Where the demo school's classes stream: an origin nginx-rtmp that teachers
// publish to (it tells the school who plays and publishes), and for a larger
// school edge servers that students play from. Each edge takes a class from
// the origin with nginx-rtmp's pull, once however many students play it; the
// origin may also make each class's low-rate rendition ("_low").
class StreamServers
{
public:
    struct Places
    {
        QString origin; // teachers publish here; the one-to-one voices go here
        QString students; // a student plays the class here
        bool low = false; // the class's low rendition is there too
    };

    // origin: e.g. rtmp://127.0.0.1:1935/live, started here when it is a
    // loopback address nothing listens on (else the server there is used,
    // and makes no low rendition). notify: the school's nginx callbacks.
    // Prints what it started; false when a server that was asked for did
    // not start.
    bool start(const QUrl &origin, int edges, bool low, const QString &notify);
    // For a student now: the edge with the fewest players by nginx-rtmp's
    // statistics, counting the students sent there in the last seconds who
    // may not play yet. Safe from any thread.
    Places placesForStudent();
    Places placesForTeacher() const;

private:
    struct Edge
    {
        std::unique_ptr<testsupport::NginxRtmp> server;
        std::deque<std::chrono::steady_clock::time_point> sent;
    };
    // The origin's own server, when it is started here.
    testsupport::NginxRtmp m_origin;
    QString m_originBase;
    bool m_low = false;
    std::vector<Edge> m_edges;
    std::mutex m_mutex;
    size_t m_next = 0;
};
