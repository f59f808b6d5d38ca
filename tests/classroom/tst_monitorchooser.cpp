// A teacher's class on a display of two monitors (a wide Xvfb split with xrandr, each half its own colour): when it
// asks which monitor, what its window shows, what its answers do, and that the class then publishes that monitor alone
// (as a student's player pulls it from nginx-rtmp).

#include "twomonitors.h"

#include "nginxrtmp.h"
#include "publisher.h"
#include "sound.h"
#include "testsupport.h"

#include "classroom/monitorchooser.h"
#include "classroom/playaudiovideoctrl.h"
#include "classroom/screen.h"
#include "record/devmag.h"
#include "record/monitors.h"
#include "record/recordctrl.h"
#include "record/recordnotice.h"
#include "ui/colorbtn.h"
#include "ui/iconbtn.h"
#include "ui/label.h"
#include "ui/messagebox.h"
#include "ui/playbtn.h"

#include <QApplication>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {
class Devices : public devMag
{
public:
    explicit Devices(const QString &microphone) : devMag(QString(), microphone, QStringLiteral("pulse"), nullptr) {}
};

const QColor kLeftColour(220, 30, 30);
const QColor kRightColour(30, 60, 220);
const QColor kGreen(30, 200, 60);
const QRect kLeft(0, 0, 1920, 1080);
const QRect kRight(1920, 0, 1920, 1080);

CourseInfo teacherCourse(const QString &rtmp, int listType = 1)
{
    CourseInfo info;
    info.listType = listType;
    info.role = CourseInfo::roleOfList(listType);
    info.teaching_type = QStringLiteral("3"); // a group class: no student's voice
    info.rtmp = rtmp;
    info.rtmplat = rtmp + QStringLiteral("_talk");
    info.id = QStringLiteral("7");
    info.name = QStringLiteral("course 7");
    return info;
}

// The colour near the top left corner of a tile's thumbnail, as the tile paints it (the chooser itself is in the
// middle of the monitor it offers).
QColor thumbnailColour(QWidget *tile)
{
    return tile->grab().toImage().pixelColor(20, 20);
}

bool near(const QColor &a, const QColor &b)
{
    return std::abs(a.red() - b.red()) < 30 && std::abs(a.green() - b.green()) < 30 &&
        std::abs(a.blue() - b.blue()) < 30;
}

template<class T> T *child(QWidget *window, const char *name)
{
    return window->findChild<T *>(QString::fromLatin1(name));
}
} // namespace

class tst_classroommonitors : public QObject
{
    Q_OBJECT
public:
    twomonitors::Patch *left = nullptr;
    twomonitors::Patch *right = nullptr;

