// tavi-bench-classroom [--joins N] [--cpu-seconds S] [--memory-seconds S]
// A student's client (the whole client in this process, signed in against the
// demo school) in a live class published to nginx-rtmp, beside the ffmpeg
// tools measured in the same run:
//   1. entering a class: from confirming "确定" to the first class picture
//      painted on the screen, live 720p25 with a 0.5 s GOP, median of N joins;
//      reference: ffmpeg -i URL -frames:v 1 with its default probing
//   2. CPU while a live 1080p25 class shows on a 1280x720 screen area;
//      reference: ffplay in a 1280x720 window
//   3. memory in that class over S seconds (default 600): growth after the
//      first minute; reference: ffplay at the same time
//   4. a teacher's class on the same client: CPU while it publishes the
//      1920x1080 desktop with the live view's preview on the 1280x720
//      screen, beside the same class without the preview (each measured
//      twice, alternating, for S seconds)

#include "benchsupport.h"
#include "demoschool.h"
#include "nginxrtmp.h"
#include "testsupport.h"

#include "app/app.h"
#include "app/contentwidget.h"
#include "app/mainwindow.h"
#include "classroom/playaudiovideoctrl.h"
#include "classroom/screen.h"
#include "course/courselist.h"
#include "course/courselistitem.h"
#include "course/coursewidget.h"
#include "net/logindlg.h"
#include "ui/colorbtn.h"
#include "ui/label.h"
#include "ui/messagebox.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QLineEdit>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unistd.h>

using namespace bench;

namespace {

void ratioLine(const char *what, const char *ours, double a, const char *reference, double b, const char *unit,
               const char *goal)
{
    line("%s: %s %.3f %s | %s %.3f %s | ratio %.2f | goal %s", what, ours, a, unit, reference, b, unit, a / b, goal);
}

class Publisher
{
public:
    ~Publisher() { stop(); }
    bool start(const QString &url, const QString &size)
    {
        stop();
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("ffmpeg"), classPublisherArgs(size, url));
        if (!m_process.waitForStarted(5000))
            return false;
        // Published once ffprobe finds both streams.
        return QTest::qWaitFor(
            [&] { return testsupport::probe(url, 6000).value(QStringLiteral("streams")).toArray().size() == 2; },
            30000);
    }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }

private:
    QProcess m_process;
};

// Notes when the screen paints a class picture: one that the play control
// delivered (not the background), of the given size.
class PaintWatch : public QObject
{
public:
    PaintWatch(Screen *screen) : m_screen(screen)
    {
        screen->installEventFilter(this);
        QObject::connect(screen->playControl(), &playAudioVideoCtrl::sig_GetOneFrame, this,
                         [this](const QImage &image) { m_delivered.insert(image.cacheKey()); });
    }
    void arm(QSize size)
    {
        m_size = size;
        m_paintedAt = -1;
        m_delivered.clear();
        m_timer.start();
    }
    qint64 paintedAtNs() const { return m_paintedAt; }
    int picturesPainted() const { return m_pictures; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != m_screen || event->type() != QEvent::Paint)
            return false;
        const QImage &shown = m_screen->shownImage();
        if (shown.size() != m_size || !m_delivered.contains(shown.cacheKey()))
            return false;
        if (m_paintedAt < 0)
            m_paintedAt = m_timer.nsecsElapsed();
        if (shown.cacheKey() != m_lastKey)
            ++m_pictures;
        m_lastKey = shown.cacheKey();
        m_delivered.remove(shown.cacheKey());
        return false;
    }

private:
    Screen *m_screen;
    QSize m_size;
    QElapsedTimer m_timer;
    QSet<qint64> m_delivered;
    qint64 m_paintedAt = -1;
    qint64 m_lastKey = 0;
    int m_pictures = 0;
};

struct Client
{
    MainWindow *window = nullptr;
    Screen *screen = nullptr;
    CourseList *list = nullptr;

    CourseListItem *entry(const QString &id) const
    {
        for (int i = 0; i < list->count(); ++i)
            if (list->entry(i)->courseInfo().id == id)
                return list->entry(i);
        return nullptr;
    }

