// tavi-bench-network: a class over the networks students and teachers have,
// made in network namespaces of the bench's own (tests/support/netlab.sh),
// each figure beside the reference tool's under the same conditions:
//   a. the pupil 50 +- 10 ms away each way with 1 % loss (tavi-play | ffplay)
//   b. the pupil's downlink capped below the stream's rate for 30 s
//   c. the teacher's uplink capped below the stream's rate for 30 s
//      (tavi-record | ffmpeg x11grab + pulse publishing)
//   d. either link cut for 20 s, every packet dropped, no reset
// Pictures are timed as they leave the player (tavi-play --trace; ffplay's
// showinfo as it decodes); sound gaps are heard on a null sink's monitor.
// Distance from the live edge: against a reader on the server itself (a), or
// against the pupil's own best before the impairment (b, c, d).
// Needs root. Runs in the stage folder under the test display and sound.
//   --seconds S   length of condition a (default 120); the others scale with it
//   m. memory of a pupil's player through a class: tavi-play beside ffplay,
//      both playing at once; the growth from minute 1 to minute 4, or with
//      TAVI_BENCH_HOUR=1 from minute 5 to the end of an hour. The pupil's
//      link drops for 5 s at minute 2 (then every 10 minutes of the hour):
//      tavi-play opens the stream again, which is where its memory grew
//   w. a weak link: 2 % loss all along and the pupil's downlink at 1 Mbit/s
//      for 20 s under a 1.7 Mbit/s class (key frames every 12 pictures, as
//      tavi-record makes them), with the server's low rendition
//      offered (tavi-play --low), without it, and ffplay: pictures a second,
//      how far behind and the longest freeze under the cap, and how soon the
//      full rendition is back after it
//   --only LIST   conditions to run, e.g. "b,d" (default a,b,c,d,w,m)

#include "benchsupport.h"
#include "netlab.h"
#include "peerprocess.h"
#include "sound.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

#include <unistd.h>

using namespace bench;
using testsupport::Ear;

namespace {

double g_scale = 1.0; // of every phase's length
const char *kStream = "net";

double now()
{
    return QDateTime::currentMSecsSinceEpoch() / 1000.0;
}

// Runs the event loop for seconds (scaled), keeping the readers going.
void phase(double seconds)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < seconds * g_scale * 1000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

bool spinUntil(const std::function<bool()> &done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return done();
}

// (wall seconds, stream seconds) of each picture that left a player.
using Pictures = QVector<QPair<double, double>>;

// Reads a process's lines as they come, each with the time it came.
void onLines(QProcess &process, bool errors, const std::function<void(double, const QByteArray &)> &take)
{
    QObject::connect(&process, errors ? &QProcess::readyReadStandardError : &QProcess::readyReadStandardOutput,
                     [&process, errors, take] {
                         process.setReadChannel(errors ? QProcess::StandardError : QProcess::StandardOutput);
                         const double at = now();
                         while (process.canReadLine())
                             take(at, process.readLine());
                     });
}

// A player in the pupil's namespace: tavi-play or ffplay, its pictures timed.
struct Player
{
    Player(testsupport::NetLab &lab, bool tavi, const QString &sink, bool low = false)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PULSE_SINK"), sink);
        const QString url = lab.pupilUrl(kStream);
        if (tavi) {
            ours = std::make_unique<testsupport::PupilPlayer>(
                lab, url, env, low ? lab.pupilUrl(QString::fromLatin1(kStream) + "_low") : QString());
            return;
        }
        static const QRegularExpression showinfo(QStringLiteral("pts_time:\\s*([0-9.]+)"));
        ffplay.setProcessEnvironment(env);
        onLines(ffplay, true, [this](double at, const QByteArray &row) {
            const auto m = showinfo.match(QString::fromUtf8(row));
            if (m.hasMatch())
                theirs.append({at, m.captured(1).toDouble()});
        });
        lab.startIn(ffplay, true, QStringLiteral("ffplay"),
                    {"-hide_banner", "-loglevel", "info", "-vf", "showinfo", "-x", "320", "-y", "180", url});
    }
    ~Player() { ffplay.stop(); }
    const Pictures &pictures() const { return ours ? ours->pictures : theirs; }
    std::unique_ptr<testsupport::PupilPlayer> ours;
    testsupport::PeerProcess ffplay;
    Pictures theirs;
};