    // [结束] of a class on air, answered "确定".
    static void endClass(Screen &screen)
    {
        QTest::mouseClick(screen.endButton(), Qt::LeftButton);
        QVERIFY(screen.endQuestion()->isVisible());
        QTest::mouseClick(screen.endQuestion()->findChild<QWidget *>(QStringLiteral("okBtn")), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(screen.playControl()->isIdle(), 20000);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
        qRegisterMetaType<CourseInfo>("CourseInfo");
        recordNotice::setHandler([this](const QString &text) { m_messages << text; });
        // A microphone that is heard: a silent one is told in a notice on the very monitor published.
        QVERIFY(m_sink.isLoaded() && m_tone.start(m_sink.name(), 440));
        devMag::setInstance(new Devices(m_sink.monitor()));
    }

    void init()
    {
        QFile::remove(monitors::settingsPath());
        QVERIFY(twomonitors::split("right"));
    }

    // No question for a student's class, on one monitor, on a Wayland desktop, or with the remembered monitor there.
    void asksOnlyWhereThereIsAChoice()
    {
        playAudioVideoCtrl *ctrl = playAudioVideoCtrl::instance();
        MonitorQuestion question(ctrl);
        const CourseInfo course = teacherCourse(QStringLiteral("rtmp://127.0.0.1:1/live/x"));
        QVERIFY(!question.ask(teacherCourse(course.rtmp, 2)));
        QVERIFY(!question.window()->isVisible());

        qputenv("WAYLAND_DISPLAY", "wayland-9");
        QVERIFY(!question.ask(course));
        qunsetenv("WAYLAND_DISPLAY");
        QVERIFY(!question.window()->isVisible());
        QCOMPARE(ctrl->captureArea(), QRect());

        monitors::remember(QStringLiteral("left"));
        QVERIFY(!question.ask(course));
        QCOMPARE(ctrl->captureArea(), kLeft);
        QVERIFY(!question.window()->isVisible());

        // Gone: asked, the primary offered.
        monitors::remember(QStringLiteral("gone"));
        QVERIFY(question.ask(course));
        MonitorChooser *chooser = question.window();
        QVERIFY(QTest::qWaitForWindowExposed(chooser));
        QCOMPARE(chooser->tiles().size(), 2);
        QCOMPARE(chooser->monitorList().at(chooser->selected()).name, QStringLiteral("right"));
        // Over the monitor it offers, frameless.
        QVERIFY(kRight.contains(chooser->frameGeometry()));
        QVERIFY(chooser->windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(!chooser->isModal());
        question.cancel();
        QVERIFY(!chooser->isVisible());
        QCOMPARE(monitors::remembered(), QStringLiteral("gone"));

        // One monitor: the whole screen, nothing asked.
        twomonitors::xrandr({"--delmonitor", "right"});
        twomonitors::xrandr({"--delmonitor", "left"});
        QCOMPARE(monitors::list().size(), 1);
        QVERIFY(!question.ask(course));
        QCOMPARE(ctrl->captureArea(), QRect());
        QVERIFY(!question.window()->isVisible());
    }

    // Each tile shows its monitor, taken again while the window is open.
    void thumbnailsAreLive()
    {
        MonitorQuestion question(playAudioVideoCtrl::instance());
        QVERIFY(question.ask(teacherCourse(QStringLiteral("rtmp://127.0.0.1:1/live/x"))));
        MonitorChooser *chooser = question.window();
        QVERIFY(QTest::qWaitForWindowExposed(chooser));
        const QVector<Monitor> shown = chooser->monitorList();
        const int l = shown[0].name == "left" ? 0 : 1;
        QTRY_VERIFY(near(thumbnailColour(chooser->tiles()[l]), kLeftColour));
        QTRY_VERIFY(near(thumbnailColour(chooser->tiles()[1 - l]), kRightColour));
        left->setColour(kGreen);
        QTRY_VERIFY_WITH_TIMEOUT(near(thumbnailColour(chooser->tiles()[l]), kGreen), 3000);
        QVERIFY(near(thumbnailColour(chooser->tiles()[1 - l]), kRightColour));
        left->setColour(kLeftColour);
        question.cancel();
    }

    // "确定" answers with the selected monitor, remembered; the close icon, "取消" and Escape answer nothing.
    void answers()
    {
        MonitorQuestion question(playAudioVideoCtrl::instance());
        QSignalSpy chosen(&question, &MonitorQuestion::chosen);
        QSignalSpy declined(&question, &MonitorQuestion::declined);
        const CourseInfo course = teacherCourse(QStringLiteral("rtmp://127.0.0.1:1/live/answers"));
        MonitorChooser *chooser = question.window();
        const auto close = [&](const std::function<void()> &how) {
            QVERIFY(question.ask(course));
            QVERIFY(QTest::qWaitForWindowExposed(chooser));
            how();
            QTRY_VERIFY(!chooser->isVisible());
        };
        close([&] { QTest::mouseClick(child<IconBtn>(chooser, "closeBtn"), Qt::LeftButton); });
        close([&] { QTest::mouseClick(child<ColorBtn>(chooser, "cancelBtn"), Qt::LeftButton); });
        close([&] { QTest::keyClick(chooser, Qt::Key_Escape); });
        QCOMPARE(chosen.count(), 0);
        QCOMPARE(declined.count(), 3);
        QVERIFY(monitors::remembered().isEmpty());
        // Ended from outside (another class, [结束]): no answer at all.
        QVERIFY(question.ask(course));
        question.cancel();
        QVERIFY(!chooser->isVisible());
        QCOMPARE(declined.count(), 3);

        close([&] {
            const int l = chooser->monitorList()[0].name == "left" ? 0 : 1;
            QTest::mouseClick(chooser->tiles()[l], Qt::LeftButton);
            QCOMPARE(chooser->selected(), l);
            QTest::mouseClick(child<ColorBtn>(chooser, "okBtn"), Qt::LeftButton);
        });
        QCOMPARE(chosen.count(), 1);
        QCOMPARE(declined.count(), 3);
        QCOMPARE(chosen.at(0).at(0).value<CourseInfo>().rtmp, course.rtmp);
        QCOMPARE(monitors::remembered(), QStringLiteral("left"));
        // Remembered and there: the next class asks nothing.
        QVERIFY(!question.ask(course));
        QCOMPARE(playAudioVideoCtrl::instance()->captureArea(), kLeft);

        // A double click on a thumbnail answers at once.
        monitors::remember(QStringLiteral("gone"));
        close([&] {
            const int r = chooser->monitorList()[0].name == "right" ? 0 : 1;
            QTest::mouseDClick(chooser->tiles()[r], Qt::LeftButton);
        });
        QCOMPARE(chosen.count(), 2);
        QCOMPARE(monitors::remembered(), QStringLiteral("right"));
    }

    // Through the classroom screen: while asked, and after an unanswered question, nothing is published and the
    // screen is as after [结束]; the answer starts the class, and what a student pulls is the chosen monitor alone.
    void classPublishesTheChosenMonitor()
    {
        testsupport::NginxRtmp nginx;
        QVERIFY(nginx.start());
        const QString url = nginx.url(QStringLiteral("monitors"));
        Screen screen;
        screen.setGeometry(100, 100, 640, 400);
        screen.show();
        QVERIFY(QTest::qWaitForWindowExposed(&screen));
        playAudioVideoCtrl *ctrl = screen.playControl();
        const CourseInfo course = teacherCourse(url);
        MonitorChooser *chooser = nullptr;
        const auto asked = [&] {
            screen.slot_doClass(course);
            QTRY_VERIFY_WITH_TIMEOUT((chooser = findChooser()) != nullptr, 20000);
            QVERIFY(!screen.isStarting());
            QCOMPARE(screen.playMode(), Screen::PlayMode::None);
            QCOMPARE(screen.playButton()->state(), Stop);
            QCOMPARE(ctrl->liveState(), playAudioVideoCtrl::Off);
            QVERIFY(ctrl->recorder()->isIdle());
        };

        asked();
        QTest::mouseClick(screen.endButton(), Qt::LeftButton); // [结束] ends the question too
        QVERIFY(!chooser->isVisible());
        asked();
        QSignalSpy chatOut(&screen, &Screen::s_chatOut);
        QTest::mouseClick(child<IconBtn>(chooser, "closeBtn"), Qt::LeftButton);
        QVERIFY(!chooser->isVisible());
        QCOMPARE(chatOut.count(), 1); // the class's chat is left, as by [结束]
        QVERIFY(testsupport::codecs(url, 3000).isEmpty());
        QVERIFY(ctrl->recorder()->isIdle());
        QCOMPARE(screen.playMode(), Screen::PlayMode::None);

        asked();
        const int r = chooser->monitorList()[0].name == "right" ? 0 : 1;
        QCOMPARE(chooser->selected(), r); // the primary
        QTest::mouseClick(child<ColorBtn>(chooser, "okBtn"), Qt::LeftButton);
        QVERIFY(!chooser->isVisible());
        QVERIFY(testsupport::waitForCodecs(url, {"aac", "h264"}));
        QCOMPARE(ctrl->captureArea(), kRight);
        QCOMPARE(screen.playMode(), Screen::PlayMode::Class);
        const QImage picture = twomonitors::frameOf(url);
        QCOMPARE(picture.size(), QSize(1920, 1080));
        QCOMPARE(twomonitors::pixelsNotOf(picture, kRightColour), 0);
        endClass(screen);

        // The next class asks nothing and shows the same monitor.
        screen.slot_doClass(course);
        QVERIFY(testsupport::waitForCodecs(url, {"aac", "h264"}));
        QVERIFY(!chooser->isVisible());
        QCOMPARE(twomonitors::pixelsNotOf(twomonitors::frameOf(url), kRightColour), 0);
        endClass(screen);
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join('\n')));
    }

private:
    static MonitorChooser *findChooser()
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *chooser = qobject_cast<MonitorChooser *>(w))
                if (chooser->isVisible())
                    return chooser;
        return nullptr;
    }

    QTemporaryDir m_config;
    testsupport::NullSink m_sink{"tavi_monitors_mic"};
    testsupport::Tone m_tone;
    QStringList m_messages;
};

int main(int argc, char **argv)
{
    // The wide display must be there before the application connects to it.
    if (!twomonitors::useWideDisplay())
        return 1;
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    // In Qt's coordinates, which a desktop scale (QT_SCALE_FACTOR, a second run of this test) divides.
    const qreal ratio = app.primaryScreen()->devicePixelRatio();
    const auto logical = [ratio](const QRect &r) {
        return QRect(qRound(r.x() / ratio), qRound(r.y() / ratio), qRound(r.width() / ratio),
                     qRound(r.height() / ratio));
    };
    twomonitors::Patch left(logical(kLeft), kLeftColour);
    twomonitors::Patch right(logical(kRight), kRightColour);
    tst_classroommonitors test;
    test.left = &left;
    test.right = &right;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_monitorchooser.moc"
