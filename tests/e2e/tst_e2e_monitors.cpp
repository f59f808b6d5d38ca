// A teacher with two monitors, end to end: the teacher's tavi runs on a wide Xvfb of its own (3840x1080, split in two
// with xrandr, the left one primary; red on the left with the teacher's window, blue on the right), the student's on
// the test's display, with the demo school and nginx-rtmp. The teacher's first class asks which monitor; the teacher
// clicks the right one's thumbnail and "确定"; the student's classroom then shows blue alone. The choice is kept in the
// teacher's settings.
#include "client.h"
#include "demoschool.h"
#include "nginxrtmp.h"
#include "twomonitors.h"

#include "base/picturefit.h"

#include <QApplication>
#include <QStandardPaths>
#include <QtTest>

namespace {
const QColor kLeftColour(220, 30, 30);
const QColor kRightColour(30, 60, 220);
const QRect kLeft(0, 0, 1920, 1080);
const QRect kRight(1920, 0, 1920, 1080);

// The chooser: neither the main window nor the question, about 550 x 270.
bool isChooser(const Client &client, const Desktop::Window &w)
{
    return !client.is(Client::Main, w) && !client.is(Client::Question, w) && w.geometry.width() > 400 &&
        w.geometry.width() < 800 && w.geometry.height() > 200 && w.geometry.height() < 400;
}
} // namespace

class TestMonitorsEnd2End : public QObject, public ClientDriver
{
    Q_OBJECT

    testsupport::NginxRtmp nginx;
    testsupport::DemoSchool school;
    Desktop::Private wide;
    testsupport::PeerProcess patches;

    // The whole wide display as it shows (the window lists' size is one monitor's).
    QImage wideShot() const
    {
        QByteArray png;
        testsupport::run(QStringLiteral("ffmpeg"),
                         {"-v", "error", "-f", "x11grab", "-draw_mouse", "0", "-video_size", "3840x1080", "-i",
                          wide.name(), "-frames:v", "1", "-f", "image2pipe", "-c:v", "png", "-"},
                         10000, &png);
        return QImage::fromData(png).convertToFormat(QImage::Format_RGB32);
    }

    // "确认上课" of the teacher's first course, then "确定" in the question (centred on the wide screen).
    bool teacherEntersClass()
    {
        teacher->on();
        QList<QRect> buttons;
        if (!QTest::qWaitFor([&] { return !(buttons = courseButtons(wideShot(), *teacher)).isEmpty(); }, 10000))
            return fail(QStringLiteral("teacher: no course button"));
        Desktop::click(buttons.first().center());
        Desktop::Window question;
        if (!teacher->waitFor(Client::Question, 5000, &question))
            return fail(QStringLiteral("teacher: no question before entering"));
        QRect ok;
        if (!QTest::qWaitFor(
                [&] {
                    ok = Pixels::bounds(wideShot(), question.geometry.adjusted(0, 60, 0, 0), Pixels::near(kSlate, 2));
                    return ok.width() > 30;
                },
                5000))
            return fail(QStringLiteral("teacher: no 确定 in the question"));
        Desktop::click(ok.center());
        Desktop::moveTo(QPoint(8, 8));
        return true;
    }

    // What the student's classroom screen shows of the class, inside its bars.
    // The monitor's 16:9 picture on the student's screen, in its proportions, less the arrows at the screen's edges.
    QRect studentPicture() const
    {
        const QRect area = student->screenArea();
        const QSize size = fittedPictureSize(QSize(1920, 1080), area.size());
        const QRect picture(area.left() + (area.width() - size.width()) / 2,
                            area.top() + (area.height() - size.height()) / 2, size.width(), size.height());
        return picture.adjusted(24, 10, -24, -10);
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY") || qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("needs the X display and PulseAudio session of ./run test");
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty(), "needs xdotool");
        QVERIFY(wide.start(QSize(3840, 1080)));
        QVERIFY(twomonitors::split(QStringLiteral("left"), wide.name()));
        // The colours come from a copy of this program on the wide display.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), wide.name());
        patches.setProcessEnvironment(environment);
        patches.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--patches")});
        QVERIFY(patches.waitForStarted(5000));
        Desktop::setDisplay(wide.name());
        QVERIFY(QTest::qWaitFor([&] { return Desktop::windows(patches.processId()).size() == 2; }, 10000));

