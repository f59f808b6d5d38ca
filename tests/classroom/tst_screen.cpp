// The classroom screen: its play states, local files with the progress
// slider, classes of both roles with the dialogue button, and replacing one
// class or file by another, with real players, publishers and nginx-rtmp.
#include "classpeers.h"
#include "nginxrtmp.h"

#include "classroom/playaudiovideoctrl.h"
#include "classroom/screen.h"
#include "record/audioctrl.h"
#include "record/recordctrl.h"
#include "record/recordnotice.h"
#include "ui/label.h"
#include "ui/playbtn.h"
#include "ui/videoslider.h"
#include "video/audio_play.h"
#include "video/videoplayer_thread.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

using testsupport::Publisher;

namespace {

QImage red()
{
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::red);
    return image;
}

QImage background()
{
    return QImage(QStringLiteral(":/images/sys/bg"));
}

// How long a call took, in milliseconds.
template<class F> qint64 timed(F call)
{
    QElapsedTimer timer;
    timer.start();
    call();
    return timer.elapsed();
}

} // namespace

class TestScreen : public QObject
{
    Q_OBJECT

    testsupport::NginxRtmp nginx;
    Publisher classA; // 320x240
    Publisher classB; // 160x120
    QString fileName;
    QStringList notices;
    Screen *screen = nullptr;
    playAudioVideoCtrl *ctrl = nullptr;

    int state() const { return screen->playButton()->state(); }
    QSize shownSize() const { return screen->shownImage().size(); }

