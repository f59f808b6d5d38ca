// Screen sharing on a Wayland desktop (the headless sway desktop of session.sh). tavi-record: the desktop portal's
// dialog (the chooser of the session's portal backend) is answered, cancelled, left open while the recording is
// stopped, or not asked again once a choice is remembered; the output is painted one colour after another and the
// published stream must show them in that order. Then a class with the teacher there and the student on X11: the
// teacher's client runs through XWayland and shares that desktop through the portal; the student's runs on the Xvfb
// display of ./run test. Both are driven through their windows (xdotool on each display); the student's classroom
// screen must show the teacher's desktop in each colour it is painted. (Dragging the teacher's window is the
// compositor's there, with a pointer the headless sway does not have.)

#include "../e2e/client.h"
#include "base/picturefit.h"
#include "demoschool.h"
#include "nginxrtmp.h"
#include "publisher.h"

#include <QtTest>

namespace {
const QColor kMagenta(200, 40, 180);
const QColor kTeal(30, 170, 160);

enum Colour {
    Red,
    Green,
    Blue,
    Other
};
const QColor kColours[] = {QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 255)};

Colour classify(const uchar *rgb)
{
    for (int c = 0; c < 3; ++c)
        if (Pixels::distance(QColor(rgb[0], rgb[1], rgb[2]), kColours[c]) < 48)
            return Colour(c);
    return Other;
}

bool paint(const QColor &colour)
{
    return testsupport::run(QStringLiteral("swaymsg"), {"output", "HEADLESS-1", "bg", colour.name(), "solid_color"});
}
} // namespace

class tst_wayland : public QObject, public ClientDriver
{
    Q_OBJECT

    testsupport::NginxRtmp nginx;
    testsupport::DemoSchool school;
    QSize waylandSize;
    int streams = 0;

