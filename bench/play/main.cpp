// tavi-bench-play: the four playback figures, each beside the same figure
// for the reference tool measured in the same run, and their ratio.
//   1. time to the first picture of a live 1280x720 class (median of 10 joins)
//   2. decoding + RGB conversion of a 30 s 1080p file, unpaced
//   3. audio-to-picture offset while a file plays in real time
//   4. peak memory while a 1080p live class plays for 60 s

#include "benchsupport.h"
#include "nginxrtmp.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>

using namespace bench;

namespace {

QString taviPlay()
{
    // Beside tavi in the installation, like tavi-record.
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../../stage/tavi-play");
}

// Runs a program to its end; wall seconds, output in *out.
double timed(const QString &program, const QStringList &args, QByteArray *out = nullptr, int timeoutMs = 120000)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer timer;
    timer.start();
    process.start(program, args);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(3000);
        return NAN;
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (out)
        *out = process.readAll();
    return process.exitCode() == 0 ? seconds : NAN;
}

bool waitPublished(const QString &url)
{
    for (int i = 0; i < 40; ++i) {
        if (testsupport::probe(url, 10000).value(QStringLiteral("streams")).toArray().size() == 2)
            return true;
        QThread::msleep(250);
    }
    return false;
}

void ratioLine(const char *what, double ours, double reference, const char *unit, const char *goal)
{
    line("%s: tavi-play %.3f %s | reference %.3f %s | ratio %.2f | goal %s", what, ours, unit, reference, unit,
         ours / reference, goal);
}

void firstPicture(testsupport::NginxRtmp &server)
{
    const QString url = server.url(QStringLiteral("bench720"));
    QProcess publisher;
    publisher.start(QStringLiteral("ffmpeg"), classPublisherArgs(QStringLiteral("1280x720"), url));
    if (!publisher.waitForStarted(5000) || !waitPublished(url)) {
        line("first picture: publisher did not start");
        return;
    }
    QVector<double> ours, oursWall, reference;
    for (int i = 0; i < 10; ++i) {
        QByteArray out;
        const double wall = timed(taviPlay(), {url, "--frames", "1", "--stats"}, &out, 30000);
        ours << statValue(out, "first picture");
        oursWall << wall;
        reference << timed(QStringLiteral("ffmpeg"),
                           {"-loglevel", "error", "-i", url, "-frames:v", "1", "-f", "null", "-"}, nullptr, 30000);
    }
    publisher.kill();
    publisher.waitForFinished(3000);
    ratioLine("1. first picture of a live 720p class, median of 10 joins", median(ours), median(reference), "s",
              "<= 0.6 s");
    line("   (tavi-play process wall time, start to exit, which includes closing the sound device: median %.3f s; "
         "reference is ffmpeg's wall time with "
         "default probing)",
         median(oursWall));
}

void decodeSpeed(const QString &dir)
{
    const QString file = dir + QStringLiteral("/bench1080.mp4");
    if (!testsupport::makeMedia(file, testClipArgs(QStringLiteral("1920x1080"), 30), 600000)) {
        line("decode: could not make the 1080p file");
        return;
    }
    const double reference = timed(QStringLiteral("ffmpeg"),
                                   {"-loglevel", "error", "-i", file, "-an", "-pix_fmt", "bgra", "-f", "null", "-"});
    QByteArray out;
    const double ours = timed(taviPlay(), {file, "--no-sync", "--stats"}, &out);
    ratioLine("2. decode + RGB32 of a 30 s 1080p H.264 file (--no-sync)", ours, reference, "s", "ratio <= 1.15");
    line("   (pictures received: %d of 750)", int(statValue(out, "pictures")));
}

