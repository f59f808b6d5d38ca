// Recording and publishing the test display (Xvfb) and microphone (the
// monitor of a PulseAudio null sink) through the controllers.

#include "movingdesktop.h"
#include "recordprobe.h"

#include "nginxrtmp.h"
#include "sound.h"
#include "testsupport.h"

#include "record/audioctrl.h"
#include "record/devmag.h"
#include "record/getvideothread.h"
#include "record/recordctrl.h"
#include "record/recordnotice.h"
#include "record/savevideothread.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <cmath>

namespace {
const QStringList kNoAudio{QString::fromUtf8("出错了,初始化音屏设备失败！")};
const QStringList kNoVideo{QString::fromUtf8("出错了,初始化视屏设备失败！")};
const QStringList kNoOutput{QString::fromUtf8("出错了,无法写入录制输出！")};

// A machine without camera and microphone.
class NoDevices : public devMag
{
public:
    NoDevices() : devMag(QString(), QString(), QStringLiteral("pulse"), nullptr) {}
};
} // namespace

class tst_recordcapture : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(!qgetenv("DISPLAY").isEmpty(), "needs an X display");
        new MovingDesktop;
        recordNotice::setHandler([this](const QString &text) { m_messages << text; });
        QVERIFY2(!devMag::instance()->audioDeviceName().isEmpty(), "needs a microphone");
    }

    void init() { m_messages.clear(); }

    void recordToFile_data()
    {
        QTest::addColumn<int>("firstMs");
        QTest::addColumn<int>("pausedMs");
        QTest::addColumn<int>("pictures");
        QTest::addColumn<int>("tolerance");
        QTest::addColumn<double>("avGap");
        QTest::newRow("five seconds") << 5000 << 0 << 125 << 2 << 0.1;
        // Paused 2 s between two parts of 2 s: about four seconds recorded out of six.
        QTest::newRow("pause leaves paused time out") << 2000 << 2000 << 100 << 10 << 0.15;
    }

    void recordToFile()
    {
        QFETCH(int, firstMs);
        QFETCH(int, pausedMs);
        QFETCH(int, pictures);
        QFETCH(int, tolerance);
        QFETCH(double, avGap);
        recordCtrl ctrl;
        ctrl.setUrl(QStringLiteral("record.flv"));
        QVERIFY(ctrl.start(0));
        QTest::qWait(firstMs); // the spans recorded and paused are what the row measures
        if (pausedMs) {
            ctrl.pause();
            QTest::qWait(pausedMs);
            ctrl.resume();
            QTest::qWait(firstMs);
        }
        ctrl.stop();
        QTRY_VERIFY_WITH_TIMEOUT(ctrl.isIdle(), 15000);
        QVERIFY(m_messages.isEmpty());
        const RecordProbe probe = probeRecording(QStringLiteral("record.flv"));
        QCOMPARE(probe.formatName, QStringLiteral("flv"));
        QCOMPARE(probe.videoCodec, QStringLiteral("h264"));
        QCOMPARE(probe.audioCodec, QStringLiteral("aac"));
        const QString figures =
            QStringLiteral("%1 pictures, audio %2 s").arg(probe.videoFrames).arg(probe.audioSeconds());
        QVERIFY2(std::abs(probe.videoFrames - pictures) <= tolerance, qPrintable(figures));
        QVERIFY2(std::abs(probe.audioSeconds() - probe.videoSeconds()) <= avGap, qPrintable(figures));
    }

    void startRightAfterStop()
    {
        recordCtrl ctrl;
        ctrl.setUrl(QStringLiteral("runA.flv"));
        QVERIFY(ctrl.start(0));
        QTest::qWait(1500); // a recording of some length
        ctrl.stop();
        ctrl.setUrl(QStringLiteral("runB.flv"));
        QVERIFY(ctrl.start(0)); // waits for the first recording to close
        QVERIFY(QFile::exists(QStringLiteral("runA.flv")));
        QTest::qWait(1500);
        ctrl.stop();
        QTRY_VERIFY_WITH_TIMEOUT(ctrl.isIdle(), 15000);
        // Each file holds its own 1.5 s, nothing of the other.
        for (const char *name : {"runA.flv", "runB.flv"}) {
            const int frames = probeRecording(QString::fromLatin1(name)).videoFrames;
            QVERIFY2(frames >= 25 && frames <= 42, qPrintable(QString::number(frames)));
        }
    }

    void noMicrophoneNoCamera()
    {
        devMag *real = devMag::instance();
        NoDevices none;
        devMag::setInstance(&none);
        recordCtrl ctrl;
        ctrl.setUrl(QStringLiteral("never.flv"));
        QVERIFY(!ctrl.start(0));
        QCOMPARE(m_messages, kNoAudio);
        m_messages.clear();
        QVERIFY(!ctrl.start(1));
        QCOMPARE(m_messages, kNoVideo);
        QCOMPARE(ctrl.videoThread->openDevice(QStringLiteral("screen-capture-recorder"), 1), 1);
        QVERIFY(ctrl.isIdle());
        QVERIFY(!QFile::exists(QStringLiteral("never.flv")));

        m_messages.clear();
        AudioCtrl dialogue;
        dialogue.setAddress("never.flv");
        dialogue.start();
        QCOMPARE(dialogue.state, int(AudioCtrl::Idle));
        QCOMPARE(m_messages, kNoAudio);
        dialogue.stop(); // stop while idle changes nothing
        QCOMPARE(dialogue.state, int(AudioCtrl::Idle));
        devMag::setInstance(real);

        // The desktop that was opened before the microphone failed is free again.
        GetVideoThread video;
        saveVideoThread encoder;
        video.setEncoder(&encoder);
        QCOMPARE(video.openDevice(QStringLiteral("screen-capture-recorder"), 0), 4);
        video.closeDevice();
    }

    // The microphone is the one the user chose (PULSE_SOURCE here, the sound
    // settings' default source otherwise), not the first source listed, which
    // is the monitor of the speakers.
    void microphoneIsTheChosenSource()
    {
        testsupport::NullSink mic(QStringLiteral("tst_record_mic"));
        QVERIFY(mic.isLoaded());
        testsupport::Tone tone;
        QVERIFY(tone.start(mic.name(), 1000));
        // A sink just loaded hands its monitor over in fits at first.
        QVERIFY(testsupport::waitForTone(mic.monitor(), 1000, 10000));
        qputenv("PULSE_SOURCE", mic.monitor().toUtf8());
        AudioCtrl dialogue;
        dialogue.setAddress("voice.flv");
        dialogue.start();
        const int state = dialogue.state;
        QTest::qWait(2500); // the span of voice checked below
        dialogue.stop();
        qunsetenv("PULSE_SOURCE");
        QVERIFY(dialogue.waitIdle(15000));
        QCOMPARE(state, int(AudioCtrl::Running));
        QVERIFY(m_messages.isEmpty());
        const QVector<qint16> voice = testsupport::samplesOf({QStringLiteral("-i"), QStringLiteral("voice.flv")});
        QVERIFY2(voice.size() > testsupport::kSampleRate, qPrintable(QString::number(voice.size())));
        const double share = testsupport::toneShare(voice, 1000);
        QVERIFY2(share > 0.5,
                 qPrintable(QStringLiteral("tone share %1, rms %2").arg(share).arg(testsupport::rms(voice))));
    }

    void decodeErrorEndsCaptureCleanly()
    {
        QVERIFY(testsupport::makeMedia(QStringLiteral("pic001.png"),
                                       {"-f", "lavfi", "-i", "testsrc=size=64x48", "-frames:v", "1"}));
        QVERIFY(testsupport::writeFile(QStringLiteral("pic002.png"), QByteArray(4096, '\x5a')));

        saveVideoThread encoder;
        GetVideoThread video;
        video.setEncoder(&encoder);
        QSignalSpy failed(&video, &GetVideoThread::sig_captureFailed);
        QCOMPARE(video.openInput("image2", QStringLiteral("pic%03d.png")), 4);
        video.startCapture();
        QVERIFY(failed.wait(10000));
        QVERIFY(video.wait(5000));
        QVERIFY(video.captureFailed());
        QCOMPARE(encoder.videoQueue().count(), 1); // the good picture got through
        // The input was closed: it can be opened again at once.
        QCOMPARE(video.openInput("image2", QStringLiteral("pic%03d.png")), 4);
        video.closeDevice();
    }

    void refusedServer()
    {
        const QByteArray url = QStringLiteral("rtmp://127.0.0.1:%1/live/none").arg(testsupport::freePort()).toUtf8();
        recordCtrl ctrl;
        QSignalSpy failed(&ctrl, &recordCtrl::s_failed);
        ctrl.setUrl(QString::fromUtf8(url));
        QVERIFY(ctrl.start(0));
        QVERIFY(failed.wait(15000));
        QCOMPARE(m_messages, kNoOutput);
        QTRY_VERIFY_WITH_TIMEOUT(ctrl.isIdle(), 15000);

        m_messages.clear();
        AudioCtrl dialogue;
        QSignalSpy dialogueFailed(&dialogue, &AudioCtrl::s_failed);
        dialogue.setAddress(url.constData());
        dialogue.start();
        QVERIFY(dialogueFailed.wait(15000));
        QCOMPARE(dialogue.state, int(AudioCtrl::Idle));
        QCOMPARE(m_messages, kNoOutput);
    }

    void serverDiesWhilePublishing()
    {
        testsupport::NginxRtmp nginx;
        QVERIFY(nginx.start());
        recordCtrl ctrl;
        QSignalSpy failed(&ctrl, &recordCtrl::s_failed);
        ctrl.setUrl(nginx.url(QStringLiteral("dies")));
        QVERIFY(ctrl.start(0));
        QTest::qWait(1500); // publishing for a while before the server dies
        QVERIFY(m_messages.isEmpty());
        nginx.stop();
        QVERIFY(failed.wait(20000));
        QCOMPARE(m_messages, kNoOutput);
        QTRY_VERIFY_WITH_TIMEOUT(ctrl.isIdle(), 15000);
    }

    void killedRecordingStaysPlayable_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("audioOnly");
        QTest::addColumn<QString>("format");
        const QString mp4 = QStringLiteral("mov,mp4,m4a,3gp,3g2,mj2");
        QTest::newRow("flv") << "killed.flv" << false << "flv";
        QTest::newRow("mp4") << "killed.mp4" << false << mp4;
        QTest::newRow("voice into mp4") << "killedvoice.MP4" << true << mp4;
    }

    void killedRecordingStaysPlayable()
    {
        QFETCH(QString, name);
        QFETCH(bool, audioOnly);
        QFETCH(QString, format);
        QFile::remove(name);
        QProcess tool;
        QStringList args{name, "--seconds", "60"};
        if (audioOnly)
            args << "--audio-only";
        tool.start(testsupport::stageDir() + QStringLiteral("/tavi-record"), args);
        QVERIFY(tool.waitForStarted());
        // Recording until the file holds what the checks below ask for, then
        // the kill: what was written must stay readable.
        QTRY_VERIFY_WITH_TIMEOUT(
            [&]() {
                const RecordProbe written = probeRecording(name, 5000);
                return written.audioSeconds() >= 1.0 && (audioOnly || written.videoFrames >= 25);
            }(),
            30000);
        tool.kill();
        QVERIFY(tool.waitForFinished(5000));
        const RecordProbe probe = probeRecording(name);
        QCOMPARE(probe.formatName, format);
        if (!audioOnly) {
            QCOMPARE(probe.videoCodec, QStringLiteral("h264"));
            QVERIFY2(probe.videoFrames >= 25, qPrintable(QString::number(probe.videoFrames)));
        }
        QCOMPARE(probe.audioCodec, QStringLiteral("aac"));
        QVERIFY2(probe.audioSeconds() >= 1.0, qPrintable(QString::number(probe.audioSeconds())));
    }

private:
    QStringList m_messages;
};

QTEST_MAIN(tst_recordcapture)
#include "tst_record_capture.moc"
