// Headless recorder: records the desktop and the default microphone into a
// file, or publishes them to an RTMP address, through the same controllers
// the client uses.
//   tavi-record OUTPUT [--seconds S] [--audio-only] [--stats] [--reconnect]
//               [--camera FORMAT:NAME [--camera-mode inset|only] [--camera-corner CORNER]]
// --reconnect: a class stream whose server went away is published again
// every 2 s, as the classroom does, instead of ending the run.
// --camera: any FFmpeg input as the camera (v4l2:/dev/video0,
// lavfi:testsrc2=size=640x480:rate=30, :file.mp4); CORNER is top-left,
// top-right, bottom-left or bottom-right.

#include "base/allocator.h"
#include "record/audioctrl.h"
#include "record/camerathread.h"
#include "record/getaudiothreaddia.h"
#include "record/recordctrl.h"
#include "record/recordnotice.h"
#include "record/savevideothread.h"
#include "record/sendaudiothread.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

namespace {
// SIGINT and SIGTERM reach the event loop through a pipe.
int g_signalPipe = -1;

void onSignal(int)
{
    const char byte = 0;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe, &byte, 1);
}

int usage()
{
    std::fprintf(stderr,
                 "usage: tavi-record OUTPUT [--seconds S] [--audio-only] [--stats] [--reconnect]\n"
                 "                   [--camera FORMAT:NAME [--camera-mode inset|only] [--camera-corner CORNER]]\n");
    return 2;
}

struct Options
{
    QString output;
    double seconds = -1;
    bool audioOnly = false;
    bool stats = false;
    bool reconnect = false;
    QString cameraFormat;
    QString camera;
    CameraMode cameraMode = CameraMode::Inset;
    CameraCorner corner = CameraCorner::BottomRight;
};

bool readCorner(const QString &name, CameraCorner *corner)
{
    static const char *const names[] = {"top-left", "top-right", "bottom-left", "bottom-right"};
    for (int i = 0; i < 4; ++i) {
        if (name == QLatin1String(names[i])) {
            *corner = CameraCorner(i);
            return true;
        }
    }
    return false;
}

bool readOptions(const QStringList &args, Options &o)
{
    for (int i = 1; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (arg == QLatin1String("--seconds") && i + 1 < args.size()) {
            bool ok = false;
            o.seconds = args[++i].toDouble(&ok);
            if (!ok || o.seconds <= 0)
                return false;
        } else if (arg == QLatin1String("--audio-only")) {
            o.audioOnly = true;
        } else if (arg == QLatin1String("--stats")) {
            o.stats = true;
        } else if (arg == QLatin1String("--reconnect")) {
            o.reconnect = true;
        } else if (arg == QLatin1String("--camera") && i + 1 < args.size()) {
            const QString input = args[++i];
            const int colon = input.indexOf(QLatin1Char(':'));
            if (colon < 0 || colon + 1 == input.size())
                return false;
            o.cameraFormat = input.left(colon);
            o.camera = input.mid(colon + 1);
        } else if (arg == QLatin1String("--camera-mode") && i + 1 < args.size()) {
            const QString mode = args[++i];
            if (mode != QLatin1String("inset") && mode != QLatin1String("only"))
                return false;
            o.cameraMode = mode == QLatin1String("only") ? CameraMode::Only : CameraMode::Inset;
        } else if (arg == QLatin1String("--camera-corner") && i + 1 < args.size()) {
            if (!readCorner(args[++i], &o.corner))
                return false;
        } else if (arg.startsWith(QLatin1String("--")) || !o.output.isEmpty()) {
            return false;
        } else {
            o.output = arg;
        }
    }
    return !o.output.isEmpty();
}