void avOffset(const QString &dir)
{
    const QString file = dir + QStringLiteral("/bench360.mp4");
    if (!testsupport::makeMedia(file, testClipArgs(QStringLiteral("640x360"), 15))) {
        line("offset: could not make the file");
        return;
    }
    QByteArray out;
    timed(taviPlay(), {file, "--stats"}, &out, 60000);
    const double ourMean = statValue(out, "offset mean");
    const double ourP95 = statValue(out, "offset p95");
    // ffplay's own A-V figure from its status line, on the same display
    // and sound server.
    QByteArray ref;
    QProcess ffplay;
    ffplay.setProcessChannelMode(QProcess::MergedChannels);
    ffplay.start(QStringLiteral("ffplay"), {"-autoexit", "-stats", "-loglevel", "info", file});
    QVector<double> refOffsets;
    if (ffplay.waitForStarted(5000) && ffplay.waitForFinished(60000)) {
        const QString text = QString::fromUtf8(ffplay.readAll());
        const QRegularExpression re(QStringLiteral("A-V:\\s*(-?[0-9.]+)"));
        auto it = re.globalMatch(text);
        while (it.hasNext())
            refOffsets << std::fabs(it.next().captured(1).toDouble()) * 1000.0;
    } else {
        ffplay.kill();
        ffplay.waitForFinished(3000);
    }
    ratioLine("3a. audio-to-picture offset while a file plays, mean", ourMean, mean(refOffsets), "ms", "<= 15 ms");
    ratioLine("3b. audio-to-picture offset, 95th percentile", ourP95, percentile(refOffsets, 0.95), "ms", "<= 40 ms");
    line("   (reference: ffplay's A-V status figure, %d samples)", int(refOffsets.size()));
}

qint64 rssKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &l : status.readAll().split('\n'))
        if (l.startsWith("VmRSS:"))
            return l.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

void memory(testsupport::NginxRtmp &server)
{
    const QString url = server.url(QStringLiteral("bench1080"));
    QProcess publisher;
    publisher.start(QStringLiteral("ffmpeg"), classPublisherArgs(QStringLiteral("1920x1080"), url));
    if (!publisher.waitForStarted(5000) || !waitPublished(url)) {
        line("memory: publisher did not start");
        return;
    }
    QProcess ours, reference;
    ours.start(taviPlay(), {url, "--seconds", "60"});
    reference.start(QStringLiteral("ffmpeg"),
                    {"-loglevel", "error", "-i", url, "-t", "60", "-pix_fmt", "bgra", "-f", "null", "-"});
    ours.waitForStarted(5000);
    reference.waitForStarted(5000);
    QElapsedTimer timer;
    timer.start();
    qint64 ourPeak = 0, refPeak = 0, ourAt10 = 0, refAt10 = 0, ourPeakAfter10 = 0, refPeakAfter10 = 0;
    while (timer.elapsed() < 62000 &&
           (ours.state() != QProcess::NotRunning || reference.state() != QProcess::NotRunning)) {
        const qint64 a = rssKb(ours.processId());
        const qint64 b = rssKb(reference.processId());
        ourPeak = std::max(ourPeak, a);
        refPeak = std::max(refPeak, b);
        if (timer.elapsed() >= 10000) {
            if (ourAt10 == 0) {
                ourAt10 = a;
                refAt10 = b;
            }
            ourPeakAfter10 = std::max(ourPeakAfter10, a);
            refPeakAfter10 = std::max(refPeakAfter10, b);
        }
        QThread::msleep(250);
    }
    ours.waitForFinished(10000);
    reference.waitForFinished(10000);
    publisher.kill();
    publisher.waitForFinished(3000);
    ratioLine("4a. peak memory (RSS) while a 1080p live class plays 60 s", ourPeak / 1024.0, refPeak / 1024.0, "MB",
              "<= 150 MB");
    ratioLine("4b. growth after the first 10 s (peak minus RSS at 10 s)", (ourPeakAfter10 - ourAt10) / 1024.0,
              (refPeakAfter10 - refAt10) / 1024.0, "MB", "flat");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (!QFile::exists(taviPlay())) {
        line("tavi-play not found at %s", qPrintable(taviPlay()));
        return 1;
    }
    QTemporaryDir dir;
    testsupport::NginxRtmp server;
    if (!server.start()) {
        line("nginx-rtmp did not start");
        return 1;
    }
    firstPicture(server);
    decodeSpeed(dir.path());
    avOffset(dir.path());
    memory(server);
    return 0;
}
