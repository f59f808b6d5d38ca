#pragma once

#include "peerprocess.h"

#include <QProcess>
#include <QString>

namespace testsupport {

// The stage's tavi-demo-school on a free loopback port, as a child process. Stopped when destroyed.
class DemoSchool
{
public:
    DemoSchool() = default;
    ~DemoSchool();

    // rtmpBase: where the served courses' streams point; extra: more arguments, e.g. --lessons.
    bool start(const QString &rtmpBase = QStringLiteral("rtmp://127.0.0.1:1935/live"), const QStringList &extra = {});
    // With a chat host set before start(), the school also runs its chat server on HOST:8282 (see freeLoopbackHost());
    // it keeps the host across restarts.
    void setChatHost(const QString &host) { m_chatHost = host; }
    // Before start(): https and wss with this certificate and key.
    void setTls(const QString &certificate, const QString &key)
    {
        m_certificate = certificate;
        m_key = key;
    }
    // Before start(): answers with the values set through hostile().
    void setHostile(bool hostile) { m_hostile = hostile; }
    // Sets the hostile values (see the school's hostile.h): a query such as
    // "courses=...&pad=..." (values percent-encoded by the caller's QUrlQuery).
    bool hostile(const QString &query) const;
    // How often the school was asked for path since the last hostile().
    int hits(const QString &path) const;
    QString chatHost() const { return m_chatHost; }
    void stop();
    // Starts again on the same port with the same arguments (a school that went away and came back).
    bool restart();

    quint16 port() const { return m_port; }
    qint64 processId() const { return m_process.processId(); }
    // http://127.0.0.1:PORT (https with TLS)
    QString baseUrl() const;
    // Writes ./etc/sysConfigue.ini in the working directory pointing at
    // this server (web service, portal and chat host).
    bool writeSysConfig() const;

private:
    bool launch(const QStringList &args);

    PeerProcess m_process;
    QStringList m_args;
    quint16 m_port = 0;
    QString m_chatHost;
    QString m_certificate;
    QString m_key;
    bool m_hostile = false;
};

} // namespace testsupport
