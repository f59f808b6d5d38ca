#include "netlab.h"

#include "testsupport.h"

#include <QDateTime>

#include <cmath>

#include <unistd.h>

namespace testsupport {

NetLab::~NetLab()
{
    for (auto &process : m_launched)
        process->stop();
    for (PeerProcess &relay : m_relays)
        relay.stop();
    m_nginx.stop();
    // The script removes the namespaces once its input closes.
    m_lab.closeWriteChannel();
    if (!m_lab.waitForFinished(10000))
        m_lab.kill();
}

QString NetLab::start(int pupilDelayMs, int pupilJitterMs)
{
    if (geteuid() != 0)
        return QStringLiteral("network namespaces need root");
    m_lab.start(QStringLiteral("bash"), {QStringLiteral(TAVI_NETLAB)});
    if (!m_lab.waitForStarted(5000))
        return QStringLiteral("netlab.sh did not start");
    while (!m_lab.canReadLine() && m_lab.waitForReadyRead(20000)) {}
    const QStringList ready = QString::fromUtf8(m_lab.readLine()).trimmed().split(QLatin1Char(' '));
    if (ready.size() != 4 || ready[0] != QLatin1String("ready"))
        return QStringLiteral("ip netns failed: %1").arg(QString::fromUtf8(m_lab.readAllStandardError()));
    m_names = ready.mid(1);
    m_nginx.setNamespace(m_names[0]);
    m_nginx.setDropIdlePublisher(3);
    if (!m_nginx.start() || !command(QStringLiteral("port %1").arg(m_nginx.port())))
        return QStringLiteral("nginx did not start in its namespace");
    for (int i = 0; i < 2; ++i) {
        const QString delay = QString::number(i == 0 ? pupilDelayMs : 0);
        m_relays[i].start(QStringLiteral("ip"),
                          {"netns", "exec", m_names[0], TAVI_NETRELAY, QStringLiteral("10.19.%1.1").arg(i + 1), "1935",
                           QString::number(m_nginx.port()), delay, QString::number(i == 0 ? pupilJitterMs : 0)});
        if (!m_relays[i].waitForStarted(5000))
            return QStringLiteral("the relay did not start");
    }
    return {};
}

bool NetLab::command(const QString &line)
{
    m_lab.write(line.toUtf8() + '\n');
    while (!m_lab.canReadLine())
        if (!m_lab.waitForReadyRead(20000))
            return false;
    return m_lab.readLine().trimmed() == "ok";
}

QString NetLab::pupilUrl(const QString &stream) const
{
    return QStringLiteral("rtmp://10.19.1.1:1935/live/") + stream;
}

QString NetLab::teacherUrl(const QString &stream) const
{
    return QStringLiteral("rtmp://10.19.2.1:1935/live/") + stream;
}

void NetLab::startIn(QProcess &process, bool pupil, const QString &program, const QStringList &args) const
{
    process.start(QStringLiteral("ip"), QStringList{"netns", "exec", m_names.value(pupil ? 1 : 2), program} + args);
}

QStringList NetLab::classArgs(const QString &url, int videoKbps, int keyEvery)
{
    return QStringLiteral("-hide_banner -nostdin -loglevel error -re -f lavfi -i testsrc2=size=1280x720:rate=25 "
                          "-f lavfi -i sine=frequency=440:sample_rate=44100 -c:v libx264 -preset ultrafast "
                          "-tune zerolatency -g %3 -b:v %1k -maxrate %1k -bufsize %2k -pix_fmt yuv420p "
                          "-c:a aac -b:a 64k -f flv")
               .arg(videoKbps)
               .arg(videoKbps / 2)
               .arg(keyEvery)
               .split(QLatin1Char(' ')) +
        QStringList{url};
}

PupilPlayer::PupilPlayer(NetLab &lab, const QString &url, const QProcessEnvironment &env, const QString &low)
{
    m_process.setProcessEnvironment(env);
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] {
        while (m_process.canReadLine()) {
            const QList<QByteArray> f = m_process.readLine().trimmed().split(' ');
            if (f.size() == 3 && f[0] == "picture")
                pictures.append({f[1].toDouble(), f[2].toDouble()});
            else if (f.size() == 3 && f[0] == "rendition")
                switches.append({f[2].toDouble(), f[1] == "low"});
        }
    });
    QStringList args{url, "--trace"};
    if (!low.isEmpty())
        args << "--low" << low;
    lab.startIn(m_process, true, stageDir() + QStringLiteral("/tavi-play"), args);
}

QProcess &NetLab::launch(bool pupil, const QString &program, const QStringList &args)
{
    m_launched.push_back(std::make_unique<PeerProcess>());
    startIn(*m_launched.back(), pupil, program, args);
    return *m_launched.back();
}

double PupilPlayer::edge() const
{
    double least = INFINITY;
    for (const auto &p : pictures)
        least = std::min(least, p.first - p.second);
    return least;
}

double PupilPlayer::behind(double edge) const
{
    return pictures.isEmpty() ? NAN : pictures.last().first - pictures.last().second - edge;
}

} // namespace testsupport