    void end()
    {
        QTest::mouseClick(screen->endButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(ctrl->isIdle(), 20000);
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("needs the PulseAudio session of ./run test");
        qRegisterMetaType<CourseInfo>("CourseInfo");
        recordNotice::setHandler([this](const QString &text) { notices << text; });
        QVERIFY(nginx.start());
        QVERIFY(classA.start(nginx.url("classA")));
        QVERIFY(classB.start(nginx.url("classB"), QStringLiteral("160x120")));
        fileName = QDir::current().absoluteFilePath(QStringLiteral("lesson.mp4"));
        QVERIFY(testsupport::makeMedia(fileName,
                                       QStringLiteral("-f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi "
                                                      "-i sine=sample_rate=44100 -t 10 -c:v libx264 -preset "
                                                      "ultrafast -g 25 -pix_fmt yuv420p -c:a aac")
                                           .split(' ')));
        QVERIFY(testsupport::waitForCodecs(nginx.url("classA"), {"aac", "h264"}));
        QVERIFY(testsupport::waitForCodecs(nginx.url("classB"), {"aac", "h264"}));

        screen = new Screen;
        screen->resize(800, 450);
        screen->show();
        QVERIFY(QTest::qWaitForWindowExposed(screen));
        ctrl = screen->playControl();
        QCOMPARE(screen->shownImage(), background());
    }

    void cleanupTestCase()
    {
        if (screen)
            screen->loginOut();
        delete screen;
    }

    void cleanup() { QVERIFY2(notices.isEmpty(), qPrintable(notices.join('\n'))); }

    void playButtonWhileStoppedDoesNothing()
    {
        QTest::mouseClick(screen->playButton(), Qt::LeftButton);
        QCOMPARE(state(), 3);
        QCOMPARE(ctrl->localPlayback()->state(), Stop);
        QCOMPARE(ctrl->classPlayback()->state(), Stop);
        // Nothing plays: a picture that still comes is not shown.
        screen->doOneImage(red());
        QCOMPARE(screen->shownImage(), background());
    }

    void localFileWithProgress()
    {
        screen->local_play(fileName);
        QTRY_COMPARE(state(), 1);
        QCOMPARE(screen->playMode(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(shownSize(), QSize(320, 240), 15000);
        // The slider spans the file and follows the player.
        QTRY_VERIFY(screen->progress()->isVisible());
        QCOMPARE(screen->progress()->maximum(), 10);
        QTRY_VERIFY_WITH_TIMEOUT(screen->progress()->value() >= 2, 15000);
        QVERIFY(!screen->dialogueButton()->isVisible());

        // A click near the slider's start seeks back.
        QTest::mouseClick(screen->progress(), Qt::LeftButton, Qt::NoModifier, QPoint(1, 3));
        QTRY_VERIFY_WITH_TIMEOUT(ctrl->localPosition() < 1.5, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(screen->progress()->value() <= 1, 5000);

        // Paused: pictures are dropped, the last one stays.
        QTest::mouseClick(screen->playButton(), Qt::LeftButton);
        QCOMPARE(state(), 2);
        QCOMPARE(ctrl->localPlayback()->state(), Pause);
        const QImage last = screen->shownImage();
        screen->doOneImage(red());
        QCOMPARE(screen->shownImage(), last);
        QTest::mouseClick(screen->playButton(), Qt::LeftButton);
        QCOMPARE(ctrl->localPlayback()->state(), Playing);
        const qint64 key = screen->shownImage().cacheKey();
        QTRY_VERIFY(screen->shownImage().cacheKey() != key);

        // The end: background, also when late pictures come.
        QSignalSpy chatOut(screen, SIGNAL(s_chatOut()));
        end();
        QCOMPARE(chatOut.count(), 1);
        QCOMPARE(state(), 3);
        QCOMPARE(screen->playMode(), 0);
        QVERIFY(!screen->progress()->isVisible());
        QCOMPARE(screen->shownImage(), background());
        screen->doOneImage(red());
        QCOMPARE(screen->shownImage(), background());
    }

    void studentDialogueButton_data()
    {
        QTest::addColumn<QString>("teachingType");
        QTest::addColumn<bool>("dialogue");
        QTest::newRow("one-to-one") << "1" << true;
        QTest::newRow("group") << "3" << false;
    }

    void studentDialogueButton()
    {
        QFETCH(QString, teachingType);
        QFETCH(bool, dialogue);
        const QString talk = nginx.url(QStringLiteral("talk_") + teachingType);
        screen->slot_doClass(classpeers::course(2, teachingType, talk, nginx.url("classA")));
        QTRY_COMPARE(state(), 1);
        QCOMPARE(screen->playMode(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(shownSize(), QSize(320, 240), 20000);
        QVERIFY(!screen->progress()->isVisible());
        Label *button = screen->dialogueButton();
        QCOMPARE(button->isVisible(), dialogue);
        if (dialogue) {
            QCOMPARE(button->text(), QStringLiteral("[开启对话]"));
            QTest::mouseClick(button, Qt::LeftButton);
            QCOMPARE(ctrl->dialogueState(), int(AudioCtrl::Running));
            QCOMPARE(button->text(), QStringLiteral("[关闭对话]"));
            QVERIFY(testsupport::waitForCodecs(talk, {"aac"}));
            // Paused: no button; back: it tells the dialogue runs.
            QTest::mouseClick(screen->playButton(), Qt::LeftButton);
            QVERIFY(!button->isVisible());
            QTest::mouseClick(screen->playButton(), Qt::LeftButton);
            QVERIFY(button->isVisible());
            QCOMPARE(button->text(), QStringLiteral("[关闭对话]"));
            QTest::mouseClick(button, Qt::LeftButton);
            QCOMPARE(ctrl->dialogueState(), int(AudioCtrl::Idle));
            QCOMPARE(button->text(), QStringLiteral("[开启对话]"));
            QTest::mouseClick(button, Qt::LeftButton);
            QCOMPARE(ctrl->dialogueState(), int(AudioCtrl::Running));
        }
        end();
        QVERIFY(!button->isVisible());
        QCOMPARE(ctrl->dialogueState(), int(AudioCtrl::Idle));
    }

    // A dialogue whose restart (its server went away) cannot have the microphone any more gives up: the button
    // follows, and the user is told why.
    void dialogueButtonFollowsWhenRestartsGiveUp()
    {
        testsupport::NginxRtmp voice;
        QVERIFY(voice.start());
        const QString talk = voice.url(QStringLiteral("gives_up"));
        screen->slot_doClass(classpeers::course(2, "1", talk, nginx.url("classA")));
        QTRY_COMPARE_WITH_TIMEOUT(state(), 1, 20000);
        Label *button = screen->dialogueButton();
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(button->text(), QStringLiteral("[关闭对话]"));
        QVERIFY(testsupport::waitForCodecs(talk, {"aac"}));
        // What opens the microphone from now on cannot reach the sound server.
        QSignalSpy ended(ctrl, &playAudioVideoCtrl::sig_dialogueEnded);
        const QByteArray pulse = qgetenv("PULSE_SERVER");
        qputenv("PULSE_SERVER", "unix:/nonexistent/tavi-pulse");
        QVERIFY(voice.restart());
        const bool gaveUp = ended.wait(20000);
        qputenv("PULSE_SERVER", pulse);
        QVERIFY(gaveUp);
        QCOMPARE(ended.first().at(0).toString(), QStringLiteral("无法打开麦克风"));
        QCOMPARE(button->text(), QStringLiteral("[开启对话]"));
        QCOMPARE(ctrl->dialogueState(), int(AudioCtrl::Idle));
        // The microphone's own message came too.
        QCOMPARE(notices.size(), 1);
        notices.clear();
        end();
    }

    void teacherClassHasNoDialogueButton()
    {
        const QString url = nginx.url("teacher_one");
        screen->slot_doClass(classpeers::course(1, "1", url, nginx.url("teacher_one_talk")));
        QTRY_COMPARE(state(), 1);
        QVERIFY(testsupport::waitForCodecs(url, {"aac", "h264"}));
        QVERIFY(!screen->dialogueButton()->isVisible());
        // The teacher sees what is published, scaled to the screen, and how the class stands.
        QTRY_COMPARE_WITH_TIMEOUT(shownSize(), screen->size() * screen->devicePixelRatioF(), 10000);
        QVERIFY(screen->liveText().startsWith(QStringLiteral("● 直播中 00:00:")));
        screen->setParticipants(3);
        QCOMPARE(screen->studentsText(), QStringLiteral("学员 2"));
        QCOMPARE(screen->voiceText(), QStringLiteral("学生语音：关"));
        end();
        QVERIFY(!screen->liveBar()->isVisible());
    }

    // A student early for class waits with a word and nothing that claims to play; the class appears by itself.
    void studentWaitsForTheTeacher()
    {
        const QString url = nginx.url("later");
        screen->slot_doClass(classpeers::course(2, "1", nginx.url("later_talk"), url));
        QTRY_VERIFY(!screen->isStarting());
        QCOMPARE(screen->liveText(), QStringLiteral("等待老师开始上课…"));
        QCOMPARE(state(), 3);
        // The dialogue belongs to the class, not to its picture.
        QVERIFY(screen->dialogueButton()->isVisible());
        Publisher teacher;
        QVERIFY(teacher.start(url));
        QTRY_COMPARE_WITH_TIMEOUT(shownSize(), QSize(320, 240), 20000);
        QCOMPARE(state(), 1);
        QVERIFY(!screen->liveBar()->isVisible());
        QVERIFY(screen->dialogueButton()->isVisible());
        teacher.stop();
        QTRY_COMPARE_WITH_TIMEOUT(screen->liveText(), QStringLiteral("连接中断，正在重连…"), 10000);
        QCOMPARE(state(), 3);
        end();
        QVERIFY(!screen->liveBar()->isVisible());
    }

    // A class or file replacing another never blocks the event loop for
    // the old players, and never leaves two of them running.
    void replacingAStudentClass()
    {
        const CourseInfo a = classpeers::course(2, "3", nginx.url("talkA"), nginx.url("classA"), "1");
        const CourseInfo b = classpeers::course(2, "3", nginx.url("talkB"), nginx.url("classB"), "2");
        screen->slot_doClass(a);
        QTRY_COMPARE_WITH_TIMEOUT(shownSize(), QSize(320, 240), 20000);

        // The same class twice, then another, in quick succession.
        QVERIFY(timed([&] { screen->slot_doClass(a); }) < 1000);
        QVERIFY(timed([&] { screen->slot_doClass(a); }) < 1000);
        QVERIFY(timed([&] { screen->slot_doClass(b); }) < 1000);
        QTRY_VERIFY_WITH_TIMEOUT(!screen->isStarting(), 20000);
        QCOMPARE(ctrl->courseInfo().id, QStringLiteral("2"));
        QCOMPARE(ctrl->classPlayback()->state(), Playing);
        QTRY_COMPARE_WITH_TIMEOUT(shownSize(), QSize(160, 120), 20000);

        // Entering while the last class is still stopping.
        QTest::mouseClick(screen->endButton(), Qt::LeftButton);
        QVERIFY(timed([&] { screen->slot_doClass(a); }) < 1000);
        QTRY_VERIFY_WITH_TIMEOUT(!screen->isStarting(), 20000);
        // Playing once the stream comes.
        QTRY_COMPARE_WITH_TIMEOUT(state(), 1, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(shownSize(), QSize(320, 240), 20000);

        // A local file replaces the class.
        QVERIFY(timed([&] { screen->local_play(fileName); }) < 1000);
        QTRY_COMPARE_WITH_TIMEOUT(ctrl->localPlayback()->state(), Playing, 20000);
        QCOMPARE(ctrl->classPlayback()->state(), Stop);
        QCOMPARE(screen->playMode(), 1);
        end();
    }

    void replacingATeacherClass()
    {
        const QString first = nginx.url("lesson1");
        const QString second = nginx.url("lesson2");
        screen->slot_doClass(classpeers::course(1, "3", first, nginx.url("lesson1_talk"), "1"));
        QVERIFY(testsupport::waitForCodecs(first, {"aac", "h264"}));
        QVERIFY(timed([&] { screen->slot_doClass(classpeers::course(1, "3", first, nginx.url("x"), "1")); }) < 1000);
        QVERIFY(timed([&] { screen->slot_doClass(classpeers::course(1, "3", second, nginx.url("y"), "2")); }) < 1000);
        QTRY_VERIFY_WITH_TIMEOUT(!screen->isStarting(), 30000);
        QCOMPARE(ctrl->recorder()->currentUrl(), second);
        QVERIFY(!ctrl->recorder()->isIdle());
        QVERIFY(testsupport::waitForCodecs(second, {"aac", "h264"}));
        QVERIFY(testsupport::codecs(first, 3000).isEmpty());
        end();
    }

    void signOutStopsEverything()
    {
        screen->slot_doClass(classpeers::course(2, "1", nginx.url("talkA"), nginx.url("classA")));
        QTRY_COMPARE_WITH_TIMEOUT(shownSize(), QSize(320, 240), 20000);
        const int mode = screen->playMode();
        screen->loginOut();
        QCOMPARE(state(), 3);
        QCOMPARE(screen->playMode(), mode);
        QCOMPARE(screen->shownImage(), background());
        QCOMPARE(ctrl->classPlayback()->state(), Stop);
        QTRY_VERIFY_WITH_TIMEOUT(ctrl->isIdle(), 20000);
        screen->resetPlayMode();
        QCOMPARE(screen->playMode(), 0);
    }
};

QTEST_MAIN(TestScreen)
#include "tst_screen.moc"
