#include "nginxrtmp.h"

#include "testsupport.h"

#include <QFile>
#include <QRegularExpression>
#include <QTextStream>
#include <csignal>

namespace testsupport {

NginxRtmp::~NginxRtmp()
{
    stop();
}

bool NginxRtmp::start()
{
    if (!m_dir.isValid())
        return false;
    m_port = m_fixedPort != 0 ? m_fixedPort : freePort();
    if (m_port == 0)
        return false;
    if (m_withStat) {
        m_statPort = freePort();
        if (m_statPort == 0 || m_statPort == m_port)
            return false;
    }
    return launch();
}

namespace {
// The low rendition's transcoder, run by nginx-rtmp for every published stream: the class's own timestamps and key
// frames, its sound as it is; renditions and dialogue streams are not transcoded again.
bool writeLowRendition(const QString &path, quint16 port)
{
    const QString app = QStringLiteral("rtmp://127.0.0.1:%1/live/").arg(port);
    const QString script = QStringLiteral("#!/bin/sh\n"
                                          "case \"$1\" in *_low|*_talk|'') exit 0 ;; esac\n"
                                          "exec ffmpeg -nostdin -hide_banner -loglevel error -rw_timeout 5000000 "
                                          "-fflags nobuffer -analyzeduration 4000000 -i \"%1$1\" "
                                          "-map 0:v:0 -map '0:a:0?' -c:v libx264 -preset veryfast -tune zerolatency "
                                          "-vf scale=640:360 -r 25 -b:v 330k -maxrate 330k -bufsize 330k "
                                          "-force_key_frames source -pix_fmt yuv420p -c:a copy -copyts "
                                          "-rw_timeout 5000000 -f flv \"%1$1_low\"\n")
                               .arg(app);
    return writeFile(path, script.toUtf8()) &&
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}
} // namespace

bool NginxRtmp::launch()
{
    QString conf;
    QTextStream out(&conf);
    out << "load_module /usr/lib/nginx/modules/ngx_rtmp_module.so;\n"
        << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
        << "pid " << m_dir.filePath(QStringLiteral("nginx.pid")) << ";\n"
        << "error_log " << m_dir.filePath(QStringLiteral("error.log")) << " info;\n"
        << "events { worker_connections 1024; }\n"
        << "rtmp {\n  server {\n    listen 127.0.0.1:" << m_port << ";\n"
        << "    chunk_size 4096;\n"
        << "    application live {\n      live on;\n      record off;\n"
        // No wait_video: audio-only dialogue streams must reach players.
        << "      wait_key on;\n";
    if (m_dropIdle > 0)
        out << "      drop_idle_publisher " << m_dropIdle << "s;\n";
    if (!m_pull.isEmpty())
        out << "      pull " << m_pull << ";\n";
    if (m_low) {
        const QString script = m_dir.filePath(QStringLiteral("low-rendition.sh"));
        if (!writeLowRendition(script, m_port))
            return false;
        out << "      exec_push " << script << " $name;\n";
    }
    if (!m_notify.isEmpty())
        out << "      notify_method get;\n"
            << "      on_play " << m_notify << "/play;\n      on_play_done " << m_notify << "/play_done;\n"
            << "      on_publish " << m_notify << "/publish;\n      on_publish_done " << m_notify << "/publish_done;\n";
    out << "    }\n  }\n}\n";
    if (m_withStat)
        out << "http {\n  access_log off;\n  server {\n    listen 127.0.0.1:" << m_statPort << ";\n"
            << "    location /stat { rtmp_stat all; }\n  }\n}\n";
    out.flush();
    if (!writeFile(m_dir.filePath(QStringLiteral("nginx.conf")), conf.toUtf8()))
        return false;
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    const QStringList args{"-p", m_dir.path(), "-c", m_dir.filePath("nginx.conf")};
    if (m_namespace.isEmpty())
        m_process.start(QStringLiteral("/usr/sbin/nginx"), args);
    else
        m_process.start(QStringLiteral("ip"), QStringList{"netns", "exec", m_namespace, "/usr/sbin/nginx"} + args);
    if (!m_process.waitForStarted(5000))
        return false;
    if (!m_namespace.isEmpty())
        return true;
    const QString local = QStringLiteral("127.0.0.1");
    return waitForPort(local, m_port, 5000) && (!m_withStat || waitForPort(local, m_statPort, 5000));
}

void NginxRtmp::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    thaw();
    m_process.kill();
    m_process.waitForFinished(5000);
}

bool NginxRtmp::restart()
{
    stop();
    return launch();
}

void NginxRtmp::freeze()
{
    if (m_process.state() != QProcess::NotRunning)
        ::kill(pid_t(m_process.processId()), SIGSTOP);
}

void NginxRtmp::thaw()
{
    if (m_process.state() != QProcess::NotRunning)
        ::kill(pid_t(m_process.processId()), SIGCONT);
}

QString NginxRtmp::url(const QString &stream, const QString &app) const
{
    return QStringLiteral("rtmp://127.0.0.1:%1/%2/%3").arg(m_port).arg(app, stream);
}

QByteArray NginxRtmp::stat() const
{
    QByteArray out;
    const bool up = m_withStat && m_process.state() == QProcess::Running;
    return up && run("curl", {"-sf", "--max-time", "5", statUrl()}, 10000, &out) ? out : QByteArray();
}

QList<NginxRtmp::StreamStat> NginxRtmp::streams() const
{
    return streamsIn(stat());
}

QList<NginxRtmp::StreamStat> NginxRtmp::streamsIn(const QByteArray &stat)
{
    // <stream><name/>...<client>...</client>...</stream>: the publisher's client holds a publishing element.
    QList<StreamStat> found;
    const QRegularExpression stream(QStringLiteral("<stream>(.*?)</stream>"),
                                    QRegularExpression::DotMatchesEverythingOption);
    for (auto it = stream.globalMatch(QString::fromUtf8(stat)); it.hasNext();) {
        const QString fields = it.next().captured(1);
        found.append({QRegularExpression(QStringLiteral("<name>([^<]*)</name>")).match(fields).captured(1),
                      int(fields.count(QLatin1String("<client>"))), fields.contains(QLatin1String("<publishing/>"))});
    }
    return found;
}

int NginxRtmp::players() const
{
    return playersIn(stat());
}

int NginxRtmp::playersIn(const QByteArray &stat)
{
    if (stat.isEmpty())
        return -1;
    int players = 0;
    for (const StreamStat &stream : streamsIn(stat))
        players += stream.clients - (stream.publishing ? 1 : 0);
    return players;
}

QString NginxRtmp::log() const
{
    return QString::fromUtf8(readFile(m_dir.filePath(QStringLiteral("error.log"))));
}

} // namespace testsupport
