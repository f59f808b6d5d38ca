// Publishing benchmarks of tavi-record, each beside the ffmpeg command line
// doing the same work in the same run:
//   1. CPU per second of publishing the 1920x1080 desktop with the microphone
//      to nginx on loopback;
//   2. pictures per second of output and audio-to-video drift of a recording;
//   3. memory while the RTMP server stalls;
//   4. CPU of taking the desktop through the Wayland portal and PipeWire
//      beside x11grab's, both by tavi-record at 1920x1080;
//   5. CPU of a camera in the corner of the class: what it adds to the
//      desktop alone, beside ffmpeg's overlay filter adding the same.
// Runs in the stage folder under the test display and sound server.

#include "benchsupport.h"
#include "nginxrtmp.h"
#include "testsupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr int kCpuSeconds = 15;
// The window of the CPU figure within each run.
constexpr int kSettleMs = 4000;
constexpr int kWindowMs = 10000;
constexpr int kSyncSeconds = 20;
constexpr int kStallSeconds = 60;
constexpr int kWaylandSeconds = 15;
constexpr int kCameraRounds = 3;

class Mover : public QWidget
{
public:
    Mover()
    {
        setGeometry(0, 0, 640, 480);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            ++m_step;
            update();
        });
        m_timer.start(40);
        show();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.fillRect(rect(), QColor::fromHsv(m_step * 3 % 360, 120, 200));
        p.setBrush(Qt::black);
        p.drawEllipse((m_step * 7) % 600, (m_step * 5) % 440, 60, 60);
    }

private:
    QTimer m_timer;
    int m_step = 0;
};