    // Asks to enter the class; returns the question's "确定", not yet pressed.
    ColorBtn *ask(const QString &id) const
    {
        CourseListItem *item = entry(id);
        if (!item)
            return nullptr;
        QTest::mouseClick(item->enterButton(), Qt::LeftButton);
        MessageBox *box = item->confirmBox();
        if (!QTest::qWaitForWindowExposed(box))
            return nullptr;
        return box->findChild<ColorBtn *>(QStringLiteral("okBtn"));
    }

    bool end() const
    {
        QTest::mouseClick(screen->endButton(), Qt::LeftButton);
        // On air, [结束] asks first.
        if (screen->endQuestion()->isVisible())
            QTest::mouseClick(screen->endQuestion()->findChild<QWidget *>(QStringLiteral("okBtn")), Qt::LeftButton);
        return QTest::qWaitFor([&] { return screen->playControl()->isIdle(); }, 20000);
    }
};

bool signIn(app &controller, Client *client)
{
    LoginDlg *login = controller.loginDialog();
    login->show();
    if (!QTest::qWaitForWindowExposed(login))
        return false;
    login->findChild<QLineEdit *>(QStringLiteral("userEdit"))->setText(QStringLiteral("student"));
    login->findChild<QLineEdit *>(QStringLiteral("passwordEdit"))->setText(QStringLiteral("123456"));
    QTest::mouseClick(login->findChild<ColorBtn *>(QStringLiteral("loginBtn")), Qt::LeftButton);
    client->window = controller.mainWnd();
    if (!QTest::qWaitFor([&] { return client->window->isVisible(); }, 10000))
        return false;
    client->screen = client->window->contentArea()->screen();
    client->list = client->window->contentArea()->coursePanel()->list();
    // The classroom screen spans 1280x720 beside the two 230-wide panels.
    client->window->setGeometry(0, 0, 1280 + 2 * 230, 720 + 2 * 38);
    if (!QTest::qWaitForWindowExposed(client->window))
        return false;
    return QTest::qWaitFor([&] { return client->list->count() > 0 && client->screen->size() == QSize(1280, 720); },
                           10000);
}

void enterClass(const Client &client, const QString &url, int joins)
{
    Publisher publisher;
    if (!publisher.start(url, QStringLiteral("1280x720"))) {
        line("1. enter a class: the publisher did not start");
        return;
    }
    PaintWatch watch(client.screen);
    QVector<double> ours, reference;
    for (int i = 0; i < joins; ++i) {
        ColorBtn *ok = client.ask(QStringLiteral("102"));
        if (!ok) {
            line("1. enter a class: the question did not come");
            return;
        }
        watch.arm(QSize(1280, 720));
        QTest::mouseClick(ok, Qt::LeftButton);
        (void)QTest::qWaitFor([&] { return watch.paintedAtNs() >= 0; }, 20000);
        ours << (watch.paintedAtNs() >= 0 ? watch.paintedAtNs() / 1e9 : NAN);
        client.end();

        QElapsedTimer timer;
        timer.start();
        QProcess ffmpeg;
        ffmpeg.start(QStringLiteral("ffmpeg"), {"-loglevel", "error", "-i", url, "-frames:v", "1", "-f", "null", "-"});
        const bool done = ffmpeg.waitForFinished(30000) && ffmpeg.exitCode() == 0;
        reference << (done ? timer.nsecsElapsed() / 1e9 : NAN);
    }
    ratioLine("1. enter a class, confirming to first picture painted, live 720p25 0.5 s GOP, median of joins", "tavi",
              median(ours), "ffmpeg -frames:v 1", median(reference), "s", "<= 0.8 s");
    QStringList each;
    for (double s : ours)
        each << QString::number(s, 'f', 3);
    line("   (tavi's joins: %s)", qPrintable(each.join(QLatin1Char(' '))));
}

