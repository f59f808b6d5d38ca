// tavi-bench-latency: glass to glass. A window on the teacher's display
// shows a millisecond counter as squares, redrawn at 50 Hz; the desktop is
// published through nginx-rtmp and played back; each picture that comes out
// of the player is read and compared with the clock.
//   tavi:      recordCtrl publishes, VideoPlayer_Thread plays (the client's path)
//   reference: ffmpeg x11grab + libx264 ultrafast zerolatency publishes,
//              ffmpeg -fflags nobuffer -flags low_delay decodes
// The two crossed pairs show on which side the time goes.
// Runs in the stage folder under the test display and sound server.
// A click a second on the teacher's microphone is timed on the student's
// speakers too, which gives the sound's delay and its offset from the
// pictures' (positive: the sound comes late).
//   --seconds S   length of each of the two main runs (default 60)

#include "benchsupport.h"
#include "soundcode.h"
#include "timecode.h"

#include "nginxrtmp.h"
#include "peerprocess.h"
#include "sound.h"
#include "testsupport.h"

#include "record/recordctrl.h"
#include "video/videoplayer_thread.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMutex>
#include <QScreen>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>

using namespace bench;

namespace {

const QPoint kCorner(160, 120);

// Latencies of one run, in milliseconds, gathered from any thread.
class Samples
{
public:
    explicit Samples(const QElapsedTimer &clock) : m_clock(clock) {}

    template<typename Luma> void add(Luma luminance)
    {
        const auto sent = timecode::read(luminance);
        const uint32_t now = uint32_t(m_clock.elapsed()) & timecode::kMask;
        QMutexLocker lock(&m_mutex);
        ++m_pictures;
        if (!sent) {
            ++m_unreadable;
            return;
        }
        // The same screen state seen twice (a repeated picture) counts
        // once, at its first arrival.
        if (*sent == m_last)
            return;
        m_last = *sent;
        m_values << double(timecode::elapsed(*sent, now));
        m_sent << double(*sent);
    }
    // The delay of the picture painted nearest to ms (within a paint), NaN
    // when none was read.
    double delayAt(double ms) const
    {
        QMutexLocker lock(&m_mutex);
        double best = qQNaN(), distance = 21;
        for (int i = 0; i < m_sent.size(); ++i)
            if (std::fabs(m_sent[i] - ms) < distance)
                distance = std::fabs(m_sent[i] - ms), best = m_values[i];
        return best;
    }
    void reset()
    {
        QMutexLocker lock(&m_mutex);
        m_values.clear();
        m_sent.clear();
        m_pictures = m_unreadable = 0;
        m_last = ~0u;
    }
    QVector<double> values() const
    {
        QMutexLocker lock(&m_mutex);
        return m_values;
    }
    int pictures() const
    {
        QMutexLocker lock(&m_mutex);
        return m_pictures;
    }
    int unreadable() const
    {
        QMutexLocker lock(&m_mutex);
        return m_unreadable;
    }

private:
    const QElapsedTimer &m_clock;
    mutable QMutex m_mutex;
    QVector<double> m_values;
    QVector<double> m_sent;
    int m_pictures = 0;
    int m_unreadable = 0;
    uint32_t m_last = ~0u;
};

// Keeps the event loop (and so the time code window) running while waiting.
void spin(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

bool spinUntil(const std::function<bool()> &done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

QString displaySize()
{
    const QSize s = QGuiApplication::primaryScreen()->size();
    return QStringLiteral("%1x%2").arg(s.width()).arg(s.height());
}

// The ffmpeg command line publishing the desktop and the microphone.
class FfmpegPublisher
{
public:
    explicit FfmpegPublisher(bool withSound) : m_withSound(withSound) {}
    bool start(const QString &url)
    {
        QStringList args{"-loglevel",
                         "error",
                         "-fflags",
                         "nobuffer",
                         "-thread_queue_size",
                         "8",
                         "-f",
                         "x11grab",
                         "-framerate",
                         "25",
                         "-video_size",
                         displaySize(),
                         "-i",
                         QString::fromLocal8Bit(qgetenv("DISPLAY"))};
        // The microphone in 20 ms blocks, as the client asks for it; small
        // queues, or ffmpeg's own buffering of the pulse input holds seconds.
        if (m_withSound)
            args << QStringList{"-fflags", "nobuffer", "-thread_queue_size", "8",
                                "-f",      "pulse",    "-fragment_size",     "3528",
                                "-i",      "default"};
        args << QStringList{"-c:v", "libx264", "-preset", "ultrafast", "-tune",    "zerolatency",
                            "-g",   "12",      "-b:v",    "1650k",     "-pix_fmt", "yuv420p"};
        if (m_withSound)
            args << QStringList{"-c:a", "aac", "-b:a", "64k"};
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("ffmpeg"), args << QStringList{"-f", "flv", url});
        return m_process.waitForStarted(5000);
    }
    void stop() { m_process.stop(); }

private:
    const bool m_withSound;
    testsupport::PeerProcess m_process;
};

// The ffmpeg command line decoding with its low-delay flags; only the code's
// rectangle leaves it, as grey bytes.
class FfmpegPlayer
{
public:
    explicit FfmpegPlayer(Samples &samples) : m_samples(samples) {}
    bool start(const QString &url)
    {
        const QSize s = timecode::size();
        m_frameBytes = s.width() * s.height();
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.setReadChannel(QProcess::StandardOutput);
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] { readFrames(); });
        m_process.start(
            QStringLiteral("ffmpeg"),
            {"-loglevel", "error", "-fflags", "nobuffer", "-flags", "low_delay", "-i", url, "-an", "-vf",
             QStringLiteral("crop=%1:%2:%3:%4").arg(s.width()).arg(s.height()).arg(kCorner.x()).arg(kCorner.y()),
             "-pix_fmt", "gray", "-f", "rawvideo", "-"});
        return m_process.waitForStarted(5000);
    }
    void stop()
    {
        m_process.kill();
        m_process.waitForFinished(3000);
    }

private:
    void readFrames()
    {
        m_pending += m_process.readAllStandardOutput();
        const int w = timecode::size().width();
        while (m_pending.size() >= m_frameBytes) {
            const auto *bytes = reinterpret_cast<const uchar *>(m_pending.constData());
            m_samples.add([&](int x, int y) { return int(bytes[y * w + x]); });
            m_pending.remove(0, m_frameBytes);
        }
    }