// The stream as it leaves the server: packet times of a reader in the server's namespace.
struct Edge
{
    explicit Edge(testsupport::NetLab &lab)
    {
        onLines(process, false, [this](double at, const QByteArray &row) {
            const QList<QByteArray> f = row.split(',');
            if (row.startsWith('#') || f.size() < 5)
                return;
            const double pts = f[2].trimmed().toDouble() / 1000.0;
            offset = std::min(offset, at - pts);
            bytes += f[4].trimmed().toLongLong();
            if (first < 0)
                first = at;
            last = at;
        });
        process.start(QStringLiteral("ip"),
                      {"netns",
                       "exec",
                       lab.serverNamespace(),
                       "ffmpeg",
                       "-hide_banner",
                       "-loglevel",
                       "error",
                       "-fflags",
                       "nobuffer",
                       "-i",
                       lab.server().url(kStream),
                       "-map",
                       "0:v",
                       "-c",
                       "copy",
                       "-f",
                       "framemd5",
                       "-flush_packets",
                       "1",
                       "-"});
    }
    ~Edge() { process.stop(); }
    double kbps() const { return last > first ? bytes * 8 / 1000.0 / (last - first) : NAN; }
    testsupport::PeerProcess process;
    double offset = 1e18; // least (arrival - stream time)
    long long bytes = 0;
    double first = -1, last = -1;
};

// Behind the live edge (seconds) of each picture at or after from.
QVector<double> lags(const Pictures &pictures, double offset, double from, double to = 1e18)
{
    QVector<double> out;
    for (const auto &p : pictures)
        if (p.first >= from && p.first < to)
            out << p.first - p.second - offset;
    return out;
}

double leastOffset(const Pictures &pictures, double from, double to)
{
    double least = NAN;
    for (const auto &p : pictures)
        if (p.first >= from && p.first < to && !(p.first - p.second >= least))
            least = p.first - p.second;
    return least;
}

double longestFreeze(const Pictures &pictures, double from, double to)
{
    double longest = 0, previous = NAN;
    for (const auto &p : pictures) {
        if (p.first < from || p.first > to)
            continue;
        if (!std::isnan(previous))
            longest = std::max(longest, p.first - previous);
        previous = p.first;
    }
    return longest;
}

// Seconds after `at` until the pictures stay within `bound` of the edge;
// NaN when they never do.
double backWithin(const Pictures &pictures, double offset, double at, double bound)
{
    double lastOver = at;
    bool any = false;
    for (const auto &p : pictures)
        if (p.first >= at) {
            any = true;
            if (p.first - p.second - offset > bound)
                lastOver = p.first;
        }
    if (!any || (!pictures.isEmpty() && pictures.last().first - lastOver < 2.0))
        return NAN;
    return lastOver - at;
}

double firstPictureAfter(const Pictures &pictures, double at)
{
    for (const auto &p : pictures)
        if (p.first >= at)
            return p.first - at;
    return NAN;
}

void pair(const char *what, double ours, double reference, const char *unit, const char *goal)
{
    line("%s: tavi %.2f %s | reference %.2f %s | ratio %.2f | goal %s", what, ours, unit, reference, unit,
         ours / reference, goal);
}

struct PupilFigures
{
    double medianLag = NAN, p95Lag = NAN, freeze = NAN, soundGap = NAN, mostBehind = NAN, back = NAN, kbps = NAN;
};

