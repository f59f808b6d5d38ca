#pragma once

#include "atspi.h"
#include "desktop.h"
#include "peerprocess.h"
#include "pixels.h"
#include "testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <QSettings>
#include <QTest>
#include <QUrl>

#include <functional>
#include <memory>

// One user's installation of the client (a copy of the stage in a folder of its own, pointing at the test's school) and
// its tavi process, with where its windows and their parts are on the display it runs on (the test's, or the DISPLAY
// given at start), at the desktop's scale. The parts are placed by the main window's known layout: title and status
// bars 38 pixels high, the course panel and the chat panel 230 pixels wide.
class Client
{
public:
    enum Kind {
        Any,
        Login,
        Main,
        Progress,
        Question,
        Recorder
    };
    using Match = std::function<bool(const Desktop::Window &)>;

    explicit Client(const QString &name, double scale = 1)
        : m_name(name), m_folder(QDir::current().absoluteFilePath(name)), m_scale(scale)
    {
    }
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
        // On the accessibility bus when the test has one (tests/e2e/atspi-session.sh): its controls are found there.
        if (Atspi::missing().isEmpty())
            environment.insert(Atspi::environment());
        environment.insert(extra);
        m_display = extra.value(QStringLiteral("DISPLAY"));
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
    int scaled(int length) const { return qRound(length * m_scale); }

    // xdotool and the window lists go to the client's display.
    void on() const { Desktop::setDisplay(m_display); }
    // What the display shows, with only the client's windows on a display of its own.
    QImage shot() const
    {
        on();
        return m_display.isEmpty() ? Desktop::shot() : Desktop::shotOf(Desktop::windows(pid()));
    }

