#pragma once

#include "peerprocess.h"

#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace testsupport {

// nginx with the RTMP module on a free loopback port, with a throw-away config: one live application "live". Stopped
// when destroyed. The one writer of nginx-rtmp's configuration: tests, benchmarks and the demo school's --demo all
// start it through here.
class NginxRtmp
{
public:
    NginxRtmp() = default;
    ~NginxRtmp();

    // Before start: this port instead of a free one (the demo's 1935).
    void setPort(quint16 port) { m_fixedPort = port; }

    // Before start: nginx tells this web service (e.g. the demo school's
    // http://127.0.0.1:PORT/demo/rtmp) who plays and publishes.
    void setNotifyUrl(const QString &base) { m_notify = base; }
    // Before start: nginx also serves its statistics over HTTP (stat()).
    void setStatPage(bool on) { m_withStat = on; }
    // Before start: runs in that network namespace (see NetLab, which waits for its port).
    void setNamespace(const QString &name) { m_namespace = name; }
    // Before start: a publisher silent this long is let go, so that its stream can be published again after a
    // link that died without a reset (0: nginx's own timeout).
    void setDropIdlePublisher(int seconds) { m_dropIdle = seconds; }
    // Before start: the origin of a larger school makes a low-rate rendition of each class it is sent, published
    // beside it as the class's name plus "_low" (640x360, about 400 kbit/s, ffmpeg run by nginx-rtmp's exec_push).
    void setLowRendition(bool on) { m_low = on; }
    // Before start: an edge, which takes each stream it is asked for from the origin's application (e.g.
    // rtmp://127.0.0.1:1935/live) with nginx-rtmp's pull: one upstream connection per stream however many play it.
    void setPull(const QString &originApp) { m_pull = originApp; }
    bool start();
    void stop();
    // Starts again on the same port (a server that went away and came back), with the notify address set now.
    bool restart();
    // Stops the process (SIGSTOP) so it holds connections but says nothing.
    void freeze();
    void thaw();

    quint16 port() const { return m_port; }
    qint64 processId() const { return m_process.processId(); }
    QString url(const QString &stream, const QString &app = QStringLiteral("live")) const;
    QString log() const;
    // The statistics page (XML of rtmp_stat), empty when there is none.
    QByteArray stat() const;
    struct StreamStat
    {
        QString name;
        int clients = 0; // the publisher and the players
        bool publishing = false;
    };
    // The streams nginx holds now, from stat().
    QList<StreamStat> streams() const;
    // Its statistics page's address (with setStatPage).
    QString statUrl() const { return QStringLiteral("http://127.0.0.1:%1/stat").arg(m_statPort); }
    // The streams in a statistics page.
    static QList<StreamStat> streamsIn(const QByteArray &stat);
    // How many play from it now (clients that do not publish); -1 when its statistics cannot be read.
    int players() const;
    // The same from a statistics page (-1 for an empty one), for a reader on another thread.
    static int playersIn(const QByteArray &stat);

private:
    // Writes the configuration and starts nginx on it.
    bool launch();

    QTemporaryDir m_dir;
    PeerProcess m_process;
    quint16 m_fixedPort = 0;
    quint16 m_port = 0;
    quint16 m_statPort = 0;
    bool m_withStat = false;
    QString m_notify;
    QString m_namespace;
    int m_dropIdle = 0;
    bool m_low = false;
    QString m_pull;
};

} // namespace testsupport
