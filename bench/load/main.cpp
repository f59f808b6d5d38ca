// tavi-bench-load: a class of twenty students on this machine. The
// teacher's tavi-record publishes a 1280x720 desktop (its own Xvfb, with a
// moving picture) through nginx-rtmp; 18 students read the class without
// decoding (tavi-play --no-decode) and 2 play it as the client does.
// Printed: pictures per second and how far behind the live edge each
// student fell, and the teacher's publishing CPU beside publishing alone in
// the same run (the server fans out, so the two should match).
// Runs in the stage folder under the test sound server.
//   --seconds S   length of the class (default 120); publishing alone is
//                 measured for a third of it

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

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int seconds = 120;
    const QStringList args = app.arguments();
    const int at = args.indexOf(QStringLiteral("--seconds"));
    if (at > 0 && at + 1 < args.size())
        seconds = std::max(30, args.at(at + 1).toInt());
    const int aloneSeconds = std::max(20, seconds / 3);

    TeacherDesktop desktop;
    testsupport::NginxRtmp server;
    if (!desktop.start() || !server.start()) {
        line("load: the teacher's display or nginx-rtmp did not start");
        return 1;
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
    return failed == 0 ? 0 : 1;
}
