// Sound and picture of one moment get one time: a window on the test display
// flashes white while a tone is written into a PulseAudio pipe source that
// serves as the microphone; in the recording each tone must start with its
// flash. (A pipe source, unlike a sink's monitor, adds no playback latency of
// its own that the test would have to guess.)

#include "sound.h"
#include "testsupport.h"

#include "record/devmag.h"
#include "record/recordctrl.h"
#include "record/recordnotice.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QPainter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

constexpr int kRate = 44100;
constexpr int kFlashMs = 200;
const QVector<int> kFlashAtMs{1000, 1700, 2400, 3100, 3800, 4500, 5200, 5900};
const QRect kFlashRect(0, 0, 200, 200);

// The microphone for this test: a pipe source on the test's sound server,
// removed again at the end.
class PipeMicrophone
{
public:
    bool load(const QString &fifo)
    {
        QByteArray out;
        if (!testsupport::run(QStringLiteral("pactl"),
                              {"load-module", "module-pipe-source", "source_name=tavi_sync_pipe", "file=" + fifo,
                               "format=s16le", "rate=44100", "channels=1"},
                              10000, &out))
            return false;
        m_module = out.trimmed();
        return !m_module.isEmpty();
    }
    // The source claims a fixed latency (a pipe buffer's worth) that a
    // writer keeping up with the clock does not have; the device's stamps
    // put each block that much earlier.
    double claimedLatencyMs() const
    {
        QByteArray out;
        testsupport::run(QStringLiteral("pactl"), {"list", "sources"}, 10000, &out);
        const QString text = QString::fromUtf8(out);
        const int at = text.indexOf(QStringLiteral("Name: tavi_sync_pipe"));
        const QRegularExpression latency(QStringLiteral("configured (\\d+) usec"));
        const auto match = latency.match(text, at < 0 ? text.size() : at);
        return match.hasMatch() ? match.captured(1).toDouble() / 1000.0 : 0.0;
    }
    ~PipeMicrophone()
    {
        if (!m_module.isEmpty())
            testsupport::run(QStringLiteral("pactl"), {"unload-module", QString::fromLatin1(m_module)});
    }

private:
    QByteArray m_module;
};

class PipeDevice : public devMag
{
public:
    PipeDevice() : devMag(QString(), QStringLiteral("tavi_sync_pipe"), QStringLiteral("pulse"), nullptr) {}
};

// Black, white during a flash; the tone follows the same clock. Samples are
// written into the source as their time comes, so the tone starts as the
// flash shows.
class FlashAndTone : public QWidget
{
public:
    FlashAndTone()
    {
        setWindowFlags(Qt::FramelessWindowHint);
        setGeometry(kFlashRect);
        show();
    }
    bool start(const QString &fifo)
    {
        m_pipe.setFileName(fifo);
        if (!m_pipe.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return false;
        m_clock.start();
        connect(&m_timer, &QTimer::timeout, this, [this] { tick(); });
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.start(5);
        return true;
    }
    void stop()
    {
        m_timer.stop();
        m_pipe.close();
    }

protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(rect(), m_lit ? Qt::white : Qt::black); }

private:
    static bool flashing(qint64 ms)
    {
        return std::any_of(kFlashAtMs.begin(), kFlashAtMs.end(),
                           [ms](int at) { return ms >= at && ms < at + kFlashMs; });
    }
    void tick()
    {
        const qint64 now = m_clock.elapsed();
        const bool lit = flashing(now);
        if (lit != m_lit) {
            m_lit = lit;
            repaint();
        }
        const qint64 due = now * kRate / 1000;
        QByteArray samples;
        for (; m_written < due; ++m_written) {
            const qint64 ms = m_written * 1000 / kRate;
            const qint16 value = flashing(ms) ? qint16(12000 * std::sin(2 * M_PI * 1000 * m_written / kRate)) : 0;
            samples.append(reinterpret_cast<const char *>(&value), sizeof value);
        }
        m_pipe.write(samples);
    }

    QFile m_pipe;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_written = 0;
    bool m_lit = false;
};

