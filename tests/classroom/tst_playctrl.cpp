// The play control for teacher and student, one-to-one and group classes,
// with real players, publishers and nginx-rtmp.
#include "classpeers.h"
#include "nginxrtmp.h"

#include "classroom/playaudiovideoctrl.h"
#include "record/audioctrl.h"
#include "record/recordctrl.h"
#include "record/recordnotice.h"
#include "video/audio_play.h"
#include "video/audiooutput.h"
#include "video/videoplayer_thread.h"

#include <QSignalSpy>
#include <QtTest>

using testsupport::Publisher;

class TestPlayCtrl : public QObject
{
    Q_OBJECT

    testsupport::NginxRtmp nginx;
    QStringList notices;

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("needs the PulseAudio session of ./run test");
        qRegisterMetaType<CourseInfo>("CourseInfo");
        recordNotice::setHandler([this](const QString &text) { notices << text; });
        QVERIFY(nginx.start());
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
        ctrl.setCourse(teacher ? classpeers::course(1, teachingType, classUrl, talkUrl)
                               : classpeers::course(2, teachingType, talkUrl, classUrl));
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
        ctrl.setCourse(teacher ? classpeers::course(1, "1", classUrl, talkUrl)
                               : classpeers::course(2, "1", talkUrl, classUrl));
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

    // A student whose class's stream is not there yet waits, and the class
    // plays by itself once it comes: a server down at first (the player
    // tries again every 2 s), or one that holds the player until somebody
    // publishes. A stream that goes away mid-class comes back the same way.
    void studentWaitsForTheClass_data()
    {
        QTest::addColumn<bool>("downAtStart");
        QTest::newRow("server down") << true;
        QTest::newRow("nobody publishes yet") << false;
    }

    void studentWaitsForTheClass()
    {
        QFETCH(bool, downAtStart);
        testsupport::NginxRtmp server;
        QVERIFY(server.start());
        const QString url = server.url(QStringLiteral("waiting"));
        if (downAtStart)
            server.stop();
        playAudioVideoCtrl ctrl;
        QSignalSpy pictures(&ctrl, &playAudioVideoCtrl::sig_GetOneFrame);
        ctrl.setCourse(classpeers::course(2, "3", server.url("talk"), url));
        QVERIFY(ctrl.classStart());
        QCOMPARE(ctrl.liveState(), playAudioVideoCtrl::Waiting);
        if (downAtStart) {
            // The first try failed; the next ones too while the server is down.
            QSignalSpy ended(ctrl.classPlayback(), &QThread::finished);
            QVERIFY(ended.wait(10000) && ended.wait(10000));
            QVERIFY(server.restart());
        }
        QCOMPARE(ctrl.liveState(), playAudioVideoCtrl::Waiting);
        QVERIFY(pictures.isEmpty());

        Publisher teacher;
        QVERIFY(teacher.start(url));
        QTRY_VERIFY_WITH_TIMEOUT(pictures.count() >= 5, 20000);
        QCOMPARE(ctrl.liveState(), playAudioVideoCtrl::Live);

        teacher.stop();
        QTRY_COMPARE_WITH_TIMEOUT(ctrl.liveState(), playAudioVideoCtrl::Reconnecting, 10000);
        QVERIFY(teacher.start(url));
        QTRY_COMPARE_WITH_TIMEOUT(ctrl.liveState(), playAudioVideoCtrl::Live, 20000);
        pictures.clear();
        QTRY_VERIFY_WITH_TIMEOUT(pictures.count() >= 5, 10000);

        ctrl.classStop();
        QCOMPARE(ctrl.liveState(), playAudioVideoCtrl::Off);
        QTRY_VERIFY_WITH_TIMEOUT(ctrl.isIdle(), 20000);
    }

    // A class of another list type starts nothing; stopping it, with no
    // dialogue running, is fine.
    void otherListTypesDoNothing()
    {
        playAudioVideoCtrl ctrl;
        ctrl.setCourse(classpeers::course(0, "1", nginx.url("x"), nginx.url("y")));
        ctrl.classStart();
        ctrl.dialogueStart();
        QVERIFY(ctrl.isIdle());
        QCOMPARE(ctrl.classPlayback()->state(), Stop);
        QCOMPARE(ctrl.dialogueState(), int(AudioCtrl::Idle));
        ctrl.classStop();
        QTRY_VERIFY(ctrl.isIdle());
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
};

QTEST_MAIN(TestPlayCtrl)
#include "tst_playctrl.moc"
