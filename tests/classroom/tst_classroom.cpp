// The classroom layer against real peers (nginx-rtmp, classes published with the ffmpeg command line, our own
// publishers capturing the test display): the play control for teacher and student, one-to-one and group classes; the
// classroom screen with its play states, local files with the progress slider, the dialogue button, and replacing one
// class or file by another; and the installation's recording and playing tools.
#include "movingdesktop.h"
#include "nginxrtmp.h"
#include "publisher.h"

#include "classroom/playaudiovideoctrl.h"
#include "classroom/screen.h"
#include "record/audioctrl.h"
#include "record/recordctrl.h"
#include "record/recordnotice.h"
#include "ui/label.h"
#include "ui/playbtn.h"
#include "ui/videoslider.h"
#include "video/audio_play.h"
#include "video/audiooutput.h"
#include "video/videoplayer_thread.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

using testsupport::Publisher;

namespace {

CourseInfo course(int listType, const QString &teachingType, const QString &rtmp, const QString &rtmplat,
                  const QString &id = QStringLiteral("101"))
{
    CourseInfo info;
    info.listType = listType;
    info.teaching_type = teachingType;
    info.rtmp = rtmp;
    info.rtmplat = rtmplat;
    info.id = id;
    info.name = QStringLiteral("course ") + id;
    return info;
}

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

class TestClassroom : public QObject
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

    void classTable_data()
    {
        QTest::addColumn<int>("listType");
        QTest::addColumn<QString>("teachingType");
        QTest::newRow("student, group") << 2 << "3";
        QTest::newRow("student, one-to-one") << 2 << "1";
        QTest::newRow("teacher, group") << 1 << "3";
        QTest::newRow("teacher, one-to-one") << 1 << "1";
    }

