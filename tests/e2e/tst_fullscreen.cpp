// A student's class through the real client's window: the teacher's 4:3 picture (a white disc on grey) keeps its
// proportions in the main window and in full screen, which a double-click, F11 and the bar's button enter and Esc,
// F11 and a double-click leave; in full screen the picture fills the screen's height pixel for pixel and the
// control bar hides when the pointer rests and comes back when it moves.
#include "client.h"
#include "demoschool.h"
#include "nginxrtmp.h"
#include "publisher.h"

#include <QPainter>
#include <QStandardPaths>
#include <QtTest>

namespace {

const QColor kScreenColour(0x1f, 0x26, 0x38); // around a picture of other proportions
const QColor kGrey(128, 128, 128);
const QSize kPicture(1440, 1080);
const int kDisc = 700;

// The disc's bounds in a shot: the white pixels within area.
QRect disc(const QImage &shot, const QRect &area)
{
    return Pixels::bounds(shot, area, [](QRgb p) { return qGray(p) > 200; });
}

bool round(const QRect &r)
{
    return r.width() > 100 && std::abs(r.width() - r.height()) <= 3;
}

QString text(const QRect &r)
{
    return QStringLiteral("%1x%2 at %3,%4").arg(r.width()).arg(r.height()).arg(r.x()).arg(r.y());
}

} // namespace

class TestFullScreen : public QObject, public ClientDriver
{
    Q_OBJECT

    testsupport::NginxRtmp nginx;
    testsupport::DemoSchool school;
    testsupport::PeerProcess publisher;
    QSize display;

    QRect whole() const { return QRect(QPoint(0, 0), display); }
    bool fullWindow(const Desktop::Window &w) const { return w.geometry == whole(); }
    bool isFullScreen() const
    {
        return student->waitFor([this](const Desktop::Window &w) { return fullWindow(w); }, 0);
    }

    // The screen's picture, less the arrows at its edges and the control bar.
    QRect picture() const { return student->screenArea().adjusted(24, 0, -24, -60); }

    bool waitFullScreen(bool on, const QString &how)
    {
        return QTest::qWaitFor([&] { return isFullScreen() == on; }, 10000) ||
            fail(QStringLiteral("%1 did not %2 full screen").arg(how, on ? "enter" : "leave"));
    }

    // The picture fills the screen's height, 1:1, in its proportions, between bars of the screen's colour.
    bool fillsTheScreen()
    {
        const int left = (display.width() - kPicture.width() * display.height() / kPicture.height()) / 2;
        QRect seen;
        const auto shown = [&] {
            const QImage shot = Desktop::shot();
            seen = disc(shot, whole());
            return round(seen) && std::abs(seen.width() - kDisc) <= 6 &&
                Pixels::near(kScreenColour, 4)(shot.pixel(left / 2, display.height() / 2)) &&
                Pixels::near(kGrey, 12)(shot.pixel(left + 20, display.height() / 2));
        };
        return QTest::qWaitFor(shown, 10000) ||
            fail(QStringLiteral("full screen shows the disc as %1, not round %2 px between bars")
                     .arg(text(seen))
                     .arg(kDisc));
    }

    // The control bar darkens the picture's grey along the bottom while it shows.
    bool barShown(const QImage &shot) const
    {
        return qGray(shot.pixel(display.width() / 2, display.height() - 15)) < 100;
    }
    bool waitBar(bool shown, int timeoutMs)
    {
        return QTest::qWaitFor([&] { return barShown(Desktop::shot()) == shown; }, timeoutMs) ||
            fail(shown ? QStringLiteral("the control bar did not come back on a move")
                       : QStringLiteral("the control bar did not hide with the pointer at rest"));
    }

    bool doubleClick(const QPoint &at)
    {
        return Desktop::moveTo(at) && Desktop::xdotool({"click", "--repeat", "2", "--delay", "80", "1"});
    }

private slots:
    void initTestCase()
    {
        const QString missing = sessionMissing(&display);
        if (!missing.isEmpty())
            QSKIP(qPrintable(missing));
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty(), "needs xdotool");
        QVERIFY(nginx.start());
        school.setChatHost(testsupport::freeLoopbackHost());
        QVERIFY(school.start(nginx.url(QString()).chopped(1)));

