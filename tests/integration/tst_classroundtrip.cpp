// A teacher publishes the desktop and microphone to nginx-rtmp through the
// recording controller; a student's live player shows it with sound. In a
// one-to-one class the student's voice goes the other way, audio only.
#include "movingdesktop.h"
#include "nginxrtmp.h"
#include "testsupport.h"
#include "record/audioctrl.h"
#include "record/recordctrl.h"
#include "video/audio_play.h"
#include "video/videoplayer_thread.h"

#include <QApplication>
#include <QProcess>
#include <QScreen>
#include <QtTest>

class TestClassRoundTrip : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("needs the PulseAudio session of ./run test");
    }

    void studentWatchesTeacher()
    {
        testsupport::NginxRtmp nginx;
        QVERIFY(nginx.start());
        MovingDesktop desktop;
        QVERIFY(QTest::qWaitForWindowExposed(&desktop));

        recordCtrl teacher;
        QSignalSpy failed(&teacher, &recordCtrl::s_failed);
        teacher.setUrl(nginx.url(QStringLiteral("course1")));
        QVERIFY(teacher.start(0));

        VideoPlayer_Thread student;
        int pictures = 0;
        QSize size;
        QList<QRgb> samples;
        connect(&student, &VideoPlayer_Thread::sig_GetOneFrame, &student, [&](const QImage &image) {
            ++pictures;
            size = image.size();
            samples << image.pixel(image.width() / 4, image.height() / 4);
        });
        // The stream exists once the teacher's first key frame reached nginx.
        QTest::qWait(1500);
        QVERIFY(student.startPlay(nginx.url(QStringLiteral("course1"))));
        QTRY_VERIFY_WITH_TIMEOUT(pictures >= 50, 30000);
        QCOMPARE(size, QApplication::primaryScreen()->size());
        // The moving desktop shows up as changing pictures.
        QVERIFY(QSet<QRgb>(samples.begin(), samples.end()).size() > 1);
        // The sound plays: the student's audio clock moves.
        const double clock = student.playbackState().audioClock;
        QTRY_VERIFY_WITH_TIMEOUT(student.playbackState().audioClock > clock + 0.5, 10000);
        QVERIFY(failed.isEmpty());

        student.stop(true);
        teacher.stop();
        QVERIFY(teacher.waitIdle(15000));
    }

    void teacherHearsStudent()
    {
        testsupport::NginxRtmp nginx;
        QVERIFY(nginx.start());
        AudioCtrl dialogue;
        QSignalSpy failed(&dialogue, &AudioCtrl::s_failed);
        const QByteArray address = nginx.url(QStringLiteral("course1_talk")).toUtf8();
        dialogue.setAddress(address.constData());
        dialogue.start();
        QCOMPARE(dialogue.state, int(AudioCtrl::Running));
        QTest::qWait(1000);

        AudioPlayer teacher;
        QVERIFY(teacher.startPlay(QString::fromUtf8(address)));
        QTRY_VERIFY_WITH_TIMEOUT(teacher.playbackState().audioClock > 1.0, 20000);
        QVERIFY(failed.isEmpty());

        teacher.stop(true);
        dialogue.stop();
        QVERIFY(dialogue.waitIdle(15000));
    }

    // The same through the two command-line tools of the installation.
    void toolsPublishAndPlay()
    {
        testsupport::NginxRtmp nginx;
        QVERIFY(nginx.start());
        MovingDesktop desktop;
        QVERIFY(QTest::qWaitForWindowExposed(&desktop));
        const QString stage = testsupport::stageDir();
        const QString address = nginx.url(QStringLiteral("course2"));
        QProcess record;
        record.setWorkingDirectory(stage);
        record.start(stage + QStringLiteral("/tavi-record"),
                     {address, QStringLiteral("--seconds"), QStringLiteral("12")});
        QVERIFY(record.waitForStarted());
        QTest::qWait(2000);

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
};

QTEST_MAIN(TestClassRoundTrip)
#include "tst_classroundtrip.moc"
