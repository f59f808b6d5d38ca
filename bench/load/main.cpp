// tavi-bench-load: a class of twenty students on this machine. The
// teacher's tavi-record publishes a 1280x720 desktop (its own Xvfb, with a
// moving picture) through nginx-rtmp; 18 students read the class without
// decoding (tavi-play --no-decode) and 2 play it as the client does.
// Printed: pictures per second and how far behind the live edge each
// student fell, and the teacher's publishing CPU beside publishing alone in
// the same run (the server fans out, so the two should match).
// Then a class of 300 across 3 edges: the same teacher publishes to an origin
// that makes the class's low rendition, three nginx-rtmp edges pull it from
// there, 298 students read it without decoding (tavi-play --no-decode
// --readers, 100 to an edge less the players) and 2 play it. Beside it, the
// same 300 on the one server: how far behind the origin's own reader the
// students fall, the teacher's CPU and the servers'.
// Runs in the stage folder under the test sound server.
//   --seconds S   length of the class (default 120); publishing alone is
//                 measured for a third of it
//   --only LIST   "class", "edges" or both (default)

#include "benchsupport.h"
#include "nginxrtmp.h"
#include "peerprocess.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

using namespace bench;

namespace {

constexpr int kReaders = 18;
constexpr int kPlayers = 2;

QString stage()
{
    return QDir::currentPath();
}

// Cores a process uses over the next ms milliseconds.
double coresOver(qint64 pid, int ms)
{
    QElapsedTimer wall;
    const double before = cpuSeconds(pid);
    wall.start();
    QThread::msleep(ms);
    return (cpuSeconds(pid) - before) / (wall.nsecsElapsed() / 1e9);
}

// The teacher's desktop: its own X server with a moving picture on it.
class TeacherDesktop
{
public:
    ~TeacherDesktop()
    {
        for (QProcess *process : {&m_picture, &m_display}) {
            process->kill();
            process->waitForFinished(3000);
        }
    }
    bool start()
    {
        m_display.start(QStringLiteral("Xvfb"),
                        {"-displayfd", "1", "-screen", "0", "1280x720x24", "-nolisten", "tcp", "-noreset"});
        if (!m_display.waitForStarted(5000) || !m_display.waitForReadyRead(10000))
            return false;
        m_name = QStringLiteral(":") + QString::fromLatin1(m_display.readLine().trimmed());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_name);
        m_picture.setProcessEnvironment(env);
        m_picture.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_picture.start(QStringLiteral("ffplay"),
                        {"-loglevel", "error", "-an", "-noborder", "-left", "0", "-top", "0", "-x", "1280", "-y", "720",
                         "-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=25"});
        return m_picture.waitForStarted(5000);
    }
    QString name() const { return m_name; }

private:
    testsupport::PeerProcess m_display;
    testsupport::PeerProcess m_picture;
    QString m_name;
};

std::unique_ptr<testsupport::PeerProcess> startTeacher(const TeacherDesktop &desktop, const QString &url, int seconds)
{
    auto teacher = std::make_unique<testsupport::PeerProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), desktop.name());
    teacher->setProcessEnvironment(env);
    teacher->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    teacher->start(stage() + QStringLiteral("/tavi-record"), {url, "--seconds", QString::number(seconds)});
    if (!teacher->waitForStarted(5000))
        return nullptr;
    return teacher;
}

void finish(QProcess &process)
{
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}

} // namespace

// One arrangement of the class of 300: its students' figures and the CPU of
// the teacher and of the servers.
struct Spread
{
    double rate = NAN; // least pictures per second of any student
    double behind = NAN; // most seconds behind the origin's own reader
    double teacher = NAN; // cores
    double origin = NAN;
    double edges = NAN;
    int failed = 0;
    int originPlayers = -1;
};