        // The teacher's picture: 4:3, a white disc on grey.
        QImage picture(kPicture, QImage::Format_RGB32);
        picture.fill(kGrey);
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::white);
        painter.drawEllipse(QRect(QPoint(0, 0), QSize(kDisc, kDisc))
                                .translated((kPicture.width() - kDisc) / 2, (kPicture.height() - kDisc) / 2));
        // A line of code above the disc and one below, dark: what a class shows.
        QFont mono(QStringLiteral("monospace"));
        mono.setPixelSize(28);
        painter.setFont(mono);
        painter.setPen(Qt::black);
        painter.drawText(QPoint(60, 110), QStringLiteral("def area(r): return 3.14159 * r * r"));
        painter.drawText(QPoint(60, kPicture.height() - 80), QStringLiteral("print(area(350))  # the disc below"));
        painter.end();
        const QString file = QDir::current().absoluteFilePath(QStringLiteral("disc.png"));
        QVERIFY(picture.save(file));
        // The student's first course, the one-to-one class.
        const QString url = nginx.url(QStringLiteral("course101"));
        publisher.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        publisher.start(QStringLiteral("ffmpeg"),
                        QStringLiteral("-hide_banner -nostdin -loglevel error -re -loop 1 -framerate 25 -i %1 -f lavfi "
                                       "-i sine=frequency=440:sample_rate=44100 -c:v libx264 -preset ultrafast -tune "
                                       "zerolatency -g 12 -pix_fmt yuv420p -c:a aac -f flv")
                                .arg(file)
                                .split(' ')
                            << url);
        QVERIFY(publisher.waitForStarted(5000));
        QVERIFY(testsupport::waitForCodecs(url, {"aac", "h264"}));
    }

    void studentSeesTheClassInProportion()
    {
        student.reset(new Client(QStringLiteral("student")));
        QVERIFY(student->install(school.baseUrl(), school.chatHost()));
        QVERIFY(student->start(QProcessEnvironment()));
        QVERIFY2(signIn(*student, QStringLiteral("student"), true), qPrintable(why));
        QVERIFY2(enterClass(*student), qPrintable(why));
        // In the window: smaller than the picture, and round.
        QRect seen;
        const bool shown = QTest::qWaitFor(
            [&] {
                seen = disc(Desktop::shot(), picture());
                return round(seen) && seen.width() < kDisc;
            },
            15000);
        QVERIFY2(shown || fail(QStringLiteral("the window shows the disc as %1").arg(text(seen))), qPrintable(why));
        QVERIFY2(std::abs(seen.center().x() - student->screenArea().center().x()) <= 3, "the picture is not centred");
    }

    void doubleClickEntersAndEscapeLeaves()
    {
        QVERIFY2(doubleClick(student->screenArea().center()), "xdotool");
        QVERIFY2(waitFullScreen(true, QStringLiteral("a double-click")), qPrintable(why));
        QVERIFY2(fillsTheScreen(), qPrintable(why));
        // The pointer at rest: the bar hides after 3 s; a move brings it back.
        QVERIFY2(waitBar(false, 8000), qPrintable(why));
        Desktop::moveTo(QPoint(display.width() / 2 + 40, display.height() / 2 + 40));
        QVERIFY2(waitBar(true, 3000), qPrintable(why));
        keepShot(QStringLiteral("fullscreen-class.png"), whole());

        QVERIFY(Desktop::key(QStringLiteral("Escape")));
        QVERIFY2(waitFullScreen(false, QStringLiteral("Esc")), qPrintable(why));
        QVERIFY(student->mainWindow());
        QTRY_VERIFY_WITH_TIMEOUT(round(disc(Desktop::shot(), picture())), 10000);
    }

    void f11EntersAndLeaves()
    {
        // A click gives the window the keyboard (there is no window manager to do it).
        QVERIFY(Desktop::click(student->screenArea().center()));
        QVERIFY(Desktop::key(QStringLiteral("F11")));
        QVERIFY2(waitFullScreen(true, QStringLiteral("F11")), qPrintable(why));
        QVERIFY2(fillsTheScreen(), qPrintable(why));
        QVERIFY(Desktop::key(QStringLiteral("F11")));
        QVERIFY2(waitFullScreen(false, QStringLiteral("F11 again")), qPrintable(why));

        // And a double-click leaves as it entered.
        QVERIFY(Desktop::key(QStringLiteral("F11")));
        QVERIFY2(waitFullScreen(true, QStringLiteral("F11")), qPrintable(why));
        QVERIFY2(doubleClick(QPoint(display.width() / 2, display.height() / 2)), "xdotool");
        QVERIFY2(waitFullScreen(false, QStringLiteral("a double-click")), qPrintable(why));
        QTRY_VERIFY_WITH_TIMEOUT(round(disc(Desktop::shot(), picture())), 10000);
    }

    // "[全屏]" stands after the volume slider, with the player's controls.
    void barButtonEnters()
    {
        const QRect screen = student->screenArea();
        const QRect left(screen.left() + 250, screen.bottom() - 59, screen.width() / 2 - 250, 60);
        const QRect button = Pixels::bounds(
            Desktop::shot(), left, [](QRgb p) { return qRed(p) >= 155 && qGreen(p) >= 155 && qBlue(p) >= 155; });
        QVERIFY2(button.width() >= 12, qPrintable(QStringLiteral("no [全屏] on the bar: %1").arg(text(button))));
        QVERIFY(Desktop::click(button.center()));
        QVERIFY2(waitFullScreen(true, QStringLiteral("[全屏]")), qPrintable(why));
        QVERIFY2(fillsTheScreen(), qPrintable(why));
        QVERIFY(Desktop::key(QStringLiteral("Escape")));
        QVERIFY2(waitFullScreen(false, QStringLiteral("Esc")), qPrintable(why));
    }

    void cleanupTestCase() { endClients(); }
};

QTEST_MAIN(TestFullScreen)
#include "tst_fullscreen.moc"
