// A one-to-one class's microphone on a real echo path of PulseAudio's: the
// speakers' sound reaches the microphone 50 ms later through a loopback,
// and a near-end voice is played into the same room. The players and the
// captures are wired to one canceller as the classroom wires them.
#include "base/echocanceller.h"
#include "logcapture.h"
#include "record/audioctrl.h"
#include "record/devmag.h"
#include "record/recordctrl.h"
#include "sound.h"
#include "testsupport.h"
#include "video/audio_play.h"
#include "video/videoplayer_thread.h"

#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QtTest>

#include <cmath>

namespace {
class Devices : public devMag
{
public:
    explicit Devices(const QString &microphone) : devMag(QString(), microphone, QStringLiteral("pulse"), nullptr) {}
};

constexpr int kFarHz = 1000;
constexpr int kNearHz = 500;
// Seconds from the capture's start, which waits until the microphone hears the far end: the far end goes on in
// bursts for at most 12 s more, the near end speaks from 13 s to 16 s. Each window holds the whole of its part (the
// far end's after the canceller has found the echo, which takes a few seconds on a busy machine) also when the two
// recordings start a few tenths of a second apart.
constexpr double kFarFrom = 4, kFarTo = 8, kNearFrom = 12.3, kNearTo = 17.2;
constexpr int kRunMs = 18000;
// Bursts of 0.3 s, as speech comes: a steady tone would be taken for noise.
const char *const kBursts = "volume='if(lt(mod(t,0.6),0.3),%1,0)':eval=frame";

QVector<qint16> slice(const QVector<qint16> &samples, double from, double to)
{
    return samples.mid(int(from * testsupport::kSampleRate), int((to - from) * testsupport::kSampleRate));
}

double db(double power, double reference)
{
    return 10 * std::log10(std::max(power, 1e-9) / std::max(reference, 1e-9));
}
} // namespace