// kEdgeStudents students on the servers (one or more), the teacher publishing to origin.
Spread spreadClass(const TeacherDesktop &desktop, testsupport::NginxRtmp &origin,
                   std::vector<std::unique_ptr<testsupport::NginxRtmp>> &edges, int seconds)
{
    constexpr int kStudents = 300;
    Spread f;
    const QString stream = QStringLiteral("bigclass");
    auto teacher = startTeacher(desktop, origin.url(stream), seconds + 30);
    if (!teacher)
        return f;
    QThread::msleep(6000);
    // The origin's own reader: its live edge.
    QProcess reference;
    reference.start(stage() + "/tavi-play",
                    {origin.url(stream), "--no-decode", "--seconds", QString::number(seconds), "--stats"});
    std::vector<std::unique_ptr<QProcess>> groups;
    const int servers = edges.empty() ? 1 : int(edges.size());
    for (int i = 0; i < servers; ++i) {
        const QString url = edges.empty() ? origin.url(stream) : edges[size_t(i)]->url(stream);
        const int readers = kStudents / servers - (i < kPlayers ? 1 : 0);
        auto group = std::make_unique<QProcess>();
        group->start(stage() + "/tavi-play",
                     {url, "--no-decode", "--readers", QString::number(readers), "--seconds", QString::number(seconds),
                      "--stats"});
        groups.push_back(std::move(group));
        if (i < kPlayers) {
            auto player = std::make_unique<QProcess>();
            player->start(stage() + "/tavi-play", {url, "--seconds", QString::number(seconds), "--stats"});
            groups.push_back(std::move(player));
        }
    }
    QThread::msleep(8000);
    QElapsedTimer window;
    window.start();
    const double originBefore = cpuSeconds(origin.processId());
    double edgesBefore = 0;
    for (const auto &edge : edges)
        edgesBefore += cpuSeconds(edge->processId());
    f.teacher = coresOver(teacher->processId(), (seconds - 16) * 1000);
    const double wall = window.nsecsElapsed() / 1e9;
    f.origin = (cpuSeconds(origin.processId()) - originBefore) / wall;
    double edgesAfter = 0;
    for (const auto &edge : edges)
        edgesAfter += cpuSeconds(edge->processId());
    f.edges = edges.empty() ? NAN : (edgesAfter - edgesBefore) / wall;
    f.originPlayers = origin.players();
    finish(reference);
    const double edge = statValue(reference.readAllStandardOutput(), "wall lag least");
    f.rate = 1e9;
    f.behind = 0;
    for (auto &group : groups) {
        finish(*group);
        const QByteArray out = group->readAllStandardOutput();
        const double rate = std::isnan(statValue(out, "pictures per second min"))
            ? statValue(out, "pictures per second")
            : statValue(out, "pictures per second min");
        const double most = statValue(out, "wall lag most");
        const double failed = statValue(out, "readers failed");
        f.failed += group->exitCode() != 0 ? std::max(1, int(std::isnan(failed) ? 1 : failed)) : 0;
        if (!std::isnan(rate))
            f.rate = std::min(f.rate, rate);
        if (!std::isnan(most))
            f.behind = std::max(f.behind, most - edge);
    }
    finish(*teacher);
    return f;
}

