// Recording and publishing the test display (Xvfb) and microphone (the
// monitor of a PulseAudio null sink) through the controllers.

#include "movingdesktop.h"
#include "recordprobe.h"

#include "nginxrtmp.h"
#include "testsupport.h"

#include "record/audioctrl.h"
#include "record/devmag.h"
#include "record/getvideothread.h"
#include "record/recordctrl.h"
#include "record/recordnotice.h"
#include "record/savevideothread.h"
#include "record/sendaudiothread.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <cmath>

namespace {
// A machine without camera and microphone.
class NoDevices : public devMag
{
public:
    NoDevices() : devMag(QString(), QString(), QStringLiteral("pulse"), nullptr) {}
};

QString toolPath()
{
    return testsupport::stageDir() + QStringLiteral("/tavi-record");
}
} // namespace

class tst_recordcapture : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void fiveSecondsToFile();
    void pauseLeavesPausedTimeOut();
    void startRightAfterStop();
    void noMicrophoneNoCamera();
    void decodeErrorEndsCaptureCleanly();
    void refusedServer();
    void serverDiesWhilePublishing();
    void killedRecordingStaysPlayable();

private:
    bool waitIdle(recordCtrl *ctrl, int ms = 15000);

    MovingDesktop *m_desktop = nullptr;
    QStringList m_messages;
};

void tst_recordcapture::initTestCase()
{
    QVERIFY2(!qgetenv("DISPLAY").isEmpty(), "needs an X display");
    m_desktop = new MovingDesktop;
    recordNotice::setHandler([this](const QString &text) { m_messages << text; });
    QVERIFY2(!devMag::instance()->audioDeviceName().isEmpty(), "needs a microphone");
}

void tst_recordcapture::init()
{
    m_messages.clear();
}

bool tst_recordcapture::waitIdle(recordCtrl *ctrl, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!ctrl->isIdle() && timer.elapsed() < ms)
        QTest::qWait(20);
    return ctrl->isIdle();
}

void tst_recordcapture::fiveSecondsToFile()
{
    recordCtrl ctrl;
    ctrl.setUrl(QStringLiteral("five.flv"));
    QVERIFY(ctrl.start(0));
    QTest::qWait(5000);
    ctrl.stop();
    QVERIFY(waitIdle(&ctrl));
    QVERIFY(m_messages.isEmpty());
    const RecordProbe probe = probeRecording(QStringLiteral("five.flv"));
    QCOMPARE(probe.formatName, QStringLiteral("flv"));
    QCOMPARE(probe.videoCodec, QStringLiteral("h264"));
    QCOMPARE(probe.audioCodec, QStringLiteral("aac"));
    QCOMPARE(probe.width, 1920);
    QCOMPARE(probe.height, 1080);
    const QString figures = QStringLiteral("%1 pictures, audio %2 s, video %3 s")
                                .arg(probe.videoFrames)
                                .arg(probe.audioSeconds())
                                .arg(probe.videoSeconds());
    qInfo("%s", qPrintable(figures));
    QVERIFY2(std::abs(probe.videoFrames - 125) <= 2, qPrintable(figures));
    QVERIFY2(std::abs(probe.audioSeconds() - probe.videoSeconds()) <= 0.1, qPrintable(figures));
}

void tst_recordcapture::pauseLeavesPausedTimeOut()
{
    recordCtrl ctrl;
    ctrl.setUrl(QStringLiteral("paused.flv"));
    QVERIFY(ctrl.start(0));
    QTest::qWait(2000);
    ctrl.pause();
    QTest::qWait(2000);
    ctrl.resume();
    QTest::qWait(2000);
    ctrl.stop();
    QVERIFY(waitIdle(&ctrl));
    const RecordProbe probe = probeRecording(QStringLiteral("paused.flv"));
    const QString figures = QStringLiteral("%1 pictures, audio %2 s").arg(probe.videoFrames).arg(probe.audioSeconds());
    qInfo("%s", qPrintable(figures));
    // About four seconds recorded out of six.
    QVERIFY2(probe.videoFrames >= 90 && probe.videoFrames <= 110, qPrintable(figures));
    QVERIFY2(std::abs(probe.audioSeconds() - probe.videoSeconds()) <= 0.15, qPrintable(figures));
}

void tst_recordcapture::startRightAfterStop()
{
    recordCtrl ctrl;
    ctrl.setUrl(QStringLiteral("runA.flv"));
    QVERIFY(ctrl.start(0));
    QTest::qWait(1500);
    ctrl.stop();
    ctrl.setUrl(QStringLiteral("runB.flv"));
    QVERIFY(ctrl.start(0)); // waits for the first recording to close
    QVERIFY(QFile::exists(QStringLiteral("runA.flv")));
    QTest::qWait(1500);
    ctrl.stop();
    QVERIFY(waitIdle(&ctrl));
    const RecordProbe a = probeRecording(QStringLiteral("runA.flv"));
    const RecordProbe b = probeRecording(QStringLiteral("runB.flv"));
    QVERIFY(a.ok && b.ok);
    // Each file holds its own 1.5 s, nothing of the other.
    QVERIFY2(a.videoFrames >= 25 && a.videoFrames <= 42, qPrintable(QString::number(a.videoFrames)));
    QVERIFY2(b.videoFrames >= 25 && b.videoFrames <= 42, qPrintable(QString::number(b.videoFrames)));
}