class tst_Echo : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(m_speakers.isLoaded() && m_room.isLoaded() && m_microphone.isLoaded(), "needs a PulseAudio server");
        QVERIFY(m_echo.isLoaded());
        devMag::setInstance(new Devices(m_microphone.name()));
        // The far end: a picture and 12 s of bursts, then silence.
        QVERIFY(testsupport::run(QStringLiteral("ffmpeg"),
                                 {"-v", "error", "-y", "-f", "lavfi", "-i", "color=black:s=320x240:r=25:d=20", "-f",
                                  "lavfi", "-i",
                                  QStringLiteral("sine=frequency=%1:sample_rate=44100:duration=12,%2,apad=whole_dur=20")
                                      .arg(kFarHz)
                                      .arg(QString::fromLatin1(kBursts).arg(0.5)),
                                  "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac", "-shortest", "far.flv"},
                                 60000));
    }

    // Far end at least 20 dB below what the microphone hears of it, near end at most 3 dB below: the teacher hears
    // the student's voice, the student hears the class.
    void echoIsTakenOut_data()
    {
        QTest::addColumn<bool>("teacher");
        QTest::newRow("teacher") << true;
        QTest::newRow("student") << false;
    }
    void echoIsTakenOut()
    {
        QFETCH(bool, teacher);
        std::shared_ptr<EchoCanceller> canceller = EchoCanceller::create(44100, 2);
        QVERIFY(canceller);
        AudioPlayer voice;
        VideoPlayer_Thread classPlayer;
        PlayerThread *farEnd = teacher ? static_cast<PlayerThread *>(&voice) : &classPlayer;
        farEnd->setEchoCanceller(canceller);
        recordCtrl recorder;
        AudioCtrl talk;
        CaptureCtrl *capture = teacher ? static_cast<CaptureCtrl *>(&recorder) : &talk;
        capture->setEchoCanceller(canceller);
        const QString published = teacher ? QStringLiteral("class.flv") : QStringLiteral("dialogue.flv");
        QFile::remove(published);
        // Measured from when the room carries the far end: a busy machine takes its time to open devices.
        QVERIFY(farEnd->startPlay(QStringLiteral("far.flv")));
        QVERIFY2(testsupport::waitForTone(m_microphone.name(), kFarHz, 8000),
                 "the far end does not reach the microphone");
        if (teacher) {
            recorder.setUrl(published);
            QVERIFY(recorder.start(0));
        } else {
            talk.setAddress(published.toUtf8().constData());
            talk.start();
            QVERIFY(talk.isRunning());
        }
        testsupport::PeerProcess nearEnd;
        nearEnd.start(
            QStringLiteral("ffmpeg"),
            {"-nostdin", "-loglevel", "error", "-re", "-f", "lavfi", "-i",
             QStringLiteral("sine=frequency=%1:sample_rate=44100:duration=18,volume='if(between(t,13,16),1,0)'"
                            ":eval=frame,%2")
                 .arg(kNearHz)
                 .arg(QString::fromLatin1(kBursts).arg(0.3)),
             "-f", "pulse", "-device", m_room.name(), "near"});
        QVERIFY(nearEnd.waitForStarted(5000));
        // What the microphone hears, without the canceller: the same time line within a few tenths of a second.
        const QVector<qint16> heard = testsupport::recordSource(m_microphone.name(), kRunMs);
        farEnd->stop(true);
        if (teacher)
            recorder.stop();
        else
            talk.stop();
        QTRY_VERIFY_WITH_TIMEOUT(capture->isIdle(), 15000);
        QVERIFY(!canceller->failed());

        const QVector<qint16> sent = testsupport::samplesOf({"-i", published, "-map", "0:a"}, 60000);
        QVERIFY2(sent.size() > kRunMs / 1000 * testsupport::kSampleRate * 9 / 10, qPrintable(published));
        const double far = db(testsupport::tonePower(slice(heard, kFarFrom, kFarTo), kFarHz),
                              testsupport::tonePower(slice(sent, kFarFrom, kFarTo), kFarHz));
        const double near = db(testsupport::tonePower(slice(sent, kNearFrom, kNearTo), kNearHz),
                               testsupport::tonePower(slice(heard, kNearFrom, kNearTo), kNearHz));
        const QString figures = QStringLiteral("far end taken down %1 dB, near end changed %2 dB").arg(far).arg(near);
        qInfo("%s", qPrintable(figures));
        // The microphone did hear the far end: the echo path is there.
        QVERIFY2(testsupport::tonePower(slice(heard, kFarFrom, kFarTo), kFarHz) > 1000, qPrintable(figures));
        QVERIFY2(far >= 20, qPrintable(figures));
        QVERIFY2(near >= -3, qPrintable(figures));
    }

    // What the processing cannot take is told in the log and leaves the microphone as it is.
    void oddRatesLeaveTheSound()
    {
        testsupport::LogCapture log;
        QVERIFY(!EchoCanceller::create(22050, 2));
        QVERIFY(log.messages().join('\n').contains(QStringLiteral("cannot take 22050 Hz")));
        std::shared_ptr<EchoCanceller> canceller = EchoCanceller::create(44100, 2);
        QVERIFY(canceller);
        std::vector<int16_t> far(2 * 960, 8000);
        for (int i = 0; i < 3; ++i)
            canceller->played(far.data(), long(far.size()), 96000, 2);
        QCOMPARE(log.messages().filter(QStringLiteral("96000 Hz")).size(), 1);
        // The microphone still comes through, in whole frames: a block of 4410 at once, one of 4000 partly.
        std::vector<int16_t> near(2 * 4410);
        for (size_t i = 0; i < near.size(); i += 2)
            near[i] = near[i + 1] = int16_t(6000 * std::sin(2 * M_PI * kNearHz * double(i / 2) / 44100));
        QVector<qint16> out;
        std::vector<int16_t> cleaned;
        for (int block = 0; block < 20; ++block) {
            canceller->process(near.data(), long(near.size()), cleaned);
            QCOMPARE(cleaned.size(), near.size());
            QCOMPARE(canceller->held(), 0);
            for (size_t i = 0; i < cleaned.size(); i += 2)
                out << cleaned[i];
        }
        canceller->process(near.data(), 8000, cleaned);
        QCOMPARE(cleaned.size(), size_t(2 * 3969));
        QCOMPARE(canceller->held(), 31);
        QVERIFY(!canceller->failed());
        QVERIFY(testsupport::toneShare(out.mid(44100), kNearHz) > 0.8);
    }

    // Muted, the microphone is published as silence with no gap in the time stamps; its meter moves with a tone
    // and rests at silence, and a microphone that hears the tone is never silent for long.
    void muteKeepsTime()
    {
        recordCtrl recorder;
        QFile::remove(QStringLiteral("muted.flv"));
        recorder.setUrl(QStringLiteral("muted.flv"));
        testsupport::Tone tone;
        QVERIFY(tone.start(m_room.name(), kNearHz));
        QVERIFY(recorder.start(0));
        QTRY_VERIFY_WITH_TIMEOUT(recorder.microphoneLevel() > 0.5, 5000);
        QTest::qWait(1000);
        QVERIFY(recorder.microphoneSilentMs() < 200);
        recorder.setMuted(true);
        QVERIFY(recorder.isMuted());
        QTRY_VERIFY_WITH_TIMEOUT(recorder.microphoneLevel() < 0.05, 5000);
        QTest::qWait(1500);
        QVERIFY(recorder.microphoneSilentMs() >= 1000);
        recorder.setMuted(false);
        QTRY_VERIFY_WITH_TIMEOUT(recorder.microphoneLevel() > 0.5, 5000);
        QTest::qWait(1000);
        recorder.stop();
        QTRY_VERIFY_WITH_TIMEOUT(recorder.isIdle(), 15000);

        // Each sound packet starts where the last one ended.
        QByteArray out;
        QVERIFY(testsupport::run(QStringLiteral("ffprobe"),
                                 {"-v", "error", "-select_streams", "a", "-show_entries",
                                  "packet=pts_time,duration_time", "-of", "csv=p=0", "muted.flv"},
                                 30000, &out));
        double end = -1;
        int packets = 0;
        for (const QByteArray &line : out.split('\n')) {
            const QList<QByteArray> fields = line.split(',');
            if (fields.size() < 2)
                continue;
            const double pts = fields[0].toDouble();
            if (end >= 0)
                QVERIFY2(std::abs(pts - end) <= 0.0015, line.constData());
            end = pts + fields[1].toDouble();
            ++packets;
        }
        QVERIFY(packets > 100);
        // The muted stretch is silence, the rest the tone.
        const QVector<qint16> sent = testsupport::samplesOf({"-i", "muted.flv", "-map", "0:a"}, 30000);
        int longestQuiet = 0, quiet = 0;
        for (qint16 sample : sent) {
            quiet = std::abs(int(sample)) < 8 ? quiet + 1 : 0;
            longestQuiet = std::max(longestQuiet, quiet);
        }
        const double quietSeconds = double(longestQuiet) / testsupport::kSampleRate;
        QVERIFY2(quietSeconds > 1.2 && quietSeconds < 4, qPrintable(QString::number(quietSeconds)));
    }

private:
    testsupport::NullSink m_speakers{"tavi_echo_speakers"};
    testsupport::NullSink m_room{"tavi_echo_room"};
    testsupport::Microphone m_microphone{"tavi_echo_mic", m_room, "RoomMic"};
    // The room: what the speakers play reaches the microphone 50 ms later.
    testsupport::PulseModule m_echo{
        {"module-loopback", "source=tavi_echo_speakers.monitor", "sink=tavi_echo_room", "latency_msec=50"}};
};

int main(int argc, char **argv)
{
    // The players play into the speakers.
    qputenv("PULSE_SINK", "tavi_echo_speakers");
    QGuiApplication app(argc, argv);
    tst_Echo test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_echo.moc"
