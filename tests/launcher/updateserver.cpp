#include "updateserver.h"

#include <QCryptographicHash>
#include <QUrl>
#include <chrono>
#include <httplib.h>

QString md5Hex(const QByteArray &data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex().toUpper());
}

UpdateServer::UpdateServer() : m_server(new httplib::Server) {}

UpdateServer::~UpdateServer()
{
    m_released = true;
    m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
}

bool UpdateServer::start()
{
    m_server->set_keep_alive_timeout(1);
    m_server->Get(".*", [this](const httplib::Request &req, httplib::Response &res) {
        ++m_requests;
        const QString path = QUrl::fromPercentEncoding(QByteArray::fromStdString(req.path)).mid(1);
        Entry entry;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_files.contains(path)) {
                res.status = 404;
                res.set_content("not here", "text/plain");
                return;
            }
            entry = m_files.value(path);
        }
        switch (entry.mode) {
        case Mode::NotFound:
            res.status = 404;
            res.set_content("gone", "text/plain");
            break;
        case Mode::Normal:
            res.set_content(entry.body.toStdString(), "application/octet-stream");
            break;
        case Mode::BreakHalfway:
            res.set_content_provider(size_t(entry.body.size()), "application/octet-stream",
                                     [body = entry.body](size_t offset, size_t, httplib::DataSink &sink) {
                                         if (offset > 0)
                                             return false; // drop the connection
                                         sink.write(body.constData(), size_t(body.size() / 2));
                                         return true;
                                     });
            break;
        case Mode::Stall:
            res.set_content_provider(size_t(entry.body.size()), "application/octet-stream",
                                     [this, body = entry.body](size_t offset, size_t, httplib::DataSink &sink) {
                                         if (offset == 0) {
                                             sink.write(body.constData(), 1);
                                             return true;
                                         }
                                         for (int i = 0; i < 300 && !m_released; ++i)
                                             std::this_thread::sleep_for(std::chrono::milliseconds(20));
                                         sink.write(body.constData() + 1, size_t(body.size() - 1));
                                         return true;
                                     });
            break;
        }
    });
    const int port = m_server->bind_to_any_port("127.0.0.1");
    if (port <= 0)
        return false;
    m_port = quint16(port);
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    return true;
}

QString UpdateServer::url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1/%2").arg(m_port).arg(path);
}

void UpdateServer::setFile(const QString &path, const QByteArray &body, Mode mode)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_files.insert(path, Entry{body, mode});
}