    Samples &m_samples;
    testsupport::PeerProcess m_process;
    QByteArray m_pending;
    int m_frameBytes = 0;
};

struct Run
{
    QVector<double> values;
    int pictures = 0;
    int unreadable = 0;
    // The sound's delays and their offsets from the pictures' (ms).
    QVector<double> soundDelays, offsets;
    // Where a picture's time goes in tavi's player, sampled at each picture
    // (ms): behind the newest picture read, sound read ahead of the device,
    // the device's buffer.
    QVector<double> pictureWait, soundQueue, deviceBuffer;

    void add(const Run &other)
    {
        values << other.values;
        pictures += other.pictures;
        unreadable += other.unreadable;
        soundDelays << other.soundDelays;
        offsets << other.offsets;
        pictureWait << other.pictureWait;
        soundQueue << other.soundQueue;
        deviceBuffer << other.deviceBuffer;
    }
};

// The two ears of the sound's time code, shared by every run.
struct Ears
{
    soundcode::Ear *microphone;
    soundcode::Ear *speakers;
};

enum class Side {
    Tavi,
    Ffmpeg,
    FfmpegSilent
};

// camera: a file of a webcam's pictures (MJPEG) in the corner of tavi's class.
Run measure(Side publisher, Side player, const QString &url, int seconds, const QElapsedTimer &clock, const Ears &ears,
            const QString &camera = QString())
{
    Samples samples(clock);
    FfmpegPublisher ffmpegPublisher(publisher == Side::Ffmpeg);
    bool published = false;
    if (publisher == Side::Tavi) {
        recordCtrl::instance()->setUrl(url);
        recordCtrl::instance()->setCameraInput(QString(), camera);
        recordCtrl::instance()->setCameraMode(camera.isEmpty() ? CameraMode::Off : CameraMode::Inset);
        published = recordCtrl::instance()->start(0);
    } else {
        published = ffmpegPublisher.start(url);
    }
    Run run;
    if (!published) {
        line("   publisher did not start");
        return run;
    }
    VideoPlayer_Thread taviPlayer;
    FfmpegPlayer ffmpegPlayer(samples);
    QMutex partsMutex;
    QObject::connect(
        &taviPlayer, &VideoPlayer_Thread::sig_GetOneFrame, &taviPlayer,
        [&](const QImage &picture) {
            // Scaled to the display size: the player shows the stream as it comes.
            if (!QRect(QPoint(0, 0), picture.size()).contains(QRect(kCorner, timecode::size())))
                return;
            samples.add([&](int x, int y) { return qGray(picture.pixel(kCorner.x() + x, kCorner.y() + y)); });
            const VideoState &state = taviPlayer.playbackState();
            const double pts = picture.text(QStringLiteral("pts")).toDouble();
            QMutexLocker lock(&partsMutex);
            run.pictureWait << (state.videoQueuedPts - pts) * 1000;
            if (state.audioOpen && state.audioTarget.sampleRate > 0) {
                run.soundQueue << (state.audioQueuedEnd - state.handedClock) * 1000;
                run.deviceBuffer << state.audioDeviceBufferSize * 1000.0 /
                        (2.0 * state.audioTarget.channels * state.audioTarget.sampleRate);
            }
        },
        Qt::DirectConnection);
    // Give the server the stream's first key frame before anyone plays.
    spin(1500);
    const bool playing = player == Side::Tavi ? taviPlayer.startPlay(url) : ffmpegPlayer.start(url);
    if (playing && spinUntil([&] { return !samples.values().isEmpty(); }, 20000)) {
        // The first seconds of a join hold the probe; a class is judged after it.
        spin(3000);
        samples.reset();
        ears.microphone->reset();
        ears.speakers->reset();
        {
            QMutexLocker lock(&partsMutex);
            run.pictureWait.clear(), run.soundQueue.clear(), run.deviceBuffer.clear();
        }
        spin(seconds * 1000);
        for (const soundcode::Heard &heard : soundcode::pair(ears.microphone->onsets(), ears.speakers->onsets())) {
            run.soundDelays << heard.delay;
            run.offsets << heard.delay - samples.delayAt(heard.atMicrophone);
        }
        run.values = samples.values();
        run.pictures = samples.pictures();
        run.unreadable = samples.unreadable();
    } else {
        line("   no readable picture arrived");
    }
    if (player == Side::Tavi)
        taviPlayer.stop(true);
    else
        ffmpegPlayer.stop();
    if (publisher == Side::Tavi) {
        recordCtrl::instance()->setCameraMode(CameraMode::Off);
        recordCtrl::instance()->stop();
        recordCtrl::instance()->waitIdle(10000);
    } else {
        ffmpegPublisher.stop();
    }
    QMutexLocker lock(&partsMutex);
    return run;
}

