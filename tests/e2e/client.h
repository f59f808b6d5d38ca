#pragma once

#include "desktop.h"
#include "peerprocess.h"
#include "testsupport.h"

#include <QDir>
#include <QProcessEnvironment>
#include <QTest>
#include <QUrl>

#include <functional>

// One user's installation of the client (a copy of the stage in a folder of its own, pointing at the test's school) and
// its tavi process, with where its windows and their parts are on the display. The parts are placed by the main
// window's known layout: title and status bars 38 pixels high, the course panel and the chat panel 230 pixels wide.
class Client
{
public:
    explicit Client(const QString &name) : m_name(name), m_folder(QDir::current().absoluteFilePath(name)) {}
    ~Client() { kill(); }

    // A fresh installation: the stage's program files, and settings that point at the school (web at schoolUrl, chat at
    // chatHost) and at its update list; no installed version yet.
    bool install(const QString &schoolUrl, const QString &chatHost)
    {
        QDir(m_folder).removeRecursively();
        QDir().mkpath(m_folder);
        // With the stage's key: the first start takes the demo school's signed update.
        for (const QString file : {"tavi", "libtaviMainLib.so", "log.properties", "update.pub"})
            if (!QFile::copy(testsupport::stageDir() + '/' + file, m_folder + '/' + file))
                return false;
        return testsupport::writeFile(m_folder + "/etc/sysConfigue.ini",
                                      QStringLiteral("[TaviHttp]\nUrl=%1\nwebUrl=%2\nchatUrl=%3\n")
                                          .arg(schoolUrl, QUrl(schoolUrl).authority(), chatHost)
                                          .toUtf8()) &&
            testsupport::writeFile(m_folder + "/qupdater.ini",
                                   QStringLiteral("[UPDATEINFO]\nListURL=%1/update/list.xml\n\n[VERSION]\nVersion=\n")
                                       .arg(schoolUrl)
                                       .toUtf8());
    }
    bool start(const QProcessEnvironment &extra)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // The user's own folders (settings, videos) are the installation's, not the tester's.
        environment.insert(QStringLiteral("HOME"), home());
        environment.remove(QStringLiteral("XDG_CONFIG_HOME"));
        QDir().mkpath(home());
        environment.insert(extra);
        m_process.setProcessEnvironment(environment);
        m_process.setWorkingDirectory(m_folder);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setStandardOutputFile(m_folder + "/output.txt", QIODevice::Append);
        m_process.start(m_folder + "/tavi", QStringList());
        m_main = Desktop::Window();
        return m_process.waitForStarted(10000);
    }
    void kill()
    {
        if (isRunning())
            m_process.kill(), m_process.waitForFinished(10000);
    }
    // Asks the program to end (SIGTERM); true when it did within timeoutMs.
    bool terminate(int timeoutMs)
    {
        m_process.terminate();
        return !isRunning() || m_process.waitForFinished(timeoutMs);
    }
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    qint64 pid() const { return m_process.processId(); }
    QString folder() const { return m_folder; }
    QString home() const { return m_folder + QStringLiteral("/home"); }
    QString name() const { return m_name; }
    // Tail of what the program printed.
    QString output() const { return QString::fromUtf8(testsupport::readFile(m_folder + "/output.txt").right(4000)); }

    // Waits for a window of the program that matches; false after timeoutMs.
    bool waitForWindow(const std::function<bool(const Desktop::Window &)> &match, int timeoutMs,
                       Desktop::Window *found = nullptr) const
    {
        bool seen = false;
        (void)QTest::qWaitFor(
            [&] {
                for (const Desktop::Window &w : Desktop::windows(pid()))
                    if (match(w)) {
                        if (found)
                            *found = w;
                        return seen = true;
                    }
                return !isRunning();
            },
            timeoutMs);
        return seen;
    }
    static bool isLogin(const Desktop::Window &w)
    {
        return w.geometry.width() == 430 && w.geometry.height() >= 256 && w.geometry.height() <= 286;
    }
    static bool isMain(const Desktop::Window &w) { return w.geometry.width() >= 1180 && w.geometry.height() >= 600; }
    static bool isQuestion(const Desktop::Window &w) { return w.geometry.size() == QSize(430, 160); }
    // Looks for the main window; main() is its place as last seen here.
    bool mainWindow()
    {
        for (const Desktop::Window &w : Desktop::windows(pid()))
            if (isMain(w))
                return m_main = w, true;
        return false;
    }
    Desktop::Window main() const { return m_main; }

    QRect coursePanel() const { return QRect(g().left(), g().top() + kBar, kPanel, g().height() - 2 * kBar); }
    QRect screenArea() const
    {
        return QRect(g().left() + kPanel, g().top() + kBar, g().width() - 2 * kPanel, g().height() - 2 * kBar);
    }
    QRect chatPanel() const
    {
        return QRect(g().right() + 1 - kPanel, g().top() + kBar, kPanel, g().height() - 2 * kBar);
    }

private:
    static constexpr int kBar = 38;
    static constexpr int kPanel = 230;
    QRect g() const { return m_main.geometry; }

    QString m_name;
    QString m_folder;
    testsupport::PeerProcess m_process;
    Desktop::Window m_main;
};
