#pragma once

#include <QMap>
#include <QUrl>
#include <atomic>
#include <chrono>
#include <httplib.h>
#include <mutex>
#include <thread>

// An HTTP server on a free loopback port that serves an update list and its
// files, with a few ways to misbehave.
class UpdateServer
{
public:
    enum class Mode { Normal, BreakHalfway, Stall, NotFound };

    ~UpdateServer()
    {
        m_released = true;
        m_server.stop();
        if (m_thread.joinable())
            m_thread.join();
    }

    bool start()
    {
        m_server.set_keep_alive_timeout(1);
        m_server.Get(".*", [this](const httplib::Request &req, httplib::Response &res) {
            ++m_requests;
            const QString path = QUrl::fromPercentEncoding(QByteArray::fromStdString(req.path)).mid(1);
            std::unique_lock<std::mutex> lock(m_mutex);
            const Entry entry = m_files.value(path, Entry{{}, Mode::NotFound});
            lock.unlock();
            switch (entry.mode) {
            case Mode::NotFound:
                res.status = 404;
                res.set_content("not here", "text/plain");
                break;
            case Mode::Normal:
                res.set_content(entry.body.toStdString(), "application/octet-stream");
                break;
            default: // half, then the connection drops; or a byte, then a stall
                res.set_content_provider(size_t(entry.body.size()), "application/octet-stream",
                                         [this, entry](size_t offset, size_t, httplib::DataSink &sink) {
                                             const bool stall = entry.mode == Mode::Stall;
                                             const QByteArray &body = entry.body;
                                             if (offset == 0)
                                                 return sink.write(body.constData(), size_t(stall ? 1 : body.size() / 2));
                                             for (int i = 0; stall && i < 300 && !m_released; ++i)
                                                 std::this_thread::sleep_for(std::chrono::milliseconds(20));
                                             return stall && sink.write(body.constData() + 1, size_t(body.size() - 1));
                                         });
            }
        });
        const int port = m_server.bind_to_any_port("127.0.0.1");
        m_port = quint16(port);
        if (port > 0)
            m_thread = std::thread([this] { m_server.listen_after_bind(); });
        return port > 0;
    }

    QString url(const QString &path) const { return QStringLiteral("http://127.0.0.1:%1/%2").arg(m_port).arg(path); }
    // path relative to the server root, e.g. "upd/list.xml".
    void setFile(const QString &path, const QByteArray &body, Mode mode = Mode::Normal)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_files.insert(path, Entry{body, mode});
    }
    void release() { m_released = true; } // ends every stalled transfer
    int requests() const { return m_requests; }

private:
    struct Entry {
        QByteArray body;
        Mode mode;
    };
    httplib::Server m_server;
    std::thread m_thread;
    quint16 m_port = 0;
    QMap<QString, Entry> m_files;
    std::atomic<bool> m_released{false};
    std::atomic<int> m_requests{0};
    std::mutex m_mutex;
};