    void classTable()
    {
        QFETCH(int, listType);
        QFETCH(QString, teachingType);
        const bool teacher = listType == 1;
        const bool oneToOne = teachingType == QLatin1String("1");
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(QRegularExpression("\\W+"), "_");
        const QString classUrl = nginx.url(QStringLiteral("class_") + tag);
        const QString talkUrl = nginx.url(QStringLiteral("talk_") + tag);

        // The other side of the class.
        Publisher other;
        if (teacher && oneToOne)
            QVERIFY(other.start(talkUrl, QString(), Publisher::SoundOnly) &&
                    testsupport::waitForCodecs(talkUrl, {"aac"}));
        else if (!teacher)
            QVERIFY(other.start(classUrl) && testsupport::waitForCodecs(classUrl, {"aac", "h264"}));

        playAudioVideoCtrl ctrl;
        QSignalSpy pictures(&ctrl, &playAudioVideoCtrl::sig_GetOneFrame);
        ctrl.setCourse(teacher ? course(1, teachingType, classUrl, talkUrl)
                               : course(2, teachingType, talkUrl, classUrl));
        ctrl.setPreviewSize(QSize(192, 108));
        QVERIFY(ctrl.isIdle());
        ctrl.classStart();

        if (teacher) {
            // The desktop and microphone go to rtmp.
            QVERIFY(testsupport::waitForCodecs(classUrl, {"aac", "h264"}));
            QVERIFY(!ctrl.recorder()->isIdle());
            QCOMPARE(ctrl.recorder()->currentUrl(), classUrl);
            QCOMPARE(ctrl.classPlayback()->state(), Stop);
            QCOMPARE(ctrl.talkPlayback()->isRunning(), oneToOne);
            if (oneToOne) {
                // The student's voice plays, and the teacher is told.
                const double clock = ctrl.talkPlayback()->playbackState().audioClock;
                QTRY_VERIFY_WITH_TIMEOUT(ctrl.talkPlayback()->playbackState().audioClock > clock + 0.5, 20000);
                QVERIFY(ctrl.studentVoice());
            }
            // On air, with a preview of the desktop at the size asked for, a few pictures a second.
            QCOMPARE(ctrl.liveState(), playAudioVideoCtrl::Live);
            QTRY_VERIFY_WITH_TIMEOUT(pictures.count() >= 3, 10000);
            QCOMPARE(pictures.last().at(0).value<QImage>().size(), QSize(192, 108));
            QTRY_VERIFY(ctrl.onAirMs() >= 1000);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(pictures.count() >= 10, 20000);
            QCOMPARE(pictures.last().at(0).value<QImage>().size(), QSize(320, 240));
            QCOMPARE(ctrl.classPlayback()->state(), Playing);
            QCOMPARE(ctrl.liveState(), playAudioVideoCtrl::Live);
            QVERIFY(!ctrl.talkPlayback()->isRunning());
            QVERIFY(ctrl.recorder()->isIdle());
        }

        // Pause and resume reach what runs.
        const auto playback = [&] { return teacher ? ctrl.talkPlayback()->state() : ctrl.classPlayback()->state(); };
        ctrl.classPause();
        if (!teacher || oneToOne)
            QCOMPARE(playback(), Pause);
        ctrl.classResume();
        if (!teacher || oneToOne)
            QCOMPARE(playback(), Playing);

        // The dialogue is a student's, and only one-to-one.
        ctrl.dialogueStart();
        const bool dialogue = !teacher && oneToOne;
        QCOMPARE(ctrl.dialogueState(), dialogue ? int(AudioCtrl::Running) : int(AudioCtrl::Idle));
        if (dialogue)
            QVERIFY(testsupport::waitForCodecs(talkUrl, {"aac"}));

        QSignalSpy idle(&ctrl, &playAudioVideoCtrl::idle);
        ctrl.classStop();
        QCOMPARE(ctrl.classPlayback()->state(), Stop);
        QCOMPARE(ctrl.talkPlayback()->state(), Stop);
        // A student's one-to-one end also ends the dialogue.
        QCOMPARE(ctrl.dialogueState(), int(AudioCtrl::Idle));
        QCOMPARE(ctrl.liveState(), playAudioVideoCtrl::Off);
        QVERIFY(!ctrl.studentVoice());
        // The end of the last thread is told, which is when the screen may
        // start the next class.
        QTRY_VERIFY_WITH_TIMEOUT(!idle.isEmpty(), 20000);
        QVERIFY(ctrl.isIdle());
        if (teacher)
            QVERIFY(testsupport::codecs(classUrl, 3000).isEmpty());
    }

    // The teacher's publishing and the student's voice come back by
    // themselves when their server comes back, without a word to the user.
    void publishingComesBack_data()
    {
        QTest::addColumn<int>("listType");
        QTest::addColumn<bool>("downAtStart");
        QTest::newRow("teacher, server restarts") << 1 << false;
        QTest::newRow("teacher, server down at the start") << 1 << true;
        QTest::newRow("student's voice, server restarts") << 2 << false;
    }