    bool is(Kind kind, const Desktop::Window &w) const
    {
        const int width = w.geometry.width(), height = w.geometry.height();
        switch (kind) {
        case Login:
            return std::abs(width - scaled(430)) <= 1 && height >= scaled(256) - 1 && height <= scaled(286) + 1;
        case Main:
            return width >= scaled(1180) - 1 && height >= scaled(600) - 1;
        case Progress: // the launcher's download, 600 wide at least
            return width >= scaled(600) - 1 && height < scaled(300);
        case Question:
            return w.geometry.size() == QSize(430, 160);
        case Recorder:
            return width >= 300 && width <= 520 && height >= 250 && height <= 450;
        default:
            return true;
        }
    }
    // Waits for a window of the program that matches; false after timeoutMs.
    bool waitFor(const Match &match, int timeoutMs, Desktop::Window *found = nullptr) const
    {
        bool seen = false;
        (void)QTest::qWaitFor(
            [&] {
                on();
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
    bool waitFor(Kind kind, int timeoutMs, Desktop::Window *found = nullptr) const
    {
        return waitFor([=](const Desktop::Window &w) { return is(kind, w); }, timeoutMs, found);
    }
    // Looks for the main window; main() is its place as last seen here.
    bool mainWindow() { return waitFor(Main, 0, &m_main); }
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

    // On a compositor's display (XWayland), which centres a window after mapping it and gives it the keyboard later.
    bool composited = false;

private:
    static constexpr int kBar = 38;
    static constexpr int kPanel = 230;
    QRect g() const { return m_main.geometry; }

    QString m_name;
    QString m_folder;
    double m_scale;
    QString m_display;
    testsupport::PeerProcess m_process;
    Desktop::Window m_main;
};

// The steps through a teacher's and a student's windows that the tests driving whole clients share. A step that fails
// returns false and keeps why, with the tail of each client's output, and a screenshot failed-N.png.
class ClientDriver
{
protected:
    static inline const QColor kSlate{48, 62, 84}; // "确定" of the dialogs and the sign-in button
    static inline const QColor kOrange{251, 174, 67}; // the course entries' buttons

    std::unique_ptr<Client> teacher;
    std::unique_ptr<Client> student;
    QString why;
    QElapsedTimer clock; // since the last 确定 that entered a class
    QImage signInShot; // the last sign-in dialog, painted

    static QPoint aside() { return QPoint(8, 8); } // nothing there reacts to the pointer

    // Why the tests cannot run here (empty when they can): they need the X display and PulseAudio session of ./run test
    // and a display of 1920 x 1080 at least, whose size they take.
    static QString sessionMissing(QSize *display)
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY") || qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            return QStringLiteral("needs the X display and PulseAudio session of ./run test");
        *display = Desktop::size();
        if (display->width() < 1800 || display->height() < 1000)
            return QStringLiteral("needs a display of 1920 x 1080");
        return QString();
    }

    // Half-size, that part of the display, for the README: into the folder TAVI_E2E_SHOTS names, when it is set.
    static void keepShot(const QString &name, const QRect &area)
    {
        const QString folder = qEnvironmentVariable("TAVI_E2E_SHOTS");
        if (folder.isEmpty())
            return;
        const QImage shot = Desktop::shot().copy(area);
        shot.scaled(shot.size() / 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
            .save(folder + QLatin1Char('/') + name, "PNG", 0);
    }

    bool fail(const QString &what)
    {
        why = what;
        static int n = 0;
        Desktop::setDisplay(QString());
        Desktop::shot().save(QStringLiteral("failed-%1.png").arg(++n));
        for (const Client *client : {teacher.get(), student.get()})
            if (client)
                why += "\n-- " + client->name() + ":\n" + client->output().right(1500);
        return false;
    }

    // The enter and confirm buttons of the course entries, top to bottom.
    static QList<QRect> courseButtons(const QImage &shot, const Client &client)
    {
        QList<QRect> buttons;
        for (const QRect &band :
             Pixels::bands(shot, client.coursePanel().adjusted(10, 0, -100, 0), Pixels::near(kOrange, 1), 20))
            if (band.width() >= 70)
                buttons.append(band);
        return buttons;
    }

    // The first window after the download's progress (shown only while it lasts, and never clicked: Enter would cancel
    // it): on a fresh installation the launcher has installed the school's update and says so, else the sign-in dialog.
    // The message is clicked, which gives it the keyboard (the other client's window may hold it: there is no window
    // manager), and clicked away with Enter, again while it stays (one that maps before it takes keys); then the user
    // signs in with Enter or with the sign-in button, whose text must lie whole in it.
    bool signIn(Client &client, const QString &user, bool fresh, bool withEnter = true)
    {
        client.on();
        Desktop::Window first, login;
        const auto message = [&](const Desktop::Window &w) {
            return !client.is(Client::Progress, w) && !client.is(Client::Login, w);
        };
        if (!client.waitFor([&](const Desktop::Window &w) { return !client.is(Client::Progress, w); }, 30000, &first))
            return fail(client.name() + QStringLiteral(": no window"));
        if (client.is(Client::Login, first) == fresh)
            return fail(client.name() +
                        (fresh ? QStringLiteral(": no update message on the first start")
                               : QStringLiteral(": the update message came again")));
        const auto clickedAway = [&] {
            if (client.waitFor(Client::Login, 0, &login))
                return true;
            Desktop::Window shown;
            if (client.waitFor(message, 0, &shown)) {
                Desktop::click(shown.geometry.center());
                Desktop::key(QStringLiteral("Return"));
            }
            return client.waitFor(Client::Login, 1000, &login);
        };
        if (!QTest::qWaitFor(clickedAway, 20000))
            return fail(client.name() + QStringLiteral(": no sign-in dialog"));
        if (fresh && !QFile::exists(client.folder() + QStringLiteral("/doc/更新 说明.txt")))
            return fail(client.name() + QStringLiteral(": the update was not installed"));
        QSettings updater(client.folder() + QStringLiteral("/qupdater.ini"), QSettings::IniFormat);
        if (fresh && updater.value(QStringLiteral("VERSION/Version")).toString().isEmpty())
            return fail(client.name() + QStringLiteral(": the installed version was not recorded"));
        // Typing and clicking wait for the compositor to centre the dialog and give it the keyboard.
        QByteArray focus;
        const auto settled = [&] {
            const QPoint middle = QRect(QPoint(0, 0), Desktop::size()).center();
            return client.waitFor(
                       [&](const Desktop::Window &w) {
                           return client.is(Client::Login, w) && (w.geometry.center() - middle).manhattanLength() <= 2;
                       },
                       0, &login) &&
                Desktop::xdotool({"getwindowfocus"}, &focus) && focus.trimmed() == login.id;
        };
        if (client.composited && !QTest::qWaitFor(settled, 15000))
            return fail(client.name() + QStringLiteral(": the sign-in dialog never settled with the keyboard"));
        // The fields sit 100 and 135 pixels down, 200 wide, centred; the button from 170 down.
        const QRect g = login.geometry;
        const int middle = g.left() + client.scaled(215);
        const QRect below(g.left(), g.top() + client.scaled(170), g.width(), g.height() - client.scaled(170));
        QRect button, text;
        const auto painted = [&] {
            const QImage shot = client.shot();
            signInShot = shot.copy(g);
            const QRect rows =
                Pixels::bounds(shot, QRect(middle, below.top(), 1, below.height()), Pixels::near(kSlate, 2));
            button = Pixels::bounds(shot, QRect(below.left(), rows.top(), below.width(), rows.height()),
                                    Pixels::near(kSlate, 2));
            text = Pixels::bounds(shot, button, [](QRgb p) { return qGray(p) > 200; });
            return button.height() >= 15;
        };
        if (!withEnter && !QTest::qWaitFor(painted, 10000))
            return fail(client.name() + QStringLiteral(": no sign-in button"));
        if (!withEnter && (text.height() < client.scaled(9) || !button.adjusted(2, 2, -2, -2).contains(text)))
            return fail(QStringLiteral("%1: the sign-in button's text %2x%3 in a button %4x%5")
                            .arg(client.name())
                            .arg(text.width())
                            .arg(text.height())
                            .arg(button.width())
                            .arg(button.height()));
        client.on();
        if (!Desktop::click(QPoint(middle, g.top() + client.scaled(115))) || !Desktop::type(user) ||
            !Desktop::click(QPoint(middle, g.top() + client.scaled(150))) || !Desktop::type(QStringLiteral("123456")) ||
            !(withEnter ? Desktop::key(QStringLiteral("Return")) : Desktop::click(QPoint(middle, button.center().y()))))
            return fail(QStringLiteral("xdotool"));
        if (!client.waitFor(Client::Main, 15000) || !client.mainWindow())
            return fail(client.name() + QStringLiteral(": no main window after signing in"));
        return !client.waitFor(Client::Login, 0) || fail(client.name() + QStringLiteral(": the sign-in dialog stayed"));
    }

    // "确认上课" or "进入课堂" of the first entry (the one-to-one class), then "确定" in the question.
    bool enterClass(Client &client)
    {
        QList<QRect> buttons;
        if (!QTest::qWaitFor([&] { return !(buttons = courseButtons(client.shot(), client)).isEmpty(); }, 10000))
            return fail(client.name() + QStringLiteral(": no course button"));
        Desktop::click(buttons.first().center());
        if (!answer(client, true))
            return false;
        clock.start();
        return true;
    }

    // Answers the question box the client shows with "确定" or "取消", found by name in its accessibility tree.
    bool answer(Client &client, bool ok)
    {
        if (!client.waitFor(Client::Question, 5000))
            return fail(client.name() + QStringLiteral(": no question"));
        Atspi ui(QStringLiteral("tavi"), client.pid());
        const QString name = ok ? QStringLiteral("确定") : QStringLiteral("取消");
        if (!ui.waitFor(QStringLiteral("push button"), name, 5000) || !ui.press(QStringLiteral("push button"), name))
            return fail(client.name() + QStringLiteral(": ") + ui.lastError());
        if (!QTest::qWaitFor([&] { return !client.waitFor(Client::Question, 0); }, 5000))
            return fail(client.name() + QStringLiteral(": the question stayed"));
        // Where a click would have left it: nothing under the pointer shows its hover.
        Desktop::moveTo(aside());
        return true;
    }

    void endClients()
    {
        // The programs end when asked to, in class or not.
        for (Client *client : {teacher.get(), student.get()})
            if (client)
                QVERIFY2(client->terminate(10000), qPrintable(client->name() + QStringLiteral(" ignores SIGTERM")));
    }
};
