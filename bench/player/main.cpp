// tavi-bench-player: how a player stops and how it rests, beside ffplay.
//   1. stop time: from stop(true) to its return and to the end of all the
//      player's threads, for a live 720p class and a local 720p file, each
//      playing and paused (median of 5); reference: ffplay in a window of
//      the test display, from its "q" key to the end of the process
//   2. CPU and wake-ups of a paused player over 10 s, per thread, and of a
//      playing one over 5 s; reference: ffplay paused with "p", and playing
// Runs in the stage folder under the test display and sound server.

#include "benchsupport.h"
#include "nginxrtmp.h"
#include "peerprocess.h"
#include "testsupport.h"

#include "video/videoplayer_thread.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <unistd.h>

extern "C" {
#include <libavutil/log.h>
}

using namespace bench;

namespace {

constexpr int kStops = 5;
constexpr int kPausedSeconds = 10;
constexpr int kPlayingSeconds = 5;

// CPU time and context switches of each thread of a process.
struct ThreadUse
{
    QString name;
    double cpuMs = 0;
    long long switches = 0;
};

QByteArray readProc(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QMap<QString, ThreadUse> threadUse(qint64 pid)
{
    QMap<QString, ThreadUse> use;
    const QString base = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString &tid : QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        ThreadUse t;
        t.name = QString::fromUtf8(readProc(base + QStringLiteral("/%1/comm").arg(tid))).trimmed();
        // Nanoseconds on the CPU, finer than stat's clock ticks.
        t.cpuMs = readProc(base + QStringLiteral("/%1/schedstat").arg(tid)).split(' ').value(0).toDouble() / 1e6;
        for (const QByteArray &row : readProc(base + QStringLiteral("/%1/status").arg(tid)).split('\n'))
            if (row.startsWith("voluntary_ctxt_switches:") || row.startsWith("nonvoluntary_ctxt_switches:"))
                t.switches += row.mid(row.indexOf(':') + 1).trimmed().toLongLong();
        use.insert(tid, t);
    }
    return use;
}

struct Use
{
    double cpuMsPerS = 0;
    double wakeupsPerS = 0;
    QString busiest; // the threads that used most, with their share
};

// What the process's threads (but skip) used over the next seconds.
Use measureUse(qint64 pid, int seconds, const QString &skip = QString())
{
    const QMap<QString, ThreadUse> before = threadUse(pid);
    QThread::sleep(unsigned(seconds));
    const QMap<QString, ThreadUse> after = threadUse(pid);
    struct Row
    {
        QString name;
        double cpu;
        double wakeups;
    };
    QVector<Row> rows;
    Use use;
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        if (it.key() == skip)
            continue;
        const ThreadUse start = before.value(it.key());
        const double cpu = (it->cpuMs - start.cpuMs) / seconds;
        const double wakeups = double(it->switches - start.switches) / seconds;
        use.cpuMsPerS += cpu;
        use.wakeupsPerS += wakeups;
        rows.append({it->name, cpu, wakeups});
    }
    std::sort(rows.begin(), rows.end(), [](const Row &a, const Row &b) { return a.wakeups > b.wakeups; });
    QStringList top;
    for (int i = 0; i < rows.size() && i < 4; ++i)
        if (rows[i].wakeups >= 0.5 || rows[i].cpu >= 0.05)
            top << QStringLiteral("%1 %2 ms/s %3/s")
                       .arg(rows[i].name)
                       .arg(rows[i].cpu, 0, 'f', 2)
                       .arg(rows[i].wakeups, 0, 'f', 0);
    use.busiest = top.join(QStringLiteral(", "));
    return use;
}

// One of our players on one input.
class Ours
{
public:
    explicit Ours(const QString &address) : m_address(address)
    {
        QObject::connect(
            &m_player, &VideoPlayer_Thread::sig_GetOneFrame, &m_player, [this](const QImage &) { ++m_pictures; },
            Qt::DirectConnection);
    }
    ~Ours() { m_player.stop(true); }

    // Plays until pictures have come for a second.
    bool start()
    {
        m_pictures = 0;
        if (!m_player.startPlay(m_address))
            return false;
        return QTest::qWaitFor([this] { return m_pictures >= 25; }, 30000);
    }
    void pause()
    {
        m_player.pause();
        // The threads reach their paused state.
        QThread::msleep(500);
    }
    // Milliseconds to stop(true)'s return and to the end of all threads.
    QPair<double, double> stop()
    {
        QElapsedTimer timer;
        timer.start();
        m_player.stop(true);
        const double returned = timer.nsecsElapsed() / 1e6;
        m_player.wait();
        return {returned, timer.nsecsElapsed() / 1e6};
    }

private:
    QString m_address;
    VideoPlayer_Thread m_player;
    std::atomic<int> m_pictures{0};
};