// One pupil condition with an ffmpeg publisher on an unimpaired teacher link.
PupilFigures pupilRun(char condition, bool tavi)
{
    PupilFigures f;
    testsupport::NetLab lab;
    const QString why = condition == 'a' ? lab.start(50, 10) : lab.start();
    if (!why.isEmpty()) {
        line("   %c: %s", condition, qPrintable(why));
        return f;
    }
    lab.launch(false, QStringLiteral("ffmpeg"), testsupport::NetLab::classArgs(lab.teacherUrl(kStream)));
    Edge edge(lab);
    if (!spinUntil([&] { return edge.last > 0; }, 20000)) {
        line("   %c: the stream did not reach the server", condition);
        return f;
    }
    const QString sinkName = QStringLiteral("netbench%1").arg(getpid());
    testsupport::NullSink sink(sinkName);
    Ear ear(sinkName);
    Player player(lab, tavi, sinkName);
    if (!spinUntil([&] { return player.pictures().size() > 25; }, 20000)) {
        line("   %c: %s played nothing", condition, tavi ? "tavi-play" : "ffplay");
        return f;
    }
    ear.restart();
    const double start = now();
    if (condition == 'a') {
        lab.command(QStringLiteral("loss pupil 1"));
        phase(120);
        const QVector<double> l = lags(player.pictures(), edge.offset, start + 5);
        f.medianLag = median(l), f.p95Lag = percentile(l, 0.95);
        f.freeze = longestFreeze(player.pictures(), start, now());
        f.soundGap = ear.longestGapMs();
    } else if (condition == 'b') {
        phase(10);
        const double kbps = edge.kbps();
        lab.command(QStringLiteral("cap pupil %1kbit").arg(int(kbps * 0.6)));
        const double capped = now();
        phase(30);
        lab.command(QStringLiteral("uncap pupil"));
        const double lifted = now();
        phase(15);
        // Against the player's own best before the cap: a player sits a
        // little behind a reader that does not decode.
        const double own = leastOffset(player.pictures(), 0, capped);
        const QVector<double> l = lags(player.pictures(), own, capped, lifted);
        f.mostBehind = l.isEmpty() ? NAN : *std::max_element(l.begin(), l.end());
        f.back = backWithin(player.pictures(), own, lifted, 0.4);
        // Dropping shows as pictures that freeze, and the sound's gaps.
        f.freeze = longestFreeze(player.pictures(), capped, lifted);
        f.soundGap = ear.longestGapMs();
        f.kbps = kbps;
    } else {
        phase(10);
        const double own = leastOffset(player.pictures(), 0, now());
        lab.command(QStringLiteral("cut pupil"));
        phase(20);
        lab.command(QStringLiteral("mend pupil"));
        const double mended = now();
        phase(15);
        f.back = firstPictureAfter(player.pictures(), mended);
        f.mostBehind = backWithin(player.pictures(), own, mended, 0.4);
    }
    return f;
}

struct WeakFigures
{
    double rate = NAN, mostBehind = NAN, freeze = NAN, backToFull = NAN, soundGap = NAN;
};

// Condition w with one player: 0 tavi-play offered the low rendition, 1
// tavi-play without it, 2 ffplay.
WeakFigures weakRun(int who)
{
    WeakFigures f;
    testsupport::NetLab lab;
    lab.server().setLowRendition(true);
    const QString why = lab.start();
    if (!why.isEmpty()) {
        line("   w: %s", qPrintable(why));
        return f;
    }
    // Key frames as tavi-record makes them, every 12 pictures.
    lab.launch(false, QStringLiteral("ffmpeg"), testsupport::NetLab::classArgs(lab.teacherUrl(kStream), 1600, 12));
    const QString sinkName = QStringLiteral("netbench%1").arg(getpid());
    testsupport::NullSink sink(sinkName);
    Ear ear(sinkName);
    // The transcoder's first try may find no picture yet.
    phase(12);
    Player player(lab, who != 2, sinkName, who == 0);
    if (!spinUntil([&] { return player.pictures().size() > 25; }, 20000)) {
        line("   w: nothing played");
        return f;
    }
    lab.command(QStringLiteral("loss pupil 2"));
    phase(10);
    ear.restart();
    lab.command(QStringLiteral("cap pupil 1mbit"));
    const double capped = now();
    phase(20);
    lab.command(QStringLiteral("uncap pupil"));
    const double lifted = now();
    phase(25);
    const Pictures &p = player.pictures();
    const double own = leastOffset(p, 0, capped);
    const QVector<double> l = lags(p, own, capped, lifted);
    f.mostBehind = l.isEmpty() ? NAN : *std::max_element(l.begin(), l.end());
    f.rate = l.size() / (lifted - capped);
    f.freeze = longestFreeze(p, capped, lifted);
    f.soundGap = ear.longestGapMs(capped, lifted);
    if (who == 0 && player.ours)
        for (const auto &s : player.ours->switches)
            if (s.first > lifted && !s.second && std::isnan(f.backToFull))
                f.backToFull = s.first - lifted;
    return f;
}