void tst_recordcapture::noMicrophoneNoCamera()
{
    devMag *real = devMag::instance();
    NoDevices none;
    devMag::setInstance(&none);
    recordCtrl ctrl;
    ctrl.setUrl(QStringLiteral("never.flv"));

    QVERIFY(!ctrl.start(0));
    QCOMPARE(m_messages, QStringList{QString::fromUtf8("出错了,初始化音屏设备失败！")});
    m_messages.clear();
    QVERIFY(!ctrl.start(1));
    QCOMPARE(m_messages, QStringList{QString::fromUtf8("出错了,初始化视屏设备失败！")});
    QCOMPARE(ctrl.videoThread->openDevice(QStringLiteral("screen-capture-recorder"), 1), 1);
    QVERIFY(ctrl.isIdle());
    QVERIFY(!QFile::exists(QStringLiteral("never.flv")));

    m_messages.clear();
    AudioCtrl dialogue;
    dialogue.setAddress("never.flv");
    dialogue.start();
    QCOMPARE(dialogue.state, int(AudioCtrl::Idle));
    QCOMPARE(m_messages, QStringList{QString::fromUtf8("出错了,初始化音屏设备失败！")});
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

void tst_recordcapture::decodeErrorEndsCaptureCleanly()
{
    QVERIFY(testsupport::makeMedia(QStringLiteral("pic001.png"),
                                   {"-f", "lavfi", "-i", "testsrc=size=64x48", "-frames:v", "1"}));
    QFile garbage(QStringLiteral("pic002.png"));
    QVERIFY(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray(4096, '\x5a'));
    garbage.close();

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

void tst_recordcapture::refusedServer()
{
    const QString url = QStringLiteral("rtmp://127.0.0.1:%1/live/none").arg(testsupport::freePort());
    recordCtrl ctrl;
    QSignalSpy failed(&ctrl, &recordCtrl::s_failed);
    ctrl.setUrl(url);
    QVERIFY(ctrl.start(0));
    QVERIFY(failed.wait(15000));
    QCOMPARE(m_messages, QStringList{QString::fromUtf8("出错了,无法写入录制输出！")});
    QVERIFY(waitIdle(&ctrl));

    m_messages.clear();
    AudioCtrl dialogue;
    QSignalSpy dialogueFailed(&dialogue, &AudioCtrl::s_failed);
    const QByteArray address = url.toUtf8();
    dialogue.setAddress(address.constData());
    dialogue.start();
    QVERIFY(dialogueFailed.wait(15000));
    QCOMPARE(dialogue.state, int(AudioCtrl::Idle));
    QCOMPARE(m_messages, QStringList{QString::fromUtf8("出错了,无法写入录制输出！")});
}

void tst_recordcapture::serverDiesWhilePublishing()
{
    testsupport::NginxRtmp nginx;
    QVERIFY(nginx.start());
    recordCtrl ctrl;
    QSignalSpy failed(&ctrl, &recordCtrl::s_failed);
    ctrl.setUrl(nginx.url(QStringLiteral("dies")));
    QVERIFY(ctrl.start(0));
    QTest::qWait(1500);
    QVERIFY(m_messages.isEmpty());
    nginx.stop();
    QVERIFY(failed.wait(20000));
    QCOMPARE(m_messages, QStringList{QString::fromUtf8("出错了,无法写入录制输出！")});
    QVERIFY(waitIdle(&ctrl));
}

void tst_recordcapture::killedRecordingStaysPlayable()
{
    QFile::remove(QStringLiteral("killed.flv"));
    QProcess tool;
    tool.start(toolPath(), {QStringLiteral("killed.flv"), QStringLiteral("--seconds"), QStringLiteral("60")});
    QVERIFY(tool.waitForStarted());
    QTest::qWait(3000);
    tool.kill();
    QVERIFY(tool.waitForFinished(5000));
    const RecordProbe probe = probeRecording(QStringLiteral("killed.flv"));
    QCOMPARE(probe.formatName, QStringLiteral("flv"));
    QCOMPARE(probe.videoCodec, QStringLiteral("h264"));
    QVERIFY2(probe.videoFrames >= 25, qPrintable(QString::number(probe.videoFrames)));
    QVERIFY(probe.audioFrames > 0);
}

QTEST_MAIN(tst_recordcapture)
#include "tst_record_capture.moc"