// ffplay in a window of the test display, driven by its keys.
class Ffplay
{
public:
    ~Ffplay() { m_process.stop(); }
    bool start(const QString &address)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(
            QStringLiteral("ffplay"),
            {"-loglevel", "error", "-x", "640", "-y", "360", "-window_title", "tavi-bench-player", address});
        if (!m_process.waitForStarted(5000))
            return false;
        QByteArray out;
        if (!testsupport::run(QStringLiteral("xdotool"), {"search", "--sync", "--name", "tavi-bench-player"}, 15000,
                              &out))
            return false;
        m_window = QString::fromLatin1(out.split('\n').value(0).trimmed());
        // Pictures flow: the process uses the CPU of a player.
        return QTest::qWaitFor([this] { return cpuSeconds(m_process.processId()) > 0.3; }, 20000);
    }
    bool key(const char *name)
    {
        return testsupport::run(QStringLiteral("xdotool"), {"windowfocus", m_window}, 5000) &&
            testsupport::run(QStringLiteral("xdotool"), {"key", "--window", m_window, name}, 5000);
    }
    qint64 pid() const { return m_process.processId(); }
    // Milliseconds from the "q" key to the end of the process.
    double quit()
    {
        if (!key("q"))
            return NAN;
        QElapsedTimer timer;
        timer.start();
        if (!m_process.waitForFinished(10000))
            return NAN;
        return timer.nsecsElapsed() / 1e6;
    }

private:
    testsupport::PeerProcess m_process;
    QString m_window;
};

void stopTimes(const char *what, const QString &address)
{
    for (const bool paused : {false, true}) {
        QVector<double> returned, ended, reference;
        for (int i = 0; i < kStops; ++i) {
            Ours ours(address);
            if (!ours.start()) {
                line("%s: the player did not start", what);
                return;
            }
            if (paused)
                ours.pause();
            const QPair<double, double> t = ours.stop();
            returned << t.first;
            ended << t.second;
        }
        for (int i = 0; i < 3; ++i) {
            Ffplay ffplay;
            if (!ffplay.start(address))
                continue;
            if (paused) {
                ffplay.key("p");
                QThread::msleep(500);
            }
            reference << ffplay.quit();
        }
        line("1. stop, %s, %s: stop(true) returns %.1f ms | all threads ended %.1f ms | ffplay, key to exit %.1f ms",
             what, paused ? "paused" : "playing", median(returned), median(ended), median(reference));
    }
}

void useLine(const char *what, const Use &ours, const Use &reference)
{
    line("%s: tavi %.2f ms CPU/s, %.0f wake-ups/s | ffplay %.2f ms CPU/s, %.0f wake-ups/s", what, ours.cpuMsPerS,
         ours.wakeupsPerS, reference.cpuMsPerS, reference.wakeupsPerS);
    line("   (tavi: %s)", qPrintable(ours.busiest.isEmpty() ? QStringLiteral("no thread woke") : ours.busiest));
    line("   (ffplay: %s)", qPrintable(reference.busiest));
}

void rest(const char *what, const QString &address)
{
    // The bench's own thread sleeps while it measures.
    const QString self = QString::number(::getpid());
    Use oursPlaying, oursPaused, refPlaying, refPaused;
    {
        Ours ours(address);
        if (!ours.start()) {
            line("%s: the player did not start", what);
            return;
        }
        oursPlaying = measureUse(::getpid(), kPlayingSeconds, self);
        ours.pause();
        oursPaused = measureUse(::getpid(), kPausedSeconds, self);
        ours.stop();
    }
    {
        Ffplay ffplay;
        if (ffplay.start(address)) {
            refPlaying = measureUse(ffplay.pid(), kPlayingSeconds);
            ffplay.key("p");
            QThread::msleep(500);
            refPaused = measureUse(ffplay.pid(), kPausedSeconds);
        }
    }
    useLine(qPrintable(QStringLiteral("2. paused %1, over %2 s").arg(QLatin1String(what)).arg(kPausedSeconds)),
            oursPaused, refPaused);
    useLine(qPrintable(QStringLiteral("   playing %1, over %2 s").arg(QLatin1String(what)).arg(kPlayingSeconds)),
            oursPlaying, refPlaying);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The players' description of each input they open.
    av_log_set_level(AV_LOG_ERROR);
    QTemporaryDir dir;
    const QString file = dir.path() + QStringLiteral("/bench720.mp4");
    if (!testsupport::makeMedia(file, testClipArgs(QStringLiteral("1280x720"), 60), 600000)) {
        line("player: could not make the file");
        return 1;
    }
    testsupport::NginxRtmp server;
    if (!server.start()) {
        line("player: nginx-rtmp did not start");
        return 1;
    }
    const QString live = server.url(QStringLiteral("benchplayer"));
    testsupport::PeerProcess publisher;
    publisher.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    publisher.start(QStringLiteral("ffmpeg"), classPublisherArgs(QStringLiteral("1280x720"), live));
    const bool published =
        publisher.waitForStarted(5000) &&
        QTest::qWaitFor(
            [&] { return testsupport::probe(live, 10000).value(QStringLiteral("streams")).toArray().size() == 2; },
            20000);
    if (!published) {
        line("player: the publisher did not start");
        return 1;
    }
    stopTimes("live 720p class", live);
    stopTimes("local 720p file", file);
    rest("live 720p class", live);
    rest("local 720p file", file);
    publisher.stop();
    return 0;
}
