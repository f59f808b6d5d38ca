#pragma once

#include "desktop.h"
#include "peerprocess.h"

#include <QProcessEnvironment>
#include <QRect>
#include <QString>

#include <functional>

// One user's installation of the client (a copy of the stage in a folder
// of its own, pointing at the test's school) and its tavi process, with
// where its windows and their parts are on the display. The parts are
// placed by the main window's known layout: title and status bars 38
// pixels high, the course panel and the chat panel 230 pixels wide.
class Client
{
public:
    explicit Client(const QString &name);
    ~Client();

    // A fresh installation: the stage's program files, and settings that
    // point at the school (web at schoolUrl, chat at chatHost) and at its
    // update list; no installed version yet.
    bool install(const QString &schoolUrl, const QString &chatHost);
    bool start(const QProcessEnvironment &extra);
    void kill();
    // Asks the program to end (SIGTERM); true when it did within timeoutMs.
    bool terminate(int timeoutMs);
    bool isRunning() const;
    qint64 pid() const;
    QString folder() const { return m_folder; }
    QString name() const { return m_name; }
    // Tail of what the program printed.
    QString output() const;

    // Waits for a window of the program that matches; false after timeoutMs.
    bool waitForWindow(const std::function<bool(const Desktop::Window &)> &match, int timeoutMs,
                       Desktop::Window *found = nullptr) const;
    static bool isLogin(const Desktop::Window &w);
    static bool isMain(const Desktop::Window &w);
    static bool isQuestion(const Desktop::Window &w);
    // The main window's place, as last seen by mainWindow().
    bool mainWindow(Desktop::Window *found = nullptr);
    Desktop::Window main() const { return m_main; }

    QRect coursePanel() const;
    QRect screenArea() const;
    QRect chatPanel() const;
    QRect titleBar() const;

private:
    QString m_name;
    QString m_folder;
    testsupport::PeerProcess m_process;
    Desktop::Window m_main;
};