// Keeps the GUI (the moving picture) alive while waiting.
void pump(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

pid_t spawn(const QStringList &argv)
{
    std::vector<QByteArray> bytes;
    for (const QString &a : argv)
        bytes.push_back(a.toLocal8Bit());
    std::vector<char *> args;
    for (QByteArray &b : bytes)
        args.push_back(b.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

struct RunResult
{
    bool ok = false;
    double wallSeconds = 0;
    double cpuSeconds = 0;
};

// Waits for the child while the GUI runs; kills it after limitMs.
RunResult finish(pid_t pid, QElapsedTimer &clock, int limitMs)
{
    RunResult result;
    int status = 0;
    struct rusage usage = {};
    for (;;) {
        const pid_t done = wait4(pid, &status, WNOHANG, &usage);
        if (done == pid)
            break;
        if (clock.elapsed() > limitMs) {
            kill(pid, SIGINT);
            pump(3000);
            if (wait4(pid, &status, WNOHANG, &usage) == pid)
                break;
            kill(pid, SIGKILL);
            wait4(pid, &status, 0, &usage);
            break;
        }
        pump(50);
    }
    result.wallSeconds = clock.elapsed() / 1000.0;
    result.cpuSeconds =
        usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
    result.ok = WIFEXITED(status) || WIFSIGNALED(status);
    return result;
}

long rssKb(pid_t pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

QString display()
{
    const QByteArray d = qgetenv("DISPLAY");
    return d.isEmpty() ? QStringLiteral(":0") : QString::fromLocal8Bit(d);
}

QString microphone()
{
    // The default PulseAudio source, as tavi-record's first one on this machine.
    QByteArray out;
    testsupport::run(QStringLiteral("pactl"), {QStringLiteral("get-default-source")}, 5000, &out);
    const QString name = QString::fromUtf8(out).trimmed();
    return name.isEmpty() ? QStringLiteral("default") : name;
}

QStringList ffmpegPublish(const QString &output, int seconds)
{
    // Deep input queues: with the default ones ffmpeg starves the grabber
    // while it waits for sound and publishes a few pictures per second.
    return {QStringLiteral("ffmpeg"), "-nostdin", "-loglevel", "error", "-thread_queue_size", "1024", "-f", "x11grab",
            // The encoder's rate, as tavi-record grabs: x11grab's default
            // (29.97) would grab and convert pictures only to drop them.
            "-framerate", "25", "-i", display(), "-thread_queue_size", "1024", "-f", "pulse", "-sample_rate", "44100",
            "-channels", "2", "-i", microphone(), "-c:v", "libx264", "-preset", "ultrafast", "-tune", "zerolatency",
            "-b:v", "1650k", "-g", "12", "-r", "25", "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a", "64k", "-t",
            QString::number(seconds), "-f", "flv", "-y", output};
}

QStringList taviPublish(const QString &output, int seconds)
{
    return {QStringLiteral("./tavi-record"), output, "--seconds", QString::number(seconds)};
}

void ratioLine(const char *what, double ours, double reference, const char *unit)
{
    std::printf("%-40s tavi-record %8.3f %s | ffmpeg %8.3f %s | ratio %.2f\n", what, ours, unit, reference, unit,
                reference > 0 ? ours / reference : 0.0);
    std::fflush(stdout);
}

// User and system seconds of a running process (all its threads), or of its
// threads of one name.
double processSeconds(pid_t pid, const QByteArray &thread = QByteArray())
{
    QStringList stats;
    if (thread.isEmpty()) {
        stats << QStringLiteral("/proc/%1/stat").arg(pid);
    } else {
        const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
        for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile comm(tasks + '/' + task + QStringLiteral("/comm"));
            if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == thread)
                stats << tasks + '/' + task + QStringLiteral("/stat");
        }
    }
    double seconds = 0;
    for (const QString &path : stats) {
        QFile stat(path);
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        // Fields after the command name in parentheses: utime is the 14th, stime the 15th.
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() >= 13)
            seconds += double(fields.at(11).toLongLong() + fields.at(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
    }
    return seconds;
}

// Cores a publisher uses in the window after it settled; with a thread's
// name, that thread's share too.
double publishingCores(const QStringList &argv, const QByteArray &thread = QByteArray(), double *threadCores = nullptr)
{
    QElapsedTimer clock;
    clock.start();
    const pid_t pid = spawn(argv);
    if (pid < 0)
        return -1;
    pump(kSettleMs);
    const double before = processSeconds(pid);
    const double threadBefore = thread.isEmpty() ? 0 : processSeconds(pid, thread);
    QElapsedTimer window;
    window.start();
    pump(kWindowMs);
    const double used = processSeconds(pid) - before;
    const double threadUsed = thread.isEmpty() ? 0 : processSeconds(pid, thread) - threadBefore;
    const double seconds = window.elapsed() / 1000.0;
    finish(pid, clock, (kCpuSeconds + 20) * 1000);
    if (threadCores && seconds > 0)
        *threadCores = threadUsed / seconds;
    return seconds > 0 ? used / seconds : -1;
}

bool cpuFigure()
{
    std::printf("-- 1. CPU of publishing 1920x1080 at 25 fps with the microphone to nginx (%d s of %d s each)\n",
                kWindowMs / 1000, kCpuSeconds);
    double perSecond[2] = {0, 0};
    for (int tool = 0; tool < 2; ++tool) {
        testsupport::NginxRtmp nginx;
        if (!nginx.start())
            return false;
        const QString url = nginx.url(QStringLiteral("cpu"));
        perSecond[tool] = publishingCores(tool == 0 ? taviPublish(url, kCpuSeconds) : ffmpegPublish(url, kCpuSeconds));
        if (perSecond[tool] < 0)
            return false;
    }
    ratioLine("CPU per second (cores)", perSecond[0], perSecond[1], "cores");
    return true;
}

// A webcam's pictures as they come from one: 640x480 MJPEG at 30 a second.
QString cameraFile()
{
    const QString file = QDir::current().absoluteFilePath(QStringLiteral("bench-camera.mkv"));
    if (!QFile::exists(file))
        testsupport::makeMedia(file,
                               {"-f", "lavfi", "-i",
                                QStringLiteral("testsrc2=size=640x480:rate=30:d=%1").arg(kCpuSeconds + 10), "-c:v",
                                "mjpeg", "-q:v", "5"});
    return file;
}

bool cameraFigure()
{
    std::printf("-- 5. CPU of a 640x480 MJPEG camera at 30 fps in the corner of the 1920x1080 class (%d s of %d s"
                " each, medians of %d alternating rounds)\n",
                kWindowMs / 1000, kCpuSeconds, kCameraRounds);
    const QString camera = cameraFile();
    if (!QFile::exists(camera))
        return false;
    testsupport::NginxRtmp nginx;
    if (!nginx.start())
        return false;
    const QString url = nginx.url(QStringLiteral("camera"));
    // ffmpeg: the same file read at its rate, scaled to the inset's size and laid over the desktop.
    QStringList ffmpegCamera = ffmpegPublish(url, kCpuSeconds);
    const int encoders = ffmpegCamera.indexOf(QStringLiteral("-c:v"));
    const QStringList overlay{
        "-re", "-i",   camera, "-filter_complex", "[2:v]scale=384:288[c];[0:v][c]overlay=W-w-32:H-h-32[v]", "-map",
        "[v]", "-map", "1:a"};
    for (int i = 0; i < overlay.size(); ++i)
        ffmpegCamera.insert(encoders + i, overlay[i]);
    // One run of each is within the spread between runs of the same (the
    // moving desktop's cost varies by a tenth of a core): rounds of all four,
    // alternating, and the median of each.
    QVector<double> taviAlone, taviCamera, ffmpegAlone, ffmpegWith, cameraThread;
    for (int round = 0; round < kCameraRounds; ++round) {
        double reading = 0;
        taviAlone << publishingCores(taviPublish(url, kCpuSeconds));
        taviCamera << publishingCores(taviPublish(url, kCpuSeconds) + QStringList{"--camera", ":" + camera},
                                      QByteArrayLiteral("CameraThread"), &reading);
        cameraThread << reading;
        ffmpegAlone << publishingCores(ffmpegPublish(url, kCpuSeconds));
        ffmpegWith << publishingCores(ffmpegCamera);
        std::printf("   round %d: desktop alone: tavi-record %.3f cores, ffmpeg %.3f | with the camera: tavi-record"
                    " %.3f (its camera thread %.3f), ffmpeg %.3f\n",
                    round + 1, taviAlone.last(), ffmpegAlone.last(), taviCamera.last(), reading, ffmpegWith.last());
        std::fflush(stdout);
        if (taviAlone.last() < 0 || taviCamera.last() < 0 || ffmpegAlone.last() < 0 || ffmpegWith.last() < 0)
            return false;
    }
    const double ours = bench::median(taviCamera) - bench::median(taviAlone);
    const double reference = bench::median(ffmpegWith) - bench::median(ffmpegAlone);
    std::printf("%-40s tavi-record %+8.3f cores | ffmpeg %+8.3f cores | ratio %.2f | goal tavi <= +0.08\n",
                "the camera's cost", ours, reference, reference > 0 ? ours / reference : 0.0);
    std::printf("   of which reading, decoding and scaling the camera (its thread): %.3f cores\n",
                bench::median(cameraThread));
    std::fflush(stdout);
    return true;
}

struct SyncFigures
{
    int videoFrames = 0;
    double videoSeconds = 0;
    double audioSeconds = 0;
};

SyncFigures probeSync(const QString &file)
{
    SyncFigures f;
    QByteArray out;
    testsupport::run(QStringLiteral("ffprobe"),
                     {"-v", "error", "-print_format", "json", "-show_entries",
                      "packet=stream_index,pts_time,duration_time:stream=index,codec_type", file},
                     60000, &out);
    const QJsonObject root = QJsonDocument::fromJson(out).object();
    int videoIndex = -1;
    for (const QJsonValue &s : root.value("streams").toArray())
        if (s.toObject().value("codec_type").toString() == "video")
            videoIndex = s.toObject().value("index").toInt();
    double vFirst = -1, vLast = 0, aFirst = -1, aLast = 0;
    for (const QJsonValue &p : root.value("packets").toArray()) {
        const QJsonObject o = p.toObject();
        const double t = o.value("pts_time").toString().toDouble();
        const double d = o.value("duration_time").toString().toDouble();
        if (o.value("stream_index").toInt() == videoIndex) {
            ++f.videoFrames;
            if (vFirst < 0)
                vFirst = t;
            vLast = qMax(vLast, t + (d > 0 ? d : 0.04));
        } else {
            if (aFirst < 0)
                aFirst = t;
            aLast = qMax(aLast, t + d);
        }
    }
    f.videoSeconds = vLast - qMax(0.0, vFirst);
    f.audioSeconds = aLast - qMax(0.0, aFirst);
    return f;
}

bool syncFigure()
{
    std::printf("-- 2. Pictures per second and audio-to-video drift of a %d s recording (shortened from 60 s)\n",
                kSyncSeconds);
    SyncFigures figures[2];
    for (int tool = 0; tool < 2; ++tool) {
        const QString file =
            tool == 0 ? QStringLiteral("bench-sync-tavi.flv") : QStringLiteral("bench-sync-ffmpeg.flv");
        QFile::remove(file);
        QElapsedTimer clock;
        clock.start();
        const pid_t pid = spawn(tool == 0 ? taviPublish(file, kSyncSeconds) : ffmpegPublish(file, kSyncSeconds));
        if (pid < 0)
            return false;
        finish(pid, clock, (kSyncSeconds + 20) * 1000);
        figures[tool] = probeSync(file);
        QFile::remove(file);
    }
    for (int tool = 0; tool < 2; ++tool)
        std::printf("   %s: %d pictures over %.3f s of video, %.3f s of audio\n",
                    tool == 0 ? "tavi-record" : "ffmpeg     ", figures[tool].videoFrames, figures[tool].videoSeconds,
                    figures[tool].audioSeconds);
    ratioLine("pictures per second of output", figures[0].videoFrames / figures[0].videoSeconds,
              figures[1].videoFrames / figures[1].videoSeconds, "fps  ");
    ratioLine("pictures per second of recording time", figures[0].videoFrames / double(kSyncSeconds),
              figures[1].videoFrames / double(kSyncSeconds), "fps  ");
    ratioLine("audio-to-video drift at the end", 1000 * std::abs(figures[0].audioSeconds - figures[0].videoSeconds),
              1000 * std::abs(figures[1].audioSeconds - figures[1].videoSeconds), "ms   ");
    return true;
}

bool memoryFigure()
{
    std::printf("-- 3. Memory while the RTMP server stalls for %d s\n", kStallSeconds);
    std::printf("   (the kernel's socket buffers take the first seconds of the stall before writes block)\n");
    long peak[2] = {0, 0};
    long earlierHigh[2] = {0, 0};
    long lastHigh[2] = {0, 0};
    for (int tool = 0; tool < 2; ++tool) {
        testsupport::NginxRtmp nginx;
        if (!nginx.start())
            return false;
        const QString url = nginx.url(QStringLiteral("stall"));
        const int total = kStallSeconds + 6;
        QElapsedTimer clock;
        clock.start();
        const pid_t pid = spawn(tool == 0 ? taviPublish(url, total) : ffmpegPublish(url, total));
        if (pid < 0)
            return false;
        pump(3000);
        nginx.freeze();
        QElapsedTimer stall;
        stall.start();
        QString samples;
        int nextSample = 0;
        while (stall.elapsed() < kStallSeconds * 1000) {
            const long rss = rssKb(pid);
            peak[tool] = qMax(peak[tool], rss);
            // A higher peak in the last quarter than before means memory still grows.
            if (stall.elapsed() >= kStallSeconds * 750)
                lastHigh[tool] = qMax(lastHigh[tool], rss);
            else
                earlierHigh[tool] = qMax(earlierHigh[tool], rss);
            if (stall.elapsed() >= nextSample * 5000) {
                samples += QStringLiteral(" %1").arg(rss / 1024);
                ++nextSample;
            }
            pump(500);
        }
        nginx.thaw();
        finish(pid, clock, (total + 25) * 1000);
        std::printf("   %s RSS every 5 s of the stall (MB):%s\n", tool == 0 ? "tavi-record" : "ffmpeg     ",
                    qPrintable(samples));
    }
    ratioLine("peak memory while stalled", peak[0] / 1024.0, peak[1] / 1024.0, "MB   ");
    std::printf("   growth of the peak in the last quarter of the stall over the earlier peak:"
                " tavi-record %+.1f MB, ffmpeg %+.1f MB\n",
                (lastHigh[0] - earlierHigh[0]) / 1024.0, (lastHigh[1] - earlierHigh[1]) / 1024.0);
    return true;
}

// tavi-record publishing the 1920x1080 desktop of the headless Wayland
// session, the moving picture there through XWayland. Its CPU seconds per
// second, and the compositor's and portal backend's; negative when the
// session cannot be made.
void waylandCpu(const QString &url, double *ours, double *desktop)
{
    *ours = *desktop = -1;
    const QString figures = QDir::current().absoluteFilePath(QStringLiteral("bench-wayland.txt"));
    QFile::remove(figures);
    // Clock ticks of the session's sway and portal backend (their command lines name its folder).
    const QString desktopTicks =
        QStringLiteral("for p in $(pgrep -f \"$TAVI_WAYLAND_DIR/(sway|portal-wlr).conf\"); do "
                       "awk '{print $14 + $15}' /proc/$p/stat; done | awk '{s += $1} END {print s + 0}'");
    const QString script =
        QStringLiteral("[ -n \"${TAVI_WAYLAND_SKIP:-}\" ] && { echo \"$TAVI_WAYLAND_SKIP\" >&2; exit 1; }; "
                       "echo HEADLESS-1 > \"$TAVI_WAYLAND_CHOICE\"; "
                       "DISPLAY=$TAVI_WAYLAND_X11 '%1' --mover & mover=$!; "
                       "before=$(%2); TIMEFORMAT='%R %U %S'; "
                       "{ time ./tavi-record '%3' --seconds %4 >/dev/null 2>&1; } 2> '%5'; "
                       "echo $before $(%2) $(getconf CLK_TCK) >> '%5'; kill $mover")
            .arg(QCoreApplication::applicationFilePath(), desktopTicks, url, QString::number(kWaylandSeconds), figures);
    QProcess session;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TAVI_WAYLAND_XWAYLAND"), QStringLiteral("1"));
    env.insert(QStringLiteral("TAVI_WAYLAND_SIZE"), QStringLiteral("1920x1080"));
    session.setProcessEnvironment(env);
    session.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    session.start(QStringLiteral(TAVI_WAYLAND_SESSION), {"bash", "-c", script});
    if (!session.waitForFinished((kWaylandSeconds + 60) * 1000) || session.exitCode() != 0)
        return;
    const QList<QByteArray> lines = testsupport::readFile(figures).split('\n');
    const QList<QByteArray> time = lines.value(0).split(' ');
    const QList<QByteArray> ticks = lines.value(1).split(' ');
    const double wall = time.value(0).toDouble();
    if (wall <= 0 || ticks.size() < 3)
        return;
    *ours = (time.value(1).toDouble() + time.value(2).toDouble()) / wall;
    *desktop = (ticks[1].toDouble() - ticks[0].toDouble()) / ticks[2].toDouble() / wall;
}

bool waylandFigure()
{
    std::printf("-- 4. CPU of tavi-record taking the 1920x1080 desktop at 25 fps: Wayland portal + PipeWire"
                " beside x11grab (%d s each)\n",
                kWaylandSeconds);
    testsupport::NginxRtmp nginx;
    if (!nginx.start())
        return false;
    QElapsedTimer clock;
    clock.start();
    const pid_t pid = spawn(taviPublish(nginx.url(QStringLiteral("x11")), kWaylandSeconds));
    if (pid < 0)
        return false;
    const RunResult x11 = finish(pid, clock, (kWaylandSeconds + 20) * 1000);
    double portal = 0, desktop = 0;
    waylandCpu(nginx.url(QStringLiteral("wayland")), &portal, &desktop);
    if (portal < 0) {
        std::printf("   no Wayland session here (see above); x11grab: %.3f cores\n",
                    x11.wallSeconds > 0 ? x11.cpuSeconds / x11.wallSeconds : 0.0);
        return true;
    }
    std::printf("%-40s portal %8.3f cores | x11grab %8.3f cores | ratio %.2f (goal <= 1.2)\n",
                "CPU per second of tavi-record", portal, x11.cpuSeconds / x11.wallSeconds,
                portal / (x11.cpuSeconds / x11.wallSeconds));
    std::printf("   besides, the compositor and the portal backend: %.3f cores (Xvfb's share for x11grab is not"
                " counted either)\n",
                desktop);
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (app.arguments().contains(QStringLiteral("--mover"))) {
        // The moving picture on the Wayland session's desktop (figure 4).
        Mover mover;
        return app.exec();
    }
    if (!QFile::exists(QStringLiteral("./tavi-record"))) {
        std::fprintf(stderr, "run me in the stage folder (tavi-record missing)\n");
        return 1;
    }
    Mover mover;
    pump(300);
    // --only camera: the camera's figure alone (while working on it).
    const int only = app.arguments().indexOf(QStringLiteral("--only"));
    if (only > 0 && app.arguments().value(only + 1) == QLatin1String("camera"))
        return cameraFigure() ? 0 : 1;
    bool ok = cpuFigure();
    ok = syncFigure() && ok;
    ok = memoryFigure() && ok;
    ok = waylandFigure() && ok;
    ok = cameraFigure() && ok;
    return ok ? 0 : 1;
}
