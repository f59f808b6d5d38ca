#include "demoschool.h"

#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

namespace testsupport {

DemoSchool::~DemoSchool()
{
    stop();
}

bool DemoSchool::start(const QString &rtmpBase, const QStringList &extra)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_port = freePort();
        if (m_port == 0)
            continue;
        QStringList args{QStringLiteral("--listen"), QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
                         QString::number(m_port),    QStringLiteral("--rtmp"),    rtmpBase};
        if (!m_chatHost.isEmpty())
            args << QStringLiteral("--chat") << m_chatHost;
        if (!m_certificate.isEmpty())
            args << QStringLiteral("--tls-cert") << m_certificate << QStringLiteral("--tls-key") << m_key;
        if (m_hostile)
            args << QStringLiteral("--hostile");
        if (launch(args + extra))
            return true;
        if (m_process.state() == QProcess::NotRunning && m_process.error() == QProcess::FailedToStart)
            return false;
        stop(); // lost the port to someone else: try another
    }
    return false;
}

bool DemoSchool::launch(const QStringList &args)
{
    m_args = args;
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(stageDir() + QStringLiteral("/tavi-demo-school"), args);
    if (!m_process.waitForStarted(5000))
        return false;
    return waitForPort(QStringLiteral("127.0.0.1"), m_port, 5000) &&
        (m_chatHost.isEmpty() || waitForPort(m_chatHost, 8282, 5000));
}

bool DemoSchool::restart()
{
    stop();
    return !m_args.isEmpty() && launch(m_args);
}

void DemoSchool::stop()
{
    m_process.stop();
}

QString DemoSchool::baseUrl() const
{
    return QStringLiteral("%1://127.0.0.1:%2").arg(m_certificate.isEmpty() ? "http" : "https").arg(m_port);
}

bool DemoSchool::writeSysConfig() const
{
    const QString chatHost = m_chatHost.isEmpty() ? QStringLiteral("127.0.0.1") : m_chatHost;
    const bool tls = !m_certificate.isEmpty();
    return testsupport::writeSysConfig(
        {{QStringLiteral("Url"), baseUrl()},
         {QStringLiteral("webUrl"), tls ? baseUrl() : QStringLiteral("127.0.0.1:%1").arg(m_port)},
         {QStringLiteral("chatUrl"), tls ? QStringLiteral("wss://%1:8282").arg(chatHost) : chatHost}});
}

bool DemoSchool::hostile(const QString &query) const
{
    int status = 0;
    httpGet(baseUrl() + QStringLiteral("/demo/hostile/set?") + query, &status);
    return status == 200;
}

int DemoSchool::hits(const QString &path) const
{
    const QByteArray body = httpGet(baseUrl() + QStringLiteral("/demo/hostile/hits?path=") +
                                    QString::fromLatin1(QUrl::toPercentEncoding(path)));
    return QJsonDocument::fromJson(body).object().value(QStringLiteral("hits")).toInt(-1);
}

} // namespace testsupport