// CPU of this process (the client) and of ffplay, each alone, showing the
// class for the given time after a few seconds to settle.
void cpu(const Client &client, const QString &url, int seconds)
{
    const qint64 self = QCoreApplication::applicationPid();
    PaintWatch watch(client.screen);
    ColorBtn *ok = client.ask(QStringLiteral("102"));
    if (!ok) {
        line("2. CPU: the question did not come");
        return;
    }
    // The 1080p class comes converted to the screen's 1280x720.
    watch.arm(QSize(1280, 720));
    QTest::mouseClick(ok, Qt::LeftButton);
    QTest::qWait(5000);
    const int before = watch.picturesPainted();
    const double start = cpuSeconds(self);
    QElapsedTimer wall;
    wall.start();
    QTest::qWait(seconds * 1000);
    const double ours = (cpuSeconds(self) - start) / (wall.nsecsElapsed() / 1e9);
    const double shown = (watch.picturesPainted() - before) / (wall.nsecsElapsed() / 1e9);
    client.end();

    QProcess ffplay;
    ffplay.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ffplay.start(QStringLiteral("ffplay"),
                 {"-hide_banner", "-loglevel", "error", "-nostats", "-x", "1280", "-y", "720", "-window_title",
                  "reference", url});
    double reference = NAN;
    if (ffplay.waitForStarted(5000)) {
        QTest::qWait(5000);
        const double refStart = cpuSeconds(ffplay.processId());
        QElapsedTimer refWall;
        refWall.start();
        QTest::qWait(seconds * 1000);
        reference = (cpuSeconds(ffplay.processId()) - refStart) / (refWall.nsecsElapsed() / 1e9);
        ffplay.kill();
        ffplay.waitForFinished(5000);
    }
    ratioLine("2. CPU showing a live 1080p25 class on a 1280x720 screen area", "tavi", ours, "ffplay 1280x720",
              reference, "cores", "ratio <= 1.0");
    line("   (tavi painted %.1f pictures a second; each measured alone for %d s)", shown, seconds);
}

// RSS of this process in class, and of ffplay at the same time, sampled every
// second. RSS moves in steps of a whole picture (8 MB at 1080p) as one more
// or less is alive at the moment of a sample, so growth compares the mean of
// the last stretch with the mean of the stretch after the warm-up.
void memory(const Client &client, const QString &url, int seconds)
{
    const int warmUp = std::min(60, seconds / 3);
    const int stretch = std::max(1, std::min(60, (seconds - warmUp) / 2));
    const qint64 self = QCoreApplication::applicationPid();
    ColorBtn *ok = client.ask(QStringLiteral("102"));
    if (!ok) {
        line("3. memory: the question did not come");
        return;
    }
    QTest::mouseClick(ok, Qt::LeftButton);
    QProcess ffplay;
    ffplay.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ffplay.start(QStringLiteral("ffplay"),
                 {"-hide_banner", "-loglevel", "error", "-nostats", "-x", "1280", "-y", "720", "-window_title",
                  "reference", url});
    ffplay.waitForStarted(5000);
    QVector<double> ourFirst, refFirst, ourLast, refLast;
    double ourPeak = 0, refPeak = 0;
    QElapsedTimer wall;
    wall.start();
    for (int second = 1; second <= seconds; ++second) {
        QTest::qWait(int(qMax<qint64>(0, second * 1000 - wall.elapsed())));
        const double a = rssMb(self);
        const double b = rssMb(ffplay.processId());
        if (second > warmUp && second <= warmUp + stretch) {
            ourFirst << a;
            refFirst << b;
        }
        if (second > seconds - stretch) {
            ourLast << a;
            refLast << b;
        }
        if (second > warmUp) {
            ourPeak = std::max(ourPeak, a);
            refPeak = std::max(refPeak, b);
        }
    }
    ffplay.kill();
    ffplay.waitForFinished(5000);
    client.end();
    char what[200];
    std::snprintf(what, sizeof what,
                  "3. memory in a live 1080p25 class for %d s, growth after the first %d s (mean of the last %d s "
                  "minus mean of the %d s after)",
                  seconds, warmUp, stretch, stretch);
    ratioLine(what, "tavi", mean(ourLast) - mean(ourFirst), "ffplay", mean(refLast) - mean(refFirst), "MB", "<= 5 MB");
    line("   (tavi RSS %.1f -> %.1f MB, peak %.1f MB; ffplay %.1f -> %.1f MB, peak %.1f MB; both at once)",
         mean(ourFirst), mean(ourLast), ourPeak, mean(refFirst), mean(refLast), refPeak);
}