struct TeacherFigures
{
    double rssBefore = NAN, rssMost = NAN, mostBehind = NAN, back = NAN, soundGap = NAN, restarts = 0;
};

// One teacher condition: tavi-record or ffmpeg publishing the display and the
// microphone from the teacher's namespace, tavi-play listening as the pupil.
TeacherFigures teacherRun(char condition, bool tavi)
{
    TeacherFigures f;
    testsupport::NetLab lab;
    const QString why = lab.start();
    if (!why.isEmpty()) {
        line("   %c: %s", condition, qPrintable(why));
        return f;
    }
    const QString url = lab.teacherUrl(kStream);
    // Something moving on the teacher's screen, a tone in the microphone.
    testsupport::PeerProcess screen;
    screen.start(QStringLiteral("ffplay"),
                 {"-loglevel", "error", "-an", "-noborder", "-left", "0", "-top", "0", "-f", "lavfi", "-i",
                  "testsrc2=size=1920x1080:rate=25"});
    testsupport::Tone tone;
    tone.start(QStringLiteral("tavi_null"), 440);
    testsupport::PeerProcess publisher;
    QStringList args;
    QString program = QCoreApplication::applicationDirPath() + "/../../stage/tavi-record";
    if (tavi) {
        args = QStringList{url, "--reconnect"};
    } else {
        program = QStringLiteral("ffmpeg");
        args = QStringLiteral("-hide_banner -nostdin -loglevel error -f x11grab -framerate 25 -i %1 -f pulse "
                              "-fragment_size 4096 -i default -c:v libx264 -preset ultrafast -tune zerolatency "
                              "-b:v 1650k -maxrate 1650k -bufsize 1650k -g 50 -pix_fmt yuv420p -c:a aac -b:a 64k "
                              "-rw_timeout 3000000 -f flv")
                   .arg(qEnvironmentVariable("DISPLAY"))
                   .split(QLatin1Char(' ')) +
            QStringList{url};
    }
    // ffmpeg ends when its output fails: started again every 2 s, as a
    // teacher's script would.
    QTimer again;
    again.setSingleShot(true);
    again.setInterval(2000);
    QObject::connect(&again, &QTimer::timeout, [&] { lab.startIn(publisher, false, program, args); });
    QObject::connect(&publisher, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), &again, [&] {
        f.restarts += 1;
        again.start();
    });
    lab.startIn(publisher, false, program, args);
    const QString sinkName = QStringLiteral("netbench%1").arg(getpid());
    testsupport::NullSink sink(sinkName);
    Ear ear(sinkName);
    Player player(lab, true, sinkName);
    if (!spinUntil([&] { return player.pictures().size() > 25; }, 30000)) {
        line("   %c: the pupil saw nothing of %s", condition, tavi ? "tavi-record" : "ffmpeg");
        return f;
    }
    phase(10);
    const double offset = leastOffset(player.pictures(), 0, now());
    f.rssBefore = rssMb(publisher.processId());
    ear.restart();
    lab.command(condition == 'c' ? QStringLiteral("cap teacher 800kbit") : QStringLiteral("cut teacher"));
    const double impaired = now();
    QTimer memory;
    f.rssMost = f.rssBefore;
    QObject::connect(&memory, &QTimer::timeout, [&] { f.rssMost = std::max(f.rssMost, rssMb(publisher.processId())); });
    memory.start(250);
    phase(condition == 'c' ? 30 : 20);
    memory.stop();
    f.soundGap = ear.longestGapMs();
    lab.command(condition == 'c' ? QStringLiteral("uncap teacher") : QStringLiteral("mend teacher"));
    const double lifted = now();
    phase(15);
    if (condition == 'c') {
        const QVector<double> l = lags(player.pictures(), offset, impaired, lifted);
        f.mostBehind = l.isEmpty() ? NAN : *std::max_element(l.begin(), l.end());
        f.back = backWithin(player.pictures(), offset, lifted, 0.4);
    } else {
        f.back = firstPictureAfter(player.pictures(), lifted);
    }
    publisher.disconnect();
    publisher.stop();
    screen.stop();
    return f;
}