void edgesClass(const TeacherDesktop &desktop, int seconds)
{
    line("A class of 300 across 3 edges: tavi-record publishes a 1280x720 desktop to an origin nginx-rtmp that "
         "makes its low rendition; 3 edges pull it; 298 students read it without decoding, 2 play it; beside it "
         "the same 300 on the one server");
    testsupport::NginxRtmp origin;
    origin.setLowRendition(true);
    origin.setStatPage(true);
    if (!origin.start()) {
        line("edges: the origin did not start");
        return;
    }
    std::vector<std::unique_ptr<testsupport::NginxRtmp>> edges, none;
    for (int i = 0; i < 3; ++i) {
        edges.push_back(std::make_unique<testsupport::NginxRtmp>());
        edges.back()->setPull(QStringLiteral("rtmp://127.0.0.1:%1/live").arg(origin.port()));
        if (!edges.back()->start()) {
            line("edges: edge %d did not start", i + 1);
            return;
        }
    }
    const Spread spread = spreadClass(desktop, origin, edges, seconds);
    testsupport::NginxRtmp single;
    single.setStatPage(true);
    if (!single.start()) {
        line("edges: the single server did not start");
        return;
    }
    const Spread one = spreadClass(desktop, single, none, seconds);
    line("3. students (300): least pictures per second: 3 edges %.2f | one server %.2f | goal 25", spread.rate,
         one.rate);
    line("   most behind the origin's own reader: 3 edges %.3f s | one server %.3f s | ratio %.2f | goal <= 1 s",
         spread.behind, one.behind, spread.behind / one.behind);
    line("   students that failed: 3 edges %d | one server %d", spread.failed, one.failed);
    line("4. teacher's publishing CPU: 3 edges %.3f cores | one server %.3f cores | ratio %.2f | goal <= 1.10",
         spread.teacher, one.teacher, spread.teacher / one.teacher);
    line("   the origin's players: %d (3 edges, the low rendition's transcoder and the reference reader; goal 5)",
         spread.originPlayers);
    line("   server CPU: origin %.3f + edges %.3f cores | one server %.3f cores", spread.origin, spread.edges,
         one.origin);
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int seconds = 120;
    const QStringList args = app.arguments();
    const int at = args.indexOf(QStringLiteral("--seconds"));
    if (at > 0 && at + 1 < args.size())
        seconds = std::max(30, args.at(at + 1).toInt());
    const int aloneSeconds = std::max(20, seconds / 3);
    const int only = args.indexOf(QStringLiteral("--only"));
    const QString parts = only > 0 && only + 1 < args.size() ? args.at(only + 1) : QStringLiteral("class,edges");

    TeacherDesktop desktop;
    testsupport::NginxRtmp server;
    if (!desktop.start() || !server.start()) {
        line("load: the teacher's display or nginx-rtmp did not start");
        return 1;
    }
    if (!parts.contains(QLatin1String("class"))) {
        edgesClass(desktop, std::max(40, seconds / 2));
        return 0;
    }
    const QString url = server.url(QStringLiteral("loadclass"));
    line("A class of %d on this machine: tavi-record publishes a 1280x720 desktop through nginx-rtmp; "
         "%d students read it without decoding, %d play it",
         kReaders + kPlayers, kReaders, kPlayers);

    // Publishing alone.
    auto alone = startTeacher(desktop, url, aloneSeconds + 8);
    if (!alone) {
        line("load: tavi-record did not start");
        return 1;
    }
    QThread::msleep(5000);
    const double aloneCores = coresOver(alone->processId(), aloneSeconds * 1000);
    finish(*alone);

    // The same with the class watching.
    auto teacher = startTeacher(desktop, url, seconds + 20);
    QThread::msleep(5000);
    std::vector<std::unique_ptr<QProcess>> students;
    for (int i = 0; i < kReaders + kPlayers; ++i) {
        auto student = std::make_unique<QProcess>();
        QStringList studentArgs{url, "--seconds", QString::number(seconds), "--stats"};
        if (i < kReaders)
            studentArgs << QStringLiteral("--no-decode");
        student->setProcessChannelMode(QProcess::SeparateChannels);
        student->start(stage() + QStringLiteral("/tavi-play"), studentArgs);
        students.push_back(std::move(student));
    }
    QThread::msleep(5000);
    const double nginxBefore = cpuSeconds(server.processId());
    QElapsedTimer window;
    window.start();
    const double classCores = coresOver(teacher->processId(), (seconds - 10) * 1000);
    const double nginxCores = (cpuSeconds(server.processId()) - nginxBefore) / (window.nsecsElapsed() / 1e9);

    QVector<double> readerRates, playerRates, readerBehind, playerBehind;
    int failed = 0;
    for (int i = 0; i < int(students.size()); ++i) {
        QProcess &student = *students[i];
        finish(student);
        const QByteArray out = student.readAllStandardOutput();
        const double rate = statValue(out, "pictures per second");
        const double behind = statValue(out, "behind live edge max");
        if (student.exitCode() != 0 || std::isnan(rate)) {
            ++failed;
            continue;
        }
        (i < kReaders ? readerRates : playerRates) << rate;
        (i < kReaders ? readerBehind : playerBehind) << behind;
    }
    finish(*teacher);

    const auto least = [](const QVector<double> &v) {
        return v.isEmpty() ? NAN : *std::min_element(v.begin(), v.end());
    };
    const auto most = [](const QVector<double> &v) {
        return v.isEmpty() ? NAN : *std::max_element(v.begin(), v.end());
    };
    line("1. students reading (%d): pictures per second min %.2f | behind the live edge max %.3f s",
         int(readerRates.size()), least(readerRates), most(readerBehind));
    line("   students playing (%d): pictures per second min %.2f | behind the live edge max %.3f s",
         int(playerRates.size()), least(playerRates), most(playerBehind));
    line("   goal: every student 25 pictures per second, none more than 1 s behind; students that failed: %d", failed);
    line("2. teacher's publishing CPU: with the class %.3f cores | publishing alone %.3f cores | ratio %.2f | goal <= "
         "1.10",
         classCores, aloneCores, classCores / aloneCores);
    line("   nginx-rtmp fanning out to %d students: %.3f cores", kReaders + kPlayers, nginxCores);
    if (parts.contains(QLatin1String("edges")))
        edgesClass(desktop, std::max(40, seconds / 2));
    return failed == 0 ? 0 : 1;
}