void printStats(recordCtrl *record, AudioCtrl *dialogue)
{
    if (record) {
        const saveVideoThread::Stats s = record->encoder()->stats();
        std::printf("pictures captured: %lld\n", s.captured);
        std::printf("pictures encoded: %lld\n", s.encoded);
        std::printf("pictures repeated: %lld\n", s.repeated);
        std::printf("pictures left out for a slow link: %lld\n", s.linkSkipped);
        std::printf("pictures dropped: %lld (stale %lld, queue full %lld)\n", s.staleDropped + s.overflowDropped,
                    s.staleDropped, s.overflowDropped);
        std::printf("audio chunks: %lld (dropped %lld)\n", s.audioChunks, s.audioDropped);
        std::printf("picture queue high-water mark: %d\n", s.videoHighWater);
        std::printf("audio queue high-water mark: %d\n", s.audioHighWater);
    } else {
        const AudioChunkList::Counters c = dialogue->chunkCounters();
        std::printf("audio chunks: %lld (dropped %lld)\n", c.pushed, c.dropped);
        std::printf("audio queue high-water mark: %d\n", c.highWater);
    }
}
// SIGINT and SIGTERM call stop on the event loop's thread.
bool stopOnSignals(const std::function<void()> &stop)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    g_signalPipe = fds[1];
    auto *notifier = new QSocketNotifier(fds[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, stop);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    return true;
}

// Starts the recording (or the dialogue, sound alone); ended is called once all its threads have ended. False when it
// did not start, unless it is a class stream to publish again.
bool startRun(const Options &o, recordCtrl **record, AudioCtrl **dialogue, const std::function<void()> &ended)
{
    if (o.audioOnly) {
        *dialogue = AudioCtrl::instance();
        QObject::connect(*dialogue, &AudioCtrl::s_idle, ended);
        const QByteArray address = o.output.toLocal8Bit();
        (*dialogue)->setAddress(address.constData());
        (*dialogue)->start();
        return (*dialogue)->isRunning();
    }
    *record = recordCtrl::instance();
    QObject::connect(*record, &recordCtrl::s_idle, ended);
    if (!o.camera.isEmpty()) {
        (*record)->setCameraInput(o.cameraFormat, o.camera);
        (*record)->setCameraCorner(o.corner);
        (*record)->setCameraMode(o.cameraMode);
        // The desktop goes on without it.
        QObject::connect(*record, &recordCtrl::sig_cameraFailed, [](int failure) {
            std::fprintf(stderr, "tavi-record: camera: %s\n", CameraThread::failureText(failure).toUtf8().constData());
        });
    }
    (*record)->setUrl(o.output);
    (*record)->setOutputFailuresReported(!o.reconnect);
    return (*record)->start(0) || (o.reconnect && (*record)->lastFailure() == recordCtrl::Output);
}
} // namespace

int main(int argc, char **argv)
{
    tavi::keepLargeBlocksMapped();
    QCoreApplication app(argc, argv);
    Options o;
    if (!readOptions(app.arguments(), o))
        return usage();

    bool failed = false;
    bool stopping = false;
    recordCtrl *record = nullptr;
    AudioCtrl *dialogue = nullptr;
    const auto idle = [&] { return record ? record->isIdle() : dialogue->isIdle(); };
    const auto stopAll = [&] {
        if (stopping)
            return;
        stopping = true;
        if (record)
            record->stop();
        else
            dialogue->stop();
        // Nothing running tells of its end.
        if (idle())
            QTimer::singleShot(0, &app, &QCoreApplication::quit);
    };
    recordNotice::setHandler([&](const QString &text) {
        failed = true;
        std::fprintf(stderr, "tavi-record: %s\n", text.toUtf8().constData());
        QTimer::singleShot(0, &app, stopAll);
    });
    if (!stopOnSignals(stopAll))
        return 1;

    // Every thread has ended: a class stream whose server went away is published again in 2 s, else the run is over.
    QTimer again;
    again.setSingleShot(true);
    again.setInterval(2000);
    const auto ended = [&] {
        if (!stopping && o.reconnect && record && record->lastFailure() == recordCtrl::Output) {
            again.start();
            return;
        }
        stopAll();
        app.quit();
    };
    QObject::connect(&again, &QTimer::timeout, [&] {
        if (!stopping && !record->start(0))
            ended();
    });
    if (!startRun(o, &record, &dialogue, ended))
        return 1;
    if (idle())
        QTimer::singleShot(0, &app, ended);
    if (o.seconds > 0)
        QTimer::singleShot(int(o.seconds * 1000), Qt::PreciseTimer, stopAll);
    app.exec();
    // Failure reports queued by the threads arrive before the end.
    QCoreApplication::processEvents();

    if (o.stats)
        printStats(record, dialogue);
    std::fflush(stdout);
    const bool outputFailed = record ? record->encoder()->outputFailed() : dialogue->outputFailed();
    return (failed || outputFailed) ? 1 : 0;
}