// CPU of this process while it publishes the desktop as a teacher's class,
// with and without the preview on the screen.
void teacherPreview(const Client &client, const QString &url, int seconds)
{
    CourseInfo course;
    course.id = QStringLiteral("bench");
    course.listType = 1;
    course.role = Role::Teacher;
    course.teaching_type = QStringLiteral("3");
    course.rtmp = url;
    playAudioVideoCtrl *ctrl = client.screen->playControl();
    client.screen->slot_doClass(course);
    if (!QTest::qWaitFor([&] { return ctrl->liveState() == playAudioVideoCtrl::Live; }, 20000)) {
        line("4. teacher's preview: the class did not go on air");
        client.end();
        return;
    }
    int previews = 0;
    QObject counter;
    QObject::connect(ctrl, &playAudioVideoCtrl::sig_GetOneFrame, &counter, [&](const QImage &) { ++previews; });
    const QSize screenSize = client.screen->size() * client.screen->devicePixelRatioF();
    double with = 0, without = 0, rate = 0;
    for (int round = 0; round < 4; ++round) {
        const bool preview = round % 2 == 0;
        ctrl->setPreviewSize(preview ? screenSize : QSize());
        QTest::qWait(3000); // settles
        previews = 0;
        const double start = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        QTest::qWait(seconds * 1000);
        const double used = (cpuSeconds() - start) / (wall.nsecsElapsed() / 1e9);
        (preview ? with : without) += used / 2;
        if (preview)
            rate += previews / (wall.nsecsElapsed() / 1e9) / 2;
    }
    client.end();
    line("4. teacher's class, publishing the 1920x1080 desktop: tavi with the live view's preview %.3f cores | "
         "without %.3f cores | preview costs %.3f cores | goal <= 0.05",
         with, without, with - without);
    line("   (%.1f preview pictures a second at %dx%d; each state measured twice for %d s, alternating)", rate,
         screenSize.width(), screenSize.height(), seconds);
}

int intArgument(const QStringList &args, const QString &name, int fallback)
{
    const int at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? std::max(1, args.at(at + 1).toInt()) : fallback;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const int joins = intArgument(args, QStringLiteral("--joins"), 10);
    const int cpuSecondsArg = intArgument(args, QStringLiteral("--cpu-seconds"), 30);
    const int memorySeconds = intArgument(args, QStringLiteral("--memory-seconds"), 600);

    // ./run bench starts benchmarks in the stage folder; the client's
    // settings go to a folder of their own.
    if (qEnvironmentVariableIsEmpty("TAVI_STAGE_DIR"))
        qputenv("TAVI_STAGE_DIR", QDir::currentPath().toLocal8Bit());
    QTemporaryDir work;
    QDir::setCurrent(work.path());

    testsupport::NginxRtmp nginx;
    if (!nginx.start()) {
        line("nginx-rtmp did not start");
        return 1;
    }
    const QString base = nginx.url(QString()).chopped(1);
    testsupport::DemoSchool school;
    if (!school.start(base) || !school.writeSysConfig()) {
        line("the demo school did not start");
        return 1;
    }
    QApplication::setQuitOnLastWindowClosed(false);
    app controller;
    Client client;
    if (!signIn(controller, &client)) {
        line("signing in as student did not work");
        return 1;
    }
    const QString url = base + QStringLiteral("/course102");
    enterClass(client, url, joins);

    Publisher publisher;
    if (!publisher.start(url, QStringLiteral("1920x1080"))) {
        line("the 1080p publisher did not start");
        return 1;
    }
    cpu(client, url, cpuSecondsArg);
    publisher.stop();
    teacherPreview(client, base + QStringLiteral("/bench_teacher"), cpuSecondsArg);
    if (!publisher.start(url, QStringLiteral("1920x1080"))) {
        line("the 1080p publisher did not start again");
        return 1;
    }
    memory(client, url, memorySeconds);
    return 0;
}