    // Whether the student's classroom screen shows the teacher's desktop in
    // that colour, above the teacher's window.
    bool studentSees(const QColor &colour, QColor *seen)
    {
        // The desktop's picture in the screen, in its proportions.
        const QRect area = student->screenArea();
        const QSize size = fittedPictureSize(waylandSize, area.size());
        const QRect screen(area.left() + (area.width() - size.width()) / 2,
                           area.top() + (area.height() - size.height()) / 2, size.width(), size.height());
        const int band = teacher->main().geometry.top();
        const QRect above(screen.left() + screen.width() / 8,
                          screen.top() + band * screen.height() / waylandSize.height() / 4, screen.width() * 3 / 4,
                          band * screen.height() / waylandSize.height() / 2);
        *seen = Pixels::mean(student->shot(), above);
        return Pixels::distance(*seen, colour) <= 40;
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsSet("TAVI_WAYLAND_SKIP"))
            QSKIP(qPrintable(QStringLiteral("no Wayland desktop: ") + qEnvironmentVariable("TAVI_WAYLAND_SKIP")));
        if (qEnvironmentVariableIsEmpty("DISPLAY") || qEnvironmentVariableIsEmpty("TAVI_WAYLAND_X11"))
            QSKIP("needs the X display of ./run test and XWayland in the Wayland desktop");
        Desktop::setDisplay(qEnvironmentVariable("TAVI_WAYLAND_X11"));
        waylandSize = Desktop::size();
        QVERIFY(waylandSize.width() >= 1280 && waylandSize.height() >= 700);
        nginx.setStatPage(true);
        QVERIFY(nginx.start());
        school.setChatHost(testsupport::freeLoopbackHost());
        QVERIFY(school.start(nginx.url(QString()).chopped(1)));
    }

    // Rows run in order: the choice of "chosen" is the one "remembered" restores.
    void shareDesktop_data()
    {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<bool>("withPortal");
        QTest::addColumn<QString>("message");
        QTest::newRow("no portal") << "HEADLESS-1" << false << QStringLiteral("出错了,桌面不提供屏幕共享");
        QTest::newRow("cancelled") << "cancel" << true << QStringLiteral("出错了,屏幕共享被取消或拒绝！");
        // Stopped while the dialog is open: ends without waiting for it, and says nothing.
        QTest::newRow("stopped while asked") << "" << true << QString();
        QTest::newRow("chosen") << "HEADLESS-1" << true << QString();
        QTest::newRow("remembered") << "cancel" << true << QString();
    }

    void shareDesktop()
    {
        QFETCH(QString, choice);
        QFETCH(bool, withPortal);
        QFETCH(QString, message);
        QVERIFY(testsupport::writeFile(qEnvironmentVariable("TAVI_WAYLAND_CHOICE"), choice.toUtf8()));
        QVERIFY(paint(kColours[Red]));
        const QString url = nginx.url(QStringLiteral("wayland%1").arg(++streams));
        testsupport::PeerProcess record;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!withPortal)
            env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
        record.setProcessEnvironment(env);
        record.setWorkingDirectory(testsupport::stageDir());
        record.start(testsupport::stageDir() + QStringLiteral("/tavi-record"), {url, "--seconds", "120"});
        QVERIFY(record.waitForStarted());

        if (choice.isEmpty()) {
            const QString asked = qEnvironmentVariable("TAVI_WAYLAND_CHOICE") + QStringLiteral(".asked");
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(asked), 15000);
            record.terminate();
            // Well within the dialog's 30 s.
            QVERIFY(record.waitForFinished(15000));
            QCOMPARE(record.exitCode(), 0);
            QVERIFY(QFile::exists(asked));
            QVERIFY(!QString::fromUtf8(record.readAllStandardError()).contains(QStringLiteral("出错了")));
            return;
        }
        if (!message.isEmpty()) {
            // Told at once, and nothing published: never a black class.
            QVERIFY(record.waitForFinished(30000));
            QCOMPARE(record.exitCode(), 1);
            const QString errors = QString::fromUtf8(record.readAllStandardError());
            QVERIFY2(errors.contains(message), qPrintable(errors));
            QVERIFY(testsupport::codecs(url, 3000).isEmpty());
            return;
        }

        QVERIFY(testsupport::waitForCodecs(url, {"aac", "h264"}));
        // The centre of each decoded picture, as one RGB pixel.
        testsupport::PeerProcess player;
        player.start(QStringLiteral("ffmpeg"),
                     {"-hide_banner", "-loglevel", "error", "-nostdin", "-i", url, "-an", "-vf",
                      "crop=32:32:iw/2-16:ih/2-16,scale=1:1", "-pix_fmt", "rgb24", "-f", "rawvideo", "pipe:1"});
        QVERIFY(player.waitForStarted());
        QVector<Colour> seen;
        const auto decoded = [&](Colour colour, int count) {
            while (player.bytesAvailable() >= 3) {
                const QByteArray pixel = player.read(3);
                seen << classify(reinterpret_cast<const uchar *>(pixel.constData()));
            }
            return seen.count(colour) >= count;
        };
        // A still desktop sends one picture; the class goes on at 25 a second.
        QTRY_VERIFY_WITH_TIMEOUT(decoded(Red, 50), 30000);
        QVERIFY(paint(kColours[Green]));
        QTRY_VERIFY_WITH_TIMEOUT(decoded(Green, 25), 15000);
        QVERIFY(paint(kColours[Blue]));
        QTRY_VERIFY_WITH_TIMEOUT(decoded(Blue, 25), 15000);
        player.stop();

        // Each colour in turn, none back after the next: runs of a few
        // pictures of another colour are the encoder settling.
        QVector<Colour> order;
        for (int i = 0, run = 0; i < seen.size(); ++i) {
            run = i > 0 && seen[i] == seen[i - 1] ? run + 1 : 1;
            if (run == 4 && seen[i] != Other && (order.isEmpty() || order.last() != seen[i]))
                order << seen[i];
        }
        QCOMPARE(order, (QVector<Colour>{Red, Green, Blue}));

        record.terminate();
        QVERIFY(record.waitForFinished(30000));
        QCOMPARE(record.exitCode(), 0);
    }

    // The teacher on Wayland, the student on X11.
    void classAcrossDesktops()
    {
        QVERIFY(testsupport::writeFile(qEnvironmentVariable("TAVI_WAYLAND_CHOICE"), "HEADLESS-1"));
        QVERIFY(paint(kMagenta));
        teacher.reset(new Client(QStringLiteral("teacher")));
        teacher->composited = true;
        QVERIFY(teacher->install(school.baseUrl(), school.chatHost()));
        // Started as from the Wayland desktop: the launcher picks XWayland.
        QProcessEnvironment env;
        env.insert(QStringLiteral("DISPLAY"), qEnvironmentVariable("TAVI_WAYLAND_X11"));
        QVERIFY(teacher->start(env));
        QVERIFY2(signIn(*teacher, QStringLiteral("teacher"), true), qPrintable(why));
        QVERIFY2(enterClass(*teacher), qPrintable(why));

        student.reset(new Client(QStringLiteral("student")));
        QVERIFY(student->install(school.baseUrl(), school.chatHost()));
        // An X11 session's client, though started from within the Wayland test desktop.
        QProcessEnvironment x11;
        x11.insert(QStringLiteral("WAYLAND_DISPLAY"), QString());
        x11.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("x11"));
        QVERIFY(student->start(x11));
        QVERIFY2(signIn(*student, QStringLiteral("student"), true), qPrintable(why));
        QVERIFY2(enterClass(*student), qPrintable(why));
        QColor seen;
        QVERIFY2(QTest::qWaitFor([&] { return studentSees(kMagenta, &seen); }, 20000),
                 qPrintable("the student sees " + seen.name() + why));
        // Still or changing, the desktop keeps coming.
        QVERIFY(paint(kTeal));
        QVERIFY2(QTest::qWaitFor([&] { return studentSees(kTeal, &seen); }, 10000),
                 qPrintable("the student sees " + seen.name() + why));
    }

    void cleanupTestCase() { endClients(); }
};

QTEST_MAIN(tst_wayland)
#include "tst_wayland.moc"
