#pragma once

#include <QMap>
#include <QUrl>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

// cpp-httplib's pkg-config file turns its https on.
#include <httplib.h>

namespace testsupport {

// An HTTP (or, given a certificate, HTTPS) server on a free loopback port that serves set bodies at set addresses
// (path and query), with a few ways to misbehave; it counts the requests for each.
class HttpServer
{
public:
    // Stall: a byte, then the rest once released. Trickle: a byte every 50 ms until released.
    enum class Mode {
        Normal,
        BreakHalfway,
        Stall,
        Trickle,
        NotFound
    };

    HttpServer() : m_server(new httplib::Server) {}
    HttpServer(const QString &certificate, const QString &key)
        : m_server(new httplib::SSLServer(certificate.toUtf8().constData(), key.toUtf8().constData())), m_tls(true)
    {
    }
    ~HttpServer()
    {
        m_stopping = true;
        release();
        m_server->stop();
        if (m_thread.joinable())
            m_thread.join();
    }

    bool start()
    {
        if (!m_server->is_valid())
            return false;
        m_server->set_keep_alive_timeout(1);
        m_server->Get(".*", [this](const httplib::Request &req, httplib::Response &res) { answer(req, res); });
        const int port = m_server->bind_to_any_port("127.0.0.1");
        m_port = quint16(port);
        if (port > 0)
            m_thread = std::thread([this] { m_server->listen_after_bind(); });
        return port > 0;
    }

    QString url(const QString &path) const
    {
        return QStringLiteral("%1://127.0.0.1:%2/%3").arg(m_tls ? "https" : "http").arg(m_port).arg(path);
    }
    // path relative to the server root, e.g. "upd/list.xml" or "list?type=a".
    void setFile(const QString &path, const QByteArray &body, Mode mode = Mode::Normal)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_files.insert(path, Entry{body, mode});
    }
    // Ends every stall and trickle under way.
    void release()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_generation;
        m_released.notify_all();
    }
    // Requests for path, or for anything but lists and signatures.
    int requests(const QString &path) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests.value(path);
    }
    int fileRequests() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        int n = 0;
        for (auto it = m_requests.cbegin(); it != m_requests.cend(); ++it)
            n += it.key().endsWith("list.xml") || it.key().endsWith(".minisig") ? 0 : it.value();
        return n;
    }

private:
    struct Entry
    {
        QByteArray body;
        Mode mode;
    };

    void answer(const httplib::Request &req, httplib::Response &res)
    {
        const QString path = QUrl::fromPercentEncoding(QByteArray::fromStdString(req.target)).mid(1);
        std::unique_lock<std::mutex> lock(m_mutex);
        ++m_requests[path];
        const Entry entry = m_files.value(path, Entry{{}, Mode::NotFound});
        const int generation = m_generation;
        lock.unlock();
        switch (entry.mode) {
        case Mode::NotFound:
            res.status = 404;
            res.set_content("not here", "text/plain");
            return;
        case Mode::Normal:
            res.set_content(entry.body.toStdString(), "application/octet-stream");
            return;
        default:
            break;
        }
        res.set_content_provider(size_t(entry.body.size()), "application/octet-stream",
                                 [this, entry, generation](size_t offset, size_t, httplib::DataSink &sink) {
                                     const QByteArray &body = entry.body;
                                     if (entry.mode == Mode::BreakHalfway)
                                         return offset == 0 && sink.write(body.constData(), size_t(body.size() / 2));
                                     if (offset > 0 && !waitFor(entry.mode, generation))
                                         return entry.mode == Mode::Stall &&
                                             sink.write(body.constData() + offset, size_t(body.size()) - offset);
                                     return sink.write(body.constData() + offset, 1);
                                 });
    }

    // Whether to go on as the mode says (false once released or stopping).
    bool waitFor(Mode mode, int generation)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        const auto released = [&] { return m_generation != generation || m_stopping; };
        if (mode == Mode::Stall)
            m_released.wait(lock, released);
        else
            m_released.wait_for(lock, std::chrono::milliseconds(50), released);
        return !released();
    }

    std::unique_ptr<httplib::Server> m_server;
    bool m_tls = false;
    std::thread m_thread;
    quint16 m_port = 0;
    QMap<QString, Entry> m_files;
    QMap<QString, int> m_requests;
    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    int m_generation = 0;
    std::atomic<bool> m_stopping{false};
};

} // namespace testsupport