// Resident memory of tavi-play and ffplay playing one class side by side.
void memoryTrend()
{
    const bool hour = qEnvironmentVariableIntValue("TAVI_BENCH_HOUR") == 1;
    const double settle = hour ? 300 : 60, end = hour ? 3900 : 240;
    testsupport::NetLab lab;
    const QString why = lab.start();
    if (!why.isEmpty()) {
        line("   m: %s", qPrintable(why));
        return;
    }
    lab.launch(false, QStringLiteral("ffmpeg"), testsupport::NetLab::classArgs(lab.teacherUrl(kStream)));
    const QString sinkName = QStringLiteral("netbench%1").arg(getpid());
    testsupport::NullSink sink(sinkName);
    Player ours(lab, true, sinkName), theirs(lab, false, sinkName);
    const qint64 ourPid = ours.ours->processId(), theirPid = theirs.ffplay.processId();
    QElapsedTimer clock;
    clock.start();
    const auto until = [&](double seconds) {
        while (clock.elapsed() < seconds * 1000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 200);
    };
    until(settle);
    const double ourStart = rssMb(ourPid), theirStart = rssMb(theirPid);
    // A short dropout, as home Wi-Fi has them: long enough for tavi-play to
    // open the stream again (3 s of silence), short enough for ffplay's TCP
    // to carry on.
    int dropouts = 0;
    for (double at = hour ? settle + 600 : 120; at + 60 < end; at += 600) {
        until(at);
        lab.command(QStringLiteral("cut pupil"));
        until(at + 5);
        lab.command(QStringLiteral("mend pupil"));
        ++dropouts;
    }
    until(end);
    const double ourEnd = rssMb(ourPid), theirEnd = rssMb(theirPid);
    line("m. a pupil's player, resident memory at %.0f s: tavi-play %.1f MB | ffplay %.1f MB", settle, ourStart,
         theirStart);
    pair(hour ? "m. growth from minute 5 to the end of an hour" : "m. growth from minute 1 to minute 4",
         ourEnd - ourStart, theirEnd - theirStart, "MB", hour ? "<= 2 MB" : "<= 2 MB over an hour (TAVI_BENCH_HOUR=1)");
    line("   (pictures shown: tavi-play %d, ffplay %d; the pupil's link dropped %d times for 5 s)",
         int(ours.pictures().size()), int(theirs.pictures().size()), dropouts);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QString only = QStringLiteral("a,b,c,d,w,m");
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--seconds"))
            g_scale = std::clamp(args[i + 1].toDouble() / 120.0, 0.05, 10.0);
        else if (args[i] == QLatin1String("--only"))
            only = args[i + 1];
    }
    if (geteuid() != 0) {
        line("network: skipped, network namespaces need root");
        return 0;
    }
    line("network: each phase x%.2f of its full length", g_scale);
    if (only.contains('a')) {
        const PupilFigures t = pupilRun('a', true), r = pupilRun('a', false);
        pair("a. 50+-10 ms each way, 1 % loss: behind the live edge, median", t.medianLag * 1000, r.medianLag * 1000,
             "ms", "<= 600 ms glass to glass (add the loopback figure of bench/latency)");
        pair("a. behind the live edge, p95", t.p95Lag * 1000, r.p95Lag * 1000, "ms", "-");
        pair("a. longest frozen picture", t.freeze * 1000, r.freeze * 1000, "ms", "<= 1000 ms");
        pair("a. longest gap in the sound", t.soundGap, r.soundGap, "ms", "<= 200 ms");
    }
    if (only.contains('b')) {
        const PupilFigures t = pupilRun('b', true), r = pupilRun('b', false);
        line("   (stream %.0f kbit/s, capped at 60 %% of it for 30 s)", t.kbps);
        pair("b. pupil's link capped: most behind the live edge", t.mostBehind, r.mostBehind, "s", "<= 2 s");
        pair("b. after the cap, back to <= 400 ms within", t.back, r.back, "s", "<= 10 s");
        pair("b. longest picture freeze under the cap", t.freeze, r.freeze, "s", "-");
        pair("b. longest gap in the sound over the run", t.soundGap, r.soundGap, "ms", "-");
    }
    if (only.contains('c')) {
        const TeacherFigures t = teacherRun('c', true), r = teacherRun('c', false);
        pair("c. teacher's uplink capped at 800 kbit/s: publisher memory, most", t.rssMost, r.rssMost, "MB", "bounded");
        line("   (publisher memory before the cap: tavi %.1f MB, reference %.1f MB)", t.rssBefore, r.rssBefore);
        pair("c. pupil most behind the live edge", t.mostBehind, r.mostBehind, "s", "-");
        pair("c. longest gap in the sound under the cap", t.soundGap, r.soundGap, "ms", "sound kept");
        pair("c. after the cap, pupil back to <= 400 ms within", t.back, r.back, "s", "<= 10 s");
    }
    if (only.contains('d')) {
        const PupilFigures t = pupilRun('d', true), r = pupilRun('d', false);
        pair("d. pupil's link cut 20 s: first picture after its return", t.back, r.back, "s", "<= 5 s");
        pair("d. ... back to <= 400 ms of the edge within", t.mostBehind, r.mostBehind, "s", "-");
        const TeacherFigures tt = teacherRun('d', true), rt = teacherRun('d', false);
        pair("d. teacher's link cut 20 s: pupil's first picture after its return", tt.back, rt.back, "s", "<= 5 s");
        line("   (publisher runs that ended by themselves: tavi-record %.0f, ffmpeg %.0f)", tt.restarts, rt.restarts);
    }
    if (only.contains('w')) {
        const WeakFigures low = weakRun(0), full = weakRun(1), ffplay = weakRun(2);
        line("w. 2 %% loss, 20 s at 1 Mbit/s under a 1.7 Mbit/s class: tavi with the low rendition | tavi without it "
             "| ffplay");
        line("   pictures a second under the cap: %.1f | %.1f | %.1f | ratio %.2f | goal >= 24", low.rate, full.rate,
             ffplay.rate, low.rate / ffplay.rate);
        line("   most behind the live edge: %.2f | %.2f | %.2f s | ratio %.2f | goal <= 1 s", low.mostBehind,
             full.mostBehind, ffplay.mostBehind, low.mostBehind / ffplay.mostBehind);
        line("   longest freeze: %.2f | %.2f | %.2f s | ratio %.2f | goal <= 0.3 s", low.freeze, full.freeze,
             ffplay.freeze, low.freeze / ffplay.freeze);
        line("   longest gap in the sound under the cap: %.0f | %.0f | %.0f ms", low.soundGap, full.soundGap,
             ffplay.soundGap);
        line("   back on the full rendition after the cap: %.1f s | goal <= 20 s", low.backToFull);
    }
    if (only.contains('m'))
        memoryTrend();
    return 0;
}