        QVERIFY(nginx.start());
        school.setChatHost(testsupport::freeLoopbackHost());
        QVERIFY(school.start(nginx.url(QString()).chopped(1)));
    }

    void teacherChoosesTheRightMonitor()
    {
        teacher.reset(new Client(QStringLiteral("teacher")));
        QVERIFY(teacher->install(school.baseUrl(), school.chatHost()));
        QProcessEnvironment display;
        display.insert(QStringLiteral("DISPLAY"), wide.name());
        QVERIFY(teacher->start(display));
        QVERIFY2(signIn(*teacher, QStringLiteral("teacher"), true), qPrintable(why));
        // The main window, centred on the wide screen, dragged by its title onto the left monitor.
        teacher->on();
        const QPoint grip(600, 19);
        const QPoint to(100, 100);
        QVERIFY(Desktop::drag(teacher->main().geometry.topLeft() + grip, to + grip));
        QVERIFY(
            QTest::qWaitFor([&] { return teacher->mainWindow() && teacher->main().geometry.topLeft() == to; }, 3000));
        if (!teacherEntersClass()) {
            wideShot().save(QStringLiteral("teacher.png"));
            QFAIL(qPrintable(why));
        }

        // Asked, over the primary (left) monitor, with it selected: a green frame around its thumbnail.
        Desktop::Window chooser;
        QVERIFY2(teacher->waitFor([&](const Desktop::Window &w) { return isChooser(*teacher, w); }, 10000, &chooser),
                 qPrintable(teacher->output()));
        QVERIFY(kLeft.contains(chooser.geometry));
        QRect rightThumbnail;
        QImage shot;
        QVERIFY(QTest::qWaitFor(
            [&] {
                shot = wideShot();
                // The tiles lie left to right as the monitors do; the left one shows the chooser itself, small.
                const QRect rightHalf = chooser.geometry.adjusted(chooser.geometry.width() / 2, 0, 0, 0);
                rightThumbnail = Pixels::bounds(shot, rightHalf, Pixels::near(kRightColour, 12));
                return rightThumbnail.width() > 100 && rightThumbnail.height() > 60;
            },
            5000));
        const QString folder = qEnvironmentVariable("TAVI_E2E_SHOTS");
        if (!folder.isEmpty()) {
            const QImage window = shot.copy(chooser.geometry);
            window.scaled(window.size() / 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                .save(folder + QStringLiteral("/monitor-chooser.png"), "PNG", 0);
        }
        Desktop::click(rightThumbnail.center());
        QRect ok;
        QVERIFY(QTest::qWaitFor(
            [&] {
                const QRect buttons =
                    chooser.geometry.adjusted(chooser.geometry.width() / 2, chooser.geometry.height() - 45, 0, 0);
                ok = Pixels::bounds(wideShot(), buttons, Pixels::near(kSlate, 2));
                return ok.width() > 30;
            },
            5000));
        Desktop::click(ok.center());
        Desktop::moveTo(QPoint(8, 8));
        QVERIFY(QTest::qWaitFor(
            [&] { return !teacher->waitFor([&](const Desktop::Window &w) { return isChooser(*teacher, w); }, 0); },
            5000));
        // Kept in the teacher's own settings.
        QTRY_VERIFY(QString::fromUtf8(testsupport::readFile(teacher->home() + "/.config/tavi/monitor.ini"))
                        .contains(QStringLiteral("name=right")));
    }

    // The student sees the right monitor alone: blue, nothing red, nothing of the teacher's window.
    void studentSeesTheChosenMonitor()
    {
        student.reset(new Client(QStringLiteral("student")));
        QVERIFY(student->install(school.baseUrl(), school.chatHost()));
        QVERIFY(student->start(QProcessEnvironment()));
        QVERIFY2(signIn(*student, QStringLiteral("student"), true), qPrintable(why));
        QVERIFY2(enterClass(*student), qPrintable(why));
        QImage shot;
        const QRect picture = studentPicture();
        const int all = picture.width() * picture.height();
        const bool blue = QTest::qWaitFor(
            [&] {
                shot = student->shot();
                return Pixels::count(shot, picture, Pixels::near(kRightColour, 30)) > all * 98 / 100;
            },
            20000);
        if (!blue)
            shot.save(QStringLiteral("student.png"));
        QVERIFY2(
            blue,
            qPrintable(
                QStringLiteral("the student's screen shows %1 on average").arg(Pixels::mean(shot, picture).name())));
        QCOMPARE(Pixels::count(shot, picture, Pixels::near(kLeftColour, 60)), 0);
    }

    void cleanupTestCase() { endClients(); }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "--patches") == 0) {
        // Each monitor its own colour, until the test ends.
        twomonitors::Patch left(kLeft, kLeftColour);
        twomonitors::Patch right(kRight, kRightColour);
        return app.exec();
    }
    TestMonitorsEnd2End test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_e2e_monitors.moc"
