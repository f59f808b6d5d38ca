// A student's class without the pointer: once through the accessibility tree as a screen reader sees it (in English),
// once by keyboard alone (in Chinese). Each signs in, enters the one-to-one class of the demo school, sends a chat line
// that the class receives, and leaves. Controls are found by role and accessible name (tests/e2e/atspi.py), never by
// their place on the screen.
#include "atspi.h"
#include "chatpeer.h"
#include "client.h"
#include "demoschool.h"
#include "nginxrtmp.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {
QString randomWord()
{
    return QString::number(QRandomGenerator::global()->bounded(1u << 30), 36);
}
} // namespace

class TestAccess : public QObject, public ClientDriver
{
    Q_OBJECT

    testsupport::NginxRtmp nginx;
    testsupport::DemoSchool school;
    testsupport::ChatPeer peer;

    // Starts a fresh installation in that language with the accessibility bus on, and answers the launcher's
    // message about the update it installed.
    bool startClient(Client &client, const QString &language, Atspi &ui, const QString &ok)
    {
        QProcessEnvironment env = Atspi::environment();
        env.insert(QStringLiteral("TAVI_LANG"), language);
        if (!client.install(school.baseUrl(), school.chatHost()) || !client.start(env))
            return fail(client.name() + QStringLiteral(": did not start"));
        ui.setPid(client.pid());
        return (ui.waitFor(QStringLiteral("push button"), ok, 30000) && ui.press(QStringLiteral("push button"), ok)) ||
            fail(client.name() + QStringLiteral(": the update message: ") + ui.lastError());
    }

    bool classGot(const QString &line)
    {
        return peer.waitFor(
                   1, 4, [&](const QJsonObject &c) { return c.value(QStringLiteral("info")).toString() == line; },
                   10000) ||
            fail(QStringLiteral("the class never got \"%1\"").arg(line));
    }

    // Tab until the focus is on that control ("role\tname" as Atspi::focused() says it, or its start).
    bool tabTo(Client &client, Atspi &ui, const QString &focused)
    {
        client.on();
        QStringList seen;
        for (int i = 0; i < 30; ++i) {
            seen << ui.focused();
            if (seen.last().startsWith(focused))
                return true;
            Desktop::key(QStringLiteral("Tab"));
        }
        return fail(QStringLiteral("Tab never reached %1; it went %2").arg(focused, seen.join(QStringLiteral(", "))));
    }

private slots:
    void initTestCase()
    {
        QSize display;
        const QString missing = sessionMissing(&display);
        if (!missing.isEmpty())
            QSKIP(qPrintable(missing));
        if (!Atspi::missing().isEmpty())
            QSKIP(qPrintable(Atspi::missing()));
        QVERIFY(nginx.start());
        school.setChatHost(testsupport::freeLoopbackHost());
        QVERIFY(school.start(nginx.url(QString()).chopped(1)));
        // A member of the class hears what the server passes on.
        QVERIFY(peer.signIn(school.baseUrl(), QStringLiteral("tutor")));
        QVERIFY(peer.open(school.chatHost()));
        peer.join(QStringLiteral("101"));
        QVERIFY(peer.waitFor(1, 1, [](const QJsonObject &) { return true; }));
    }

