// tavi-play ADDRESS [--low ADDRESS] [--seconds S] [--frames N] [--no-sync | --no-decode [--readers N]] [--stats]
//           [--trace]
// Plays an address with the client's player, sound through SDL, pictures
// received and counted; --no-decode only reads and counts the pictures
// (many listeners of a class on one machine; --readers N reads it N times at
// once and reports the least and most of them). Exit status 1 when the
// address cannot be played. --trace prints "picture WALL PTS" for each picture
// (wall clock seconds as it leaves the player, stream seconds). With --low,
// ADDRESS is a class's full rendition and the player switches to the low one
// and back as the client does; --trace then also prints "rendition low|full
// WALL" at each switch.

#include "base/allocator.h"
#include "packetcounter.h"
#include "playstats.h"
#include "video/renditionswitch.h"
#include "video/videoplayer_thread.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

static int usage()
{
    std::fprintf(stderr,
                 "usage: tavi-play ADDRESS [--low ADDRESS] [--seconds S] [--frames N] [--no-sync | --no-decode] "
                 "[--stats] [--trace]\n");
    return 2;
}

namespace {

struct Options
{
    QString address;
    QString low;
    double seconds = 0;
    int frames = 0;
    int readers = 1;
    bool sync = true;
    bool stats = false;
    bool trace = false;
    bool decode = true;
};

bool readOptions(const QStringList &args, Options &o)
{
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        bool ok = true;
        if (arg == QLatin1String("--seconds") && i + 1 < args.size())
            o.seconds = args[++i].toDouble(&ok);
        else if (arg == QLatin1String("--frames") && i + 1 < args.size())
            o.frames = args[++i].toInt(&ok);
        else if (arg == QLatin1String("--low") && i + 1 < args.size())
            o.low = args[++i];
        else if (arg == QLatin1String("--readers") && i + 1 < args.size())
            o.readers = args[++i].toInt(&ok);
        else if (arg == QLatin1String("--no-sync"))
            o.sync = false;
        else if (arg == QLatin1String("--no-decode"))
            o.decode = false;
        else if (arg == QLatin1String("--stats"))
            o.stats = true;
        else if (arg == QLatin1String("--trace"))
            o.trace = true;
        else if (!arg.startsWith(QLatin1String("--")) && o.address.isEmpty())
            o.address = arg;
        else
            return false;
        if (!ok || o.seconds < 0 || o.frames < 0 || o.readers < 1 || o.readers > 1000)
            return false;
    }
    return !o.address.isEmpty() && (o.decode || o.sync) && (o.low.isEmpty() || (o.decode && o.sync)) &&
        (o.readers == 1 || !o.decode);
}

// Reads the address many times at once, each in a thread of its own.
int countMany(const Options &o)
{
    std::vector<PlayStats> counted(size_t(o.readers));
    std::vector<std::thread> threads;
    std::atomic<int> failed{0};
    for (PlayStats &stats : counted)
        threads.emplace_back([&o, &stats, &failed] {
            if (!countPictures(o.address, o.seconds, o.frames, stats) || stats.pictures() == 0)
                ++failed;
        });
    for (std::thread &thread : threads)
        thread.join();
    double rate = 1e300, lagLeast = 1e300, lagMost = -1e300;
    for (const PlayStats &stats : counted) {
        if (stats.pictures() == 0)
            continue;
        rate = std::min(rate, stats.picturesPerSecond());
        lagLeast = std::min(lagLeast, stats.wallLagLeast());
        lagMost = std::max(lagMost, stats.wallLagMost());
    }
    if (o.stats)
        std::printf("readers: %d\nreaders failed: %d\npictures per second min: %.2f\nwall lag least: %.3f s\n"
                    "wall lag most: %.3f s\n",
                    o.readers, failed.load(), rate, lagLeast, lagMost);
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}

// Only reads and counts the pictures.
int countOnly(const Options &o)
{
    if (o.readers > 1)
        return countMany(o);
    PlayStats counted;
    const bool opened = countPictures(o.address, o.seconds, o.frames, counted);
    if (o.stats)
        std::printf("%s", counted.report().toUtf8().constData());
    std::fflush(stdout);
    if (!opened || counted.pictures() == 0) {
        std::fprintf(stderr, "tavi-play: no pictures could be read from %s\n", o.address.toUtf8().constData());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    tavi::keepLargeBlocksMapped();
    QCoreApplication app(argc, argv);
    Options o;
    if (!readOptions(app.arguments().mid(1), o))
        return usage();
    if (!o.decode)
        return countOnly(o);
    // Each line as it happens, also into a pipe.
    if (o.trace)
        std::setvbuf(stdout, nullptr, _IOLBF, 0);

    VideoPlayer_Thread first, second;
    RenditionSwitch renditions(&first, &second);
    PlayStats playStats;
    QElapsedTimer clock;
    for (VideoPlayer_Thread *player : {&first, &second}) {
        player->setSync(o.sync);
        QObject::connect(
            player, &VideoPlayer_Thread::sig_GetOneFrame, player,
            [&, player](const QImage &image) {
                // Runs on the player's video thread, as the picture leaves it.
                if (!renditions.shows(player))
                    return;
                const double pts = image.text(QStringLiteral("pts")).toDouble();
                if (o.trace)
                    std::printf("picture %.3f %.3f\n", QDateTime::currentMSecsSinceEpoch() / 1000.0, pts);
                // Pictures shown before the sound starts have no offset to
                // measure.
                const VideoState &state = player->playbackState();
                const bool clocked = !o.sync || !state.audioOpen || state.playClockValid;
                playStats.add(pts, clocked ? player->getCurrentTime() : pts, clock.nsecsElapsed() / 1e9,
                              state.frameDuration, clocked);
                if (o.frames > 0 && playStats.pictures() == o.frames)
                    QMetaObject::invokeMethod(&app, "quit", Qt::QueuedConnection);
            },
            Qt::DirectConnection);
        // A rendition that was left ends too; only the one playing counts.
        QObject::connect(player, &QThread::finished, &app, [&, player] {
            if (player == renditions.current() && !player->isRunning())
                app.quit();
        });
    }
    QObject::connect(&renditions, &RenditionSwitch::switched, &app, [&] {
        if (o.trace)
            std::printf("rendition %s %.3f\n", renditions.onLow() ? "low" : "full",
                        QDateTime::currentMSecsSinceEpoch() / 1000.0);
        std::fflush(stdout);
    });
    if (o.seconds > 0)
        QTimer::singleShot(int(o.seconds * 1000), &app, &QCoreApplication::quit);

    clock.start();
    renditions.start(o.address, o.low);
    app.exec();
    QElapsedTimer stopping;
    stopping.start();
    renditions.stop(true);
    const double stopSeconds = stopping.nsecsElapsed() / 1e9;

    if (o.stats)
        std::printf("%sstop: %.3f s\n", playStats.report().toUtf8().constData(), stopSeconds);
    std::fflush(stdout);
    if (playStats.pictures() == 0) {
        std::fprintf(stderr, "tavi-play: nothing could be played from %s\n", o.address.toUtf8().constData());
        return 1;
    }
    return 0;
}