    void publishingComesBack()
    {
        QFETCH(int, listType);
        QFETCH(bool, downAtStart);
        const bool teacher = listType == 1;
        testsupport::NginxRtmp server;
        QVERIFY(server.start());
        const QString classUrl = server.url(QStringLiteral("class_back"));
        const QString talkUrl = server.url(QStringLiteral("talk_back"));
        const QString published = teacher ? classUrl : talkUrl;
        const QStringList expected = teacher ? QStringList{"aac", "h264"} : QStringList{"aac"};
        if (downAtStart)
            server.stop();

        playAudioVideoCtrl ctrl;
        QSignalSpy states(&ctrl, &playAudioVideoCtrl::sig_liveState);
        ctrl.setCourse(teacher ? course(1, "1", classUrl, talkUrl) : course(2, "1", talkUrl, classUrl));
        ctrl.classStart();
        if (!teacher)
            ctrl.dialogueStart();
        QCOMPARE(ctrl.dialogueState(), teacher ? int(AudioCtrl::Idle) : int(AudioCtrl::Running));
        if (!downAtStart)
            QVERIFY(testsupport::waitForCodecs(published, expected));
        QVERIFY(server.restart());
        QVERIFY(testsupport::waitForCodecs(published, expected, 20000));
        QCOMPARE(ctrl.dialogueState(), teacher ? int(AudioCtrl::Idle) : int(AudioCtrl::Running));
        if (teacher) {
            // The teacher saw it all: connecting, (on air and) reconnecting with the reason, on air again.
            QList<int> seen;
            for (const QList<QVariant> &args : states)
                seen << args.at(0).toInt();
            QCOMPARE(seen.first(), int(playAudioVideoCtrl::Connecting));
            QVERIFY(
                seen.contains(int(downAtStart ? playAudioVideoCtrl::Connecting : playAudioVideoCtrl::Reconnecting)));
            QCOMPARE(seen.last(), int(playAudioVideoCtrl::Live));
            QCOMPARE(ctrl.liveState(), playAudioVideoCtrl::Live);
        }

        // After the end nothing comes back.
        ctrl.classStop();
        QCOMPARE(ctrl.dialogueState(), int(AudioCtrl::Idle));
        QTRY_VERIFY_WITH_TIMEOUT(ctrl.isIdle(), 20000);
        QVERIFY(testsupport::codecs(published, 3000).isEmpty());
        QVERIFY(ctrl.isIdle());
    }

    void volumeScalesSamples_data()
    {
        QTest::addColumn<int>("volume");
        QTest::addColumn<QVector<int>>("expected");
        const QVector<int> in = {10000, -10000, 32767, -32768, 0, 1};
        QTest::newRow("100 keeps the sound") << 100 << in;
        QTest::newRow("0 is silent") << 0 << QVector<int>{0, 0, 0, 0, 0, 0};
        QTest::newRow("50 is a quarter") << 50 << QVector<int>{2500, -2500, 8191, -8192, 0, 0};
        QTest::newRow("10 is a hundredth") << 10 << QVector<int>{100, -100, 327, -327, 0, 0};
    }

    void volumeScalesSamples()
    {
        QFETCH(int, volume);
        QFETCH(QVector<int>, expected);
        QVector<int16_t> samples = {10000, -10000, 32767, -32768, 0, 1};
        applyVolume(reinterpret_cast<Uint8 *>(samples.data()), samples.size() * 2, volume);
        QVector<int> out;
        for (int16_t s : samples)
            out << s;
        QCOMPARE(out, expected);
    }

    // Clamped, and set on every player that sounds.
    void volumeReachesEveryPlayer()
    {
        playAudioVideoCtrl ctrl;
        for (const QPair<int, int> &set : {qMakePair(50, 50), qMakePair(150, 100), qMakePair(-5, 0)}) {
            ctrl.setVolume(set.first);
            for (int volume : {ctrl.volume(), ctrl.localPlayback()->volume(), ctrl.classPlayback()->volume(),
                               ctrl.talkPlayback()->volume()})
                QCOMPARE(volume, set.second);
        }
    }
    // The installation's two command-line tools: tavi-record publishes a moving desktop, tavi-play shows it.
    void toolsPublishAndPlay()
    {
        MovingDesktop desktop;
        QVERIFY(QTest::qWaitForWindowExposed(&desktop));
        const QString stage = testsupport::stageDir();
        const QString address = nginx.url(QStringLiteral("course2"));
        QProcess record;
        record.setWorkingDirectory(stage);
        record.start(stage + QStringLiteral("/tavi-record"),
                     {address, QStringLiteral("--seconds"), QStringLiteral("12")});
        QVERIFY(record.waitForStarted());
        QVERIFY(testsupport::waitForCodecs(address, {"aac", "h264"}, 20000));

        QProcess play;
        play.setWorkingDirectory(stage);
        play.start(stage + QStringLiteral("/tavi-play"),
                   {address, QStringLiteral("--frames"), QStringLiteral("50"), QStringLiteral("--stats")});
        // The GUI thread keeps painting the moving desktop meanwhile.
        QTRY_VERIFY_WITH_TIMEOUT(play.state() == QProcess::NotRunning, 30000);
        const QString stats = QString::fromUtf8(play.readAllStandardOutput());
        QCOMPARE(play.exitStatus(), QProcess::NormalExit);
        QVERIFY2(play.exitCode() == 0, qPrintable(stats + play.readAllStandardError()));
        QVERIFY2(stats.contains(QLatin1String("pictures: 50\n")), qPrintable(stats));

        QTRY_VERIFY_WITH_TIMEOUT(record.state() == QProcess::NotRunning, 30000);
        QCOMPARE(record.exitCode(), 0);
    }

