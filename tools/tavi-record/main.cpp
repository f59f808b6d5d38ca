// Headless recorder: records the desktop and the default microphone into a
// file, or publishes them to an RTMP address, through the same controllers
// the client uses.
//   tavi-record OUTPUT [--seconds S] [--audio-only] [--stats] [--reconnect]
// --reconnect: a class stream whose server went away is published again
// every 2 s, as the classroom does, instead of ending the run.

#include "base/allocator.h"
#include "record/audioctrl.h"
#include "record/getaudiothreaddia.h"
#include "record/recordctrl.h"
#include "record/recordnotice.h"
#include "record/savevideothread.h"
#include "record/sendaudiothread.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>

namespace {
std::atomic<bool> g_interrupted{false};

void onSignal(int)
{
    g_interrupted = true;
}

int usage()
{
    std::fprintf(stderr, "usage: tavi-record OUTPUT [--seconds S] [--audio-only] [--stats] [--reconnect]\n");
    return 2;
}

struct Options
{
    QString output;
    double seconds = -1;
    bool audioOnly = false;
    bool stats = false;
    bool reconnect = false;
};

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
        const saveVideoThread::Stats s = record->encoder->stats();
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
        const AudioChunkList::Counters c = dialogue->sender->audioChunks().counters();
        std::printf("audio chunks: %lld (dropped %lld)\n", c.pushed, c.dropped);
        std::printf("audio queue high-water mark: %d\n", c.highWater);
    }
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
    recordNotice::setHandler([&failed](const QString &text) {
        failed = true;
        std::fprintf(stderr, "tavi-record: %s\n", text.toUtf8().constData());
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    recordCtrl *record = nullptr;
    AudioCtrl *dialogue = nullptr;
    if (o.audioOnly) {
        dialogue = AudioCtrl::instance();
        const QByteArray address = o.output.toLocal8Bit();
        dialogue->setAddress(address.constData());
        dialogue->start();
        if (dialogue->state != AudioCtrl::Running)
            return 1;
    } else {
        record = recordCtrl::instance();
        record->setUrl(o.output);
        record->setOutputFailuresReported(!o.reconnect);
        if (!record->start(0) && !(o.reconnect && record->lastFailure() == recordCtrl::Output))
            return 1;
    }

    bool stopping = false;
    auto stopAll = [&] {
        if (stopping)
            return;
        stopping = true;
        if (record)
            record->stop();
        else
            dialogue->stop();
    };
    QTimer again;
    again.setSingleShot(true);
    again.setInterval(2000);
    QObject::connect(&again, &QTimer::timeout, [&] {
        if (!stopping)
            record->start(0);
    });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (g_interrupted || failed)
            stopAll();
        const bool idle = record ? record->isIdle() : dialogue->isIdle();
        if (stopping && idle)
            app.quit();
        if (!stopping && idle && o.reconnect && record && record->lastFailure() == recordCtrl::Output &&
            !again.isActive())
            again.start();
        else if (!stopping && idle && !again.isActive()) // ended by itself (o.output or device failure)
            stopAll();
    });
    poll.start(50);
    if (o.seconds > 0)
        QTimer::singleShot(int(o.seconds * 1000), Qt::PreciseTimer, stopAll);
    app.exec();
    // Failure reports queued by the threads arrive before the end.
    QCoreApplication::processEvents();

    if (o.stats)
        printStats(record, dialogue);
    std::fflush(stdout);
    const bool outputFailed = record ? record->encoder->outputFailed() : dialogue->sender->outputFailed();
    return (failed || outputFailed) ? 1 : 0;
}
