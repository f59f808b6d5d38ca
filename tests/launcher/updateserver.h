#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

namespace httplib {
class Server;
}

// An HTTP server on a free loopback port that serves an update list and its
// files, with a few ways to misbehave.
class UpdateServer
{
public:
    enum class Mode { Normal, BreakHalfway, Stall, NotFound };

    UpdateServer();
    ~UpdateServer();

    bool start();
    quint16 port() const { return m_port; }
    QString url(const QString &path) const;

    // path relative to the server root, e.g. "upd/list.xml".
    void setFile(const QString &path, const QByteArray &body, Mode mode = Mode::Normal);
    // Ends every stalled transfer.
    void release() { m_released = true; }
    int requests() const { return m_requests; }

private:
    struct Entry {
        QByteArray body;
        Mode mode;
    };
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    quint16 m_port = 0;
    QMap<QString, Entry> m_files;
    std::atomic<bool> m_released{false};
    std::atomic<int> m_requests{0};
    mutable std::mutex m_mutex;
};

QString md5Hex(const QByteArray &data);
