#include "client.h"

#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <QUrl>

#include <csignal>

namespace {
const int kBar = 38;
const int kPanel = 230;
} // namespace

Client::Client(const QString &name) : m_name(name), m_folder(QDir::current().absoluteFilePath(name)) {}

Client::~Client()
{
    kill();
}

bool Client::install(const QString &schoolUrl, const QString &chatHost)
{
    QDir(m_folder).removeRecursively();
    if (!QDir().mkpath(m_folder + QStringLiteral("/etc")))
        return false;
    const QString stage = testsupport::stageDir();
    // With the stage's key: the first start takes the demo school's signed update.
    for (const char *file : {"tavi", "libtaviMainLib.so", "log.properties", "update.pub"}) {
        if (!QFile::copy(stage + QLatin1Char('/') + QLatin1String(file),
                         m_folder + QLatin1Char('/') + QLatin1String(file)))
            return false;
    }
    const QString host = QUrl(schoolUrl).authority();
    QFile config(m_folder + QStringLiteral("/etc/sysConfigue.ini"));
    QFile updater(m_folder + QStringLiteral("/qupdater.ini"));
    if (!config.open(QIODevice::WriteOnly) || !updater.open(QIODevice::WriteOnly))
        return false;
    config.write(QStringLiteral("[TaviHttp]\nUrl=%1\nwebUrl=%2\nchatUrl=%3\n").arg(schoolUrl, host, chatHost).toUtf8());
    updater.write(
        QStringLiteral("[UPDATEINFO]\nListURL=%1/update/list.xml\n\n[VERSION]\nVersion=\n").arg(schoolUrl).toUtf8());
    return true;
}

bool Client::start(const QProcessEnvironment &extra)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(extra);
    m_process.setProcessEnvironment(environment);
    m_process.setWorkingDirectory(m_folder);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_folder + QStringLiteral("/output.txt"), QIODevice::Append);
    m_process.start(m_folder + QStringLiteral("/tavi"), QStringList());
    m_main = Desktop::Window();
    return m_process.waitForStarted(10000);
}

void Client::kill()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(10000);
}

bool Client::terminate(int timeoutMs)
{
    if (m_process.state() == QProcess::NotRunning)
        return true;
    m_process.terminate();
    return m_process.waitForFinished(timeoutMs);
}

bool Client::isRunning() const
{
    return m_process.state() == QProcess::Running;
}

qint64 Client::pid() const
{
    return m_process.processId();
}

QString Client::output() const
{
    QFile file(m_folder + QStringLiteral("/output.txt"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray all = file.readAll();
    return QString::fromUtf8(all.right(4000));
}

bool Client::waitForWindow(const std::function<bool(const Desktop::Window &)> &match, int timeoutMs,
                           Desktop::Window *found) const
{
    bool seen = false;
    QTest::qWaitFor(
        [&] {
            for (const Desktop::Window &w : Desktop::windows(pid())) {
                if (match(w)) {
                    if (found)
                        *found = w;
                    return seen = true;
                }
            }
            return !isRunning();
        },
        timeoutMs);
    return seen;
}

bool Client::isLogin(const Desktop::Window &w)
{
    return w.geometry.width() == 430 && w.geometry.height() >= 256 && w.geometry.height() <= 286;
}

bool Client::isMain(const Desktop::Window &w)
{
    return w.geometry.width() >= 1180 && w.geometry.height() >= 600;
}

bool Client::isQuestion(const Desktop::Window &w)
{
    return w.geometry.size() == QSize(430, 160);
}

bool Client::mainWindow(Desktop::Window *found)
{
    for (const Desktop::Window &w : Desktop::windows(pid())) {
        if (isMain(w)) {
            m_main = w;
            if (found)
                *found = w;
            return true;
        }
    }
    return false;
}

QRect Client::titleBar() const
{
    const QRect g = m_main.geometry;
    return QRect(g.left(), g.top(), g.width(), kBar);
}

QRect Client::coursePanel() const
{
    const QRect g = m_main.geometry;
    return QRect(g.left(), g.top() + kBar, kPanel, g.height() - 2 * kBar);
}

QRect Client::screenArea() const
{
    const QRect g = m_main.geometry;
    return QRect(g.left() + kPanel, g.top() + kBar, g.width() - 2 * kPanel, g.height() - 2 * kBar);
}

QRect Client::chatPanel() const
{
    const QRect g = m_main.geometry;
    return QRect(g.right() + 1 - kPanel, g.top() + kBar, kPanel, g.height() - 2 * kBar);
}