    void throughTheReaderInEnglish()
    {
        Client client(QStringLiteral("reader"));
        Atspi ui(QStringLiteral("tavi"));
        QVERIFY2(startClient(client, QStringLiteral("en"), ui, QStringLiteral("OK")), qPrintable(why));
        const QString button = QStringLiteral("push button");

        QVERIFY2(ui.waitFor(QStringLiteral("text"), QStringLiteral("User name"), 10000), qPrintable(ui.lastError()));
        QVERIFY2(ui.setText(QStringLiteral("text"), QStringLiteral("User name"), QStringLiteral("student")),
                 qPrintable(ui.lastError()));
        QVERIFY2(ui.setText(QStringLiteral("password text"), QStringLiteral("Password"), QStringLiteral("123456")),
                 qPrintable(ui.lastError()));
        QVERIFY2(ui.press(button, QStringLiteral("Sign in")), qPrintable(ui.lastError()));

        // Today's courses: each row named by its course, lesson, time and kind.
        ui.setMatch(true);
        QVERIFY2(ui.waitFor(QStringLiteral("list item"), QStringLiteral("1-on-1"), 15000), qPrintable(ui.lastError()));
        ui.setMatch(false);
        // A reader's user goes to the list's first course and enters it as the keyboard does (the rows' buttons are
        // no accessibles of their own: Qt leaves a list's item widgets out of its tree).
        QVERIFY2(QTest::qWaitFor([&] { return client.mainWindow(); }, 10000), "no main window");
        QVERIFY(Desktop::xdotool({"windowfocus", "--sync", client.main().id}));
        QVERIFY2(tabTo(client, ui, QStringLiteral("list item\tPython")), qPrintable(why));
        QVERIFY(Desktop::key(QStringLiteral("Return")));
        QVERIFY2(ui.waitFor(button, QStringLiteral("OK"), 5000), qPrintable(ui.lastError()));
        QVERIFY2(ui.press(button, QStringLiteral("OK")), qPrintable(ui.lastError()));

        // In the class, the teacher not there yet; its bar's links are buttons.
        QVERIFY2(ui.waitFor(QStringLiteral("label"), QStringLiteral("Waiting for the teacher to start…"), 10000),
                 qPrintable(ui.lastError()));
        QVERIFY2(ui.waitFor(button, QStringLiteral("End"), 5000), qPrintable(ui.lastError()));

        const QString line = QStringLiteral("reader ") + randomWord();
        peer.clearReceived();
        QVERIFY2(ui.setText(QStringLiteral("text"), QStringLiteral("Chat message"), line), qPrintable(ui.lastError()));
        QVERIFY2(ui.press(button, QStringLiteral("Send")), qPrintable(ui.lastError()));
        QVERIFY2(classGot(line), qPrintable(why));
        // With TAVI_E2E_SHOTS set, the README's picture of the English interface.
        keepShot(QStringLiteral("language-en.png"), client.main().geometry);

        QVERIFY2(ui.press(button, QStringLiteral("End")), qPrintable(ui.lastError()));
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         return !ui.waitFor(QStringLiteral("label"),
                                            QStringLiteral("Waiting for the teacher to start…"), 0);
                     },
                     10000),
                 "the class stayed after [End]");
        client.kill();
    }

    void byKeyboardAloneInChinese()
    {
        Client client(QStringLiteral("keyboard"));
        Atspi ui(QStringLiteral("tavi"));
        QVERIFY2(startClient(client, QStringLiteral("zh"), ui, QStringLiteral("确定")), qPrintable(why));
        // The sign-in dialog takes typing at once: name, Tab, password, Enter.
        QVERIFY2(ui.waitFor(QStringLiteral("text"), QStringLiteral("用户名"), 10000), qPrintable(ui.lastError()));
        client.on();
        QVERIFY2(QTest::qWaitFor([&] { return ui.focused() == QStringLiteral("text\t用户名"); }, 10000),
                 qPrintable(QStringLiteral("the name does not have the focus: ") + ui.focused()));
        QVERIFY(Desktop::type(QStringLiteral("student")));
        QVERIFY(Desktop::key(QStringLiteral("Tab")));
        QVERIFY(Desktop::type(QStringLiteral("123456")));
        QVERIFY(Desktop::key(QStringLiteral("Return")));

        // The course list: the arrows choose a course, Enter enters it, Enter answers the question's "确定".
        QVERIFY2(ui.waitFor(QStringLiteral("list"), QStringLiteral("今日课程"), 15000), qPrintable(ui.lastError()));
        ui.setMatch(true);
        QVERIFY2(ui.waitFor(QStringLiteral("list item"), QStringLiteral("一对一"), 15000), qPrintable(ui.lastError()));
        ui.setMatch(false);
        QVERIFY2(QTest::qWaitFor([&] { return client.mainWindow(); }, 10000), "no main window");
        // What a window manager does with a new window: it gets the keyboard.
        QVERIFY(Desktop::xdotool({"windowfocus", "--sync", client.main().id}));
        // The list's focus is on its current course: the first.
        QVERIFY2(tabTo(client, ui, QStringLiteral("list item\tPython")), qPrintable(why));
        QVERIFY(Desktop::key(QStringLiteral("Down")));
        QVERIFY(Desktop::key(QStringLiteral("Home")));
        QVERIFY(Desktop::key(QStringLiteral("Return")));
        QVERIFY2(ui.waitFor(QStringLiteral("push button"), QStringLiteral("确定"), 5000), qPrintable(ui.lastError()));
        QVERIFY2(QTest::qWaitFor([&] { return ui.focused() == QStringLiteral("push button\t确定"); }, 5000),
                 qPrintable(QStringLiteral("the question does not have the focus: ") + ui.focused()));
        QVERIFY(Desktop::key(QStringLiteral("Return")));
        QVERIFY2(ui.waitFor(QStringLiteral("label"), QStringLiteral("等待老师开始上课…"), 10000),
                 qPrintable(ui.lastError()));
        // The question gone, the window manager gives the keyboard back to the main window.
        QVERIFY(Desktop::xdotool({"windowfocus", "--sync", client.main().id}));

        // The chat's input (just before "发言"; a reader hears the input's inner view as it takes the focus), a line
        // and Enter.
        QVERIFY2(tabTo(client, ui, QStringLiteral("push button\t发言")), qPrintable(why));
        QVERIFY(Desktop::key(QStringLiteral("shift+Tab")));
        const QString line = QStringLiteral("keys ") + randomWord();
        peer.clearReceived();
        QVERIFY(Desktop::type(line));
        QVERIFY(Desktop::key(QStringLiteral("Return")));
        QVERIFY2(classGot(line), qPrintable(why));
        keepShot(QStringLiteral("language-zh.png"), client.main().geometry);

        // On to [结束], and Space.
        QVERIFY2(tabTo(client, ui, QStringLiteral("push button\t结束")), qPrintable(why));
        QVERIFY(Desktop::key(QStringLiteral("space")));
        QVERIFY2(
            QTest::qWaitFor(
                [&] { return !ui.waitFor(QStringLiteral("label"), QStringLiteral("等待老师开始上课…"), 0); }, 10000),
            "the class stayed after [结束]");
        client.kill();
    }
};

QTEST_MAIN(TestAccess)
#include "tst_e2e_access.moc"