    void localFileWithProgress()
    {
        // Stopped, the play button does nothing, and a picture that still comes is not shown.
        QTest::mouseClick(screen->playButton(), Qt::LeftButton);
        QCOMPARE(state(), 3);
        QCOMPARE(ctrl->localPlayback()->state(), Stop);
        QCOMPARE(ctrl->classPlayback()->state(), Stop);
        screen->doOneImage(red());
        QCOMPARE(screen->shownImage(), background());

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

    // A student's one-to-one class has the dialogue button: it follows the dialogue and hides while paused. A dialogue
    // whose restart (its server went away) cannot have the microphone any more gives up: the button follows, and the
    // user is told why.
    void studentDialogueButton()
    {
        testsupport::NginxRtmp voice;
        QVERIFY(voice.start());
        const QString talk = voice.url(QStringLiteral("talk"));
        screen->slot_doClass(course(2, "1", talk, nginx.url("classA")));
        QTRY_COMPARE_WITH_TIMEOUT(shownSize(), QSize(320, 240), 20000);
        QCOMPARE(state(), 1);
        Label *button = screen->dialogueButton();
        QVERIFY(button->isVisible());
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
        // Started again, it ends with the class.
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(ctrl->dialogueState(), int(AudioCtrl::Running));
        end();
        QVERIFY(!button->isVisible());
        QCOMPARE(ctrl->dialogueState(), int(AudioCtrl::Idle));
    }

    // A student early for class waits with a word and nothing that claims to play, whether the server is down at first
    // (the player tries again every 2 s) or holds the player until somebody publishes; the class appears by itself. A
    // stream that goes away mid-class comes back the same way.
    void studentWaitsForTheTeacher_data()
    {
        QTest::addColumn<bool>("downAtStart");
        QTest::newRow("server down") << true;
        QTest::newRow("nobody publishes yet") << false;
    }
    void studentWaitsForTheTeacher()
    {
        QFETCH(bool, downAtStart);
        testsupport::NginxRtmp server;
        QVERIFY(server.start());
        const QString url = server.url("later");
        if (downAtStart)
            server.stop();
        QSignalSpy pictures(ctrl, &playAudioVideoCtrl::sig_GetOneFrame);
        screen->slot_doClass(course(2, "1", server.url("later_talk"), url));
        QTRY_VERIFY(!screen->isStarting());
        if (downAtStart) {
            // The first try failed; the next ones too while the server is down.
            QSignalSpy ended(ctrl->classPlayback(), &QThread::finished);
            QVERIFY(ended.wait(10000) && ended.wait(10000));
            QVERIFY(server.restart());
        }
        QCOMPARE(ctrl->liveState(), playAudioVideoCtrl::Waiting);
        QCOMPARE(screen->liveText(), QStringLiteral("等待老师开始上课…"));
        QCOMPARE(state(), 3);
        QVERIFY(pictures.isEmpty());
        // The dialogue belongs to the class, not to its picture.
        QVERIFY(screen->dialogueButton()->isVisible());
        Publisher teacher;
        QVERIFY(teacher.start(url));
        QTRY_COMPARE_WITH_TIMEOUT(shownSize(), QSize(320, 240), 20000);
        QCOMPARE(state(), 1);
        QCOMPARE(ctrl->liveState(), playAudioVideoCtrl::Live);
        QVERIFY(!screen->liveBar()->isVisible());
        QVERIFY(screen->dialogueButton()->isVisible());
        teacher.stop();
        QTRY_COMPARE_WITH_TIMEOUT(screen->liveText(), QStringLiteral("连接中断，正在重连…"), 10000);
        QCOMPARE(ctrl->liveState(), playAudioVideoCtrl::Reconnecting);
        QCOMPARE(state(), 3);
        QVERIFY(teacher.start(url));
        QTRY_COMPARE_WITH_TIMEOUT(ctrl->liveState(), playAudioVideoCtrl::Live, 20000);
        pictures.clear();
        QTRY_VERIFY_WITH_TIMEOUT(pictures.count() >= 5, 10000);
        // Signing out stops everything; the screen keeps its mode.
        screen->loginOut();
        QCOMPARE(state(), 3);
        QCOMPARE(screen->playMode(), 2);
        QCOMPARE(screen->shownImage(), background());
        QCOMPARE(ctrl->classPlayback()->state(), Stop);
        QTRY_VERIFY_WITH_TIMEOUT(ctrl->isIdle(), 20000);
        QCOMPARE(ctrl->liveState(), playAudioVideoCtrl::Off);
        QVERIFY(!screen->liveBar()->isVisible());
    }

    // A class or file replacing another never blocks the event loop for
    // the old players, and never leaves two of them running.
    void replacingAStudentClass()
    {
        const CourseInfo a = course(2, "3", nginx.url("talkA"), nginx.url("classA"), "1");
        const CourseInfo b = course(2, "3", nginx.url("talkB"), nginx.url("classB"), "2");
        screen->slot_doClass(a);
        QTRY_COMPARE_WITH_TIMEOUT(shownSize(), QSize(320, 240), 20000);
        // A group class: no dialogue button, no progress slider.
        QCOMPARE(screen->playMode(), 2);
        QVERIFY(!screen->dialogueButton()->isVisible() && !screen->progress()->isVisible());

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
        screen->slot_doClass(course(1, "3", first, nginx.url("lesson1_talk"), "1"));
        QVERIFY(testsupport::waitForCodecs(first, {"aac", "h264"}));
        QVERIFY(timed([&] { screen->slot_doClass(course(1, "3", first, nginx.url("x"), "1")); }) < 1000);
        // The second a one-to-one class: no dialogue button for its teacher either.
        QVERIFY(timed([&] { screen->slot_doClass(course(1, "1", second, nginx.url("y"), "2")); }) < 1000);
        QTRY_VERIFY_WITH_TIMEOUT(!screen->isStarting(), 30000);
        QCOMPARE(ctrl->recorder()->currentUrl(), second);
        QVERIFY(!ctrl->recorder()->isIdle());
        QVERIFY(testsupport::waitForCodecs(second, {"aac", "h264"}));
        QVERIFY(testsupport::codecs(first, 3000).isEmpty());
        // The teacher sees what is published, scaled to the screen, and how the class stands.
        QTRY_COMPARE(state(), 1);
        QVERIFY(!screen->dialogueButton()->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(shownSize(), screen->size() * screen->devicePixelRatioF(), 10000);
        QVERIFY(screen->liveText().startsWith(QStringLiteral("● 直播中 00:00:")));
        QCOMPARE(screen->voiceText(), QStringLiteral("学生语音：关"));
        end();
        QVERIFY(!screen->liveBar()->isVisible());
    }
};

QTEST_MAIN(TestClassroom)
#include "tst_classroom.moc"