void report(const char *what, const Run &run, int seconds)
{
    line("%s: median %.0f ms | p95 %.0f ms | %d readings over %d s (%d pictures, %d unreadable)", what,
         percentile(run.values, 0.5), percentile(run.values, 0.95), int(run.values.size()), seconds, run.pictures,
         run.unreadable);
    if (!run.soundDelays.isEmpty()) {
        QVector<double> offsets;
        for (double offset : run.offsets)
            offsets << std::fabs(offset);
        line("   sound: delay median %.0f ms | offset from the pictures median %+.0f ms, p95 of its size %.0f ms | "
             "%d clicks heard",
             percentile(run.soundDelays, 0.5), percentile(run.offsets, 0.5), percentile(offsets, 0.95),
             int(run.soundDelays.size()));
    }
    if (!run.pictureWait.isEmpty())
        line("   parts in the player (medians): picture behind the newest read %.0f ms | sound read ahead of the "
             "device %.0f ms | device buffer %.0f ms",
             percentile(run.pictureWait, 0.5), percentile(run.soundQueue, 0.5), percentile(run.deviceBuffer, 0.5));
}

// The camera in the class's corner, away from the code: the desktop's
// pictures no later than without it. Runs of the same vary by tens of ms,
// so the two alternate and the readings of each are pooled.
bool cameraFigure(testsupport::NginxRtmp &server, int seconds, QElapsedTimer &clock, const Ears &ears)
{
    const QString camera = QDir::current().absoluteFilePath(QStringLiteral("bench-latency-camera.mkv"));
    if (!testsupport::makeMedia(camera,
                                {"-f", "lavfi", "-i",
                                 QStringLiteral("testsrc2=size=640x480:rate=30:d=%1").arg(seconds + 30), "-c:v",
                                 "mjpeg", "-q:v", "5"}))
        return false;
    constexpr int kRounds = 2;
    Run alone, withCamera;
    for (int round = 0; round < kRounds; ++round) {
        const Run a =
            measure(Side::Tavi, Side::Tavi, server.url(QStringLiteral("lat6a%1").arg(round)), seconds, clock, ears);
        const Run c = measure(Side::Tavi, Side::Tavi, server.url(QStringLiteral("lat6c%1").arg(round)), seconds, clock,
                              ears, camera);
        line("   round %d: median %.0f ms without the camera, %.0f ms with it", round + 1, percentile(a.values, 0.5),
             percentile(c.values, 0.5));
        alone.add(a);
        withCamera.add(c);
    }
    report("   tavi without the camera (alternating with the next)", alone, seconds * kRounds);
    report("   tavi with a 640x480 MJPEG camera in the class's corner", withCamera, seconds * kRounds);
    line("   the camera's change to the median: %+.0f ms (goal: unchanged)",
         percentile(withCamera.values, 0.5) - percentile(alone.values, 0.5));
    // The publishing side alone: the same pair played by ffmpeg, which keeps
    // no sound in step with the pictures.
    const Run crossedAlone =
        measure(Side::Tavi, Side::Ffmpeg, server.url(QStringLiteral("lat7a")), seconds, clock, ears);
    const Run crossedCamera =
        measure(Side::Tavi, Side::Ffmpeg, server.url(QStringLiteral("lat7c")), seconds, clock, ears, camera);
    line("   publishing side (played by ffmpeg nobuffer): median %.0f ms without the camera, %.0f ms with it: %+.0f ms",
         percentile(crossedAlone.values, 0.5), percentile(crossedCamera.values, 0.5),
         percentile(crossedCamera.values, 0.5) - percentile(crossedAlone.values, 0.5));
    return !alone.values.isEmpty() && !withCamera.values.isEmpty();
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    int seconds = 60;
    const QStringList args = app.arguments();
    const int at = args.indexOf(QStringLiteral("--seconds"));
    if (at > 0 && at + 1 < args.size())
        seconds = std::max(5, args.at(at + 1).toInt());
    const int crossSeconds = std::max(5, seconds / 2);

    testsupport::NginxRtmp server;
    if (!server.start()) {
        line("latency: nginx-rtmp did not start");
        return 1;
    }
    QElapsedTimer clock;
    clock.start();
    // The teacher's microphone hears only the clicks; the student's speakers
    // play into an ear of their own.
    testsupport::NullSink microphone(QStringLiteral("tavi_lat_microphone"));
    testsupport::NullSink speakers(QStringLiteral("tavi_lat_speakers"));
    qputenv("PULSE_SOURCE", microphone.monitor().toUtf8());
    qputenv("PULSE_SINK", speakers.name().toUtf8());
    soundcode::Ear microphoneEar(clock, microphone.monitor()), speakersEar(clock, speakers.monitor());
    testsupport::PeerProcess clicks;
    clicks.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    clicks.start(QStringLiteral("ffmpeg"), soundcode::clickArgs(microphone.name()));
    if (!microphone.isLoaded() || !speakers.isLoaded() || !microphoneEar.start() || !speakersEar.start() ||
        !clicks.waitForStarted(5000))
        line("latency: no sound time code (PulseAudio's null sinks or ffmpeg missing); pictures only");
    const Ears ears{&microphoneEar, &speakersEar};
    timecode::Window window(clock, kCorner);
    spin(500);

    // --only camera: the camera's figure alone (while working on it).
    if (args.indexOf(QStringLiteral("--only")) > 0 &&
        args.value(args.indexOf(QStringLiteral("--only")) + 1) == "camera")
        return cameraFigure(server, crossSeconds, clock, ears) ? 0 : 1;
    line("Glass to glass: a 50 Hz millisecond code on the teacher's %s desktop to the picture leaving the player",
         qPrintable(displaySize()));
    const Run ours = measure(Side::Tavi, Side::Tavi, server.url(QStringLiteral("lat1")), seconds, clock, ears);
    report("1. tavi (recordCtrl -> nginx-rtmp -> VideoPlayer_Thread)", ours, seconds);
    const Run reference = measure(Side::Ffmpeg, Side::Ffmpeg, server.url(QStringLiteral("lat2")), seconds, clock, ears);
    report("   reference (ffmpeg x11grab ultrafast zerolatency -> nginx-rtmp -> ffmpeg nobuffer low_delay)", reference,
           seconds);
    const double m = percentile(ours.values, 0.5), rm = percentile(reference.values, 0.5);
    const double p = percentile(ours.values, 0.95), rp = percentile(reference.values, 0.95);
    line("   ratio: median %.2f | p95 %.2f | goal median <= 150 ms, p95 <= 200 ms, sound offset p95 <= 40 ms", m / rm,
         p / rp);
    const Run taviToFfmpeg =
        measure(Side::Tavi, Side::Ffmpeg, server.url(QStringLiteral("lat3")), crossSeconds, clock, ears);
    report("   crossed: recordCtrl -> ffmpeg nobuffer (publishing side of tavi)", taviToFfmpeg, crossSeconds);
    const Run ffmpegToTavi =
        measure(Side::Ffmpeg, Side::Tavi, server.url(QStringLiteral("lat4")), crossSeconds, clock, ears);
    report("   crossed: ffmpeg publisher -> VideoPlayer_Thread (playing side of tavi)", ffmpegToTavi, crossSeconds);
    const Run silent =
        measure(Side::FfmpegSilent, Side::Ffmpeg, server.url(QStringLiteral("lat5")), crossSeconds, clock, ears);
    report("   ffmpeg pair without the microphone (pictures only, nothing to keep in sync)", silent, crossSeconds);
    cameraFigure(server, crossSeconds, clock, ears);
    return ours.values.isEmpty() || reference.values.isEmpty() ? 1 : 0;
}