// Times (s) at which a signal rises after being low, from samples at rate.
template<class T> QVector<double> onsets(const QVector<T> &values, double rate, int threshold, int quietSamples)
{
    QVector<double> times;
    int quiet = quietSamples;
    for (int i = 0; i < values.size(); ++i) {
        if (std::abs(values[i]) > threshold) {
            if (quiet >= quietSamples)
                times << i / rate;
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return times;
}

} // namespace

class tst_recordsync : public QObject
{
    Q_OBJECT
private slots:
    void toneStartsWithTheFlash()
    {
        QVERIFY2(!qgetenv("DISPLAY").isEmpty(), "needs an X display");
        QStringList messages;
        recordNotice::setHandler([&](const QString &text) { messages << text; });
        QTemporaryDir dir;
        const QString fifo = dir.filePath(QStringLiteral("microphone"));
        PipeMicrophone microphone;
        QVERIFY2(microphone.load(fifo), "needs a PulseAudio server that takes module-pipe-source");
        devMag::setInstance(new PipeDevice);
        FlashAndTone scene;
        QVERIFY(QTest::qWaitForWindowExposed(&scene));
        // Writing before the recording opens the source keeps its first read
        // from waiting for data.
        QVERIFY(scene.start(fifo));

        recordCtrl ctrl;
        ctrl.setUrl(QStringLiteral("sync.flv"));
        QVERIFY(ctrl.start(0));
        QTest::qWait(kFlashAtMs.last() + kFlashMs + 800); // the recording spans the scene
        ctrl.stop();
        // The microphone goes on while the recording reads up to the stop.
        QTRY_VERIFY_WITH_TIMEOUT(ctrl.isIdle(), 15000);
        scene.stop();
        QVERIFY2(messages.isEmpty(), qPrintable(messages.join(';')));

        // Brightness of the flash's square in every picture (25 per second), and
        // the sound, each from its stream's start.
        QByteArray light;
        QVERIFY(testsupport::run(
            QStringLiteral("ffmpeg"),
            {"-v", "error", "-i", "sync.flv", "-map", "0:v", "-vf",
             QStringLiteral("crop=%1:%2:0:0,scale=1:1").arg(kFlashRect.width()).arg(kFlashRect.height()), "-pix_fmt",
             "gray", "-f", "rawvideo", "-"},
            60000, &light));
        QVector<int> brightness;
        for (char c : light)
            brightness << int(uchar(c));
        const QVector<qint16> level = testsupport::samplesOf({"-i", "sync.flv", "-map", "0:a"}, 60000);
        double videoStart = 0, audioStart = 0;
        for (const QJsonValue &stream : testsupport::probe(QStringLiteral("sync.flv")).value("streams").toArray()) {
            const QJsonObject s = stream.toObject();
            (s.value("codec_type").toString() == "video" ? videoStart : audioStart) =
                s.value("start_time").toString().toDouble();
        }
        QVector<double> flashes = onsets(brightness, 25.0, 128, 3);
        QVector<double> tones = onsets(level, double(testsupport::kSampleRate), 3000, testsupport::kSampleRate / 10);
        QCOMPARE(flashes.size(), kFlashAtMs.size());
        QCOMPARE(tones.size(), kFlashAtMs.size());
        // A flash shows in the first picture taken after it: on average half a
        // capture interval and half an output picture after the sound.
        QVector<double> offsets;
        for (int i = 0; i < flashes.size(); ++i)
            offsets << ((tones[i] + audioStart) - (flashes[i] + videoStart)) * 1000 + microphone.claimedLatencyMs();
        std::sort(offsets.begin(), offsets.end());
        const QString all =
            QStringLiteral("sound minus picture, ms: %1")
                .arg(std::accumulate(offsets.begin(), offsets.end(), QString(),
                                     [](const QString &a, double v) { return a + QString::number(v, 'f', 0) + ' '; }));
        qInfo("%s", qPrintable(all));
        const double median = offsets[offsets.size() / 2];
        QVERIFY2(median > -80 && median < 20, qPrintable(all));
        QVERIFY2(offsets.first() > -120 && offsets.last() < 60, qPrintable(all));
    }
};

QTEST_MAIN(tst_recordsync)
#include "tst_record_sync.moc"
