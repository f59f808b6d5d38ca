// tavi-bench-chat [--seconds S]: the chat panel's figures against the demo
// school's chat server, each beside a reference measured in the same run.
//   1. a class of 500: from the join to all 500 participants listed with
//      their pictures; reference: curl fetching the same 500 pictures
//   2. 50 chat lines per second for S s (60) into the talk view: lines
//      shown, the GUI thread's longest delay, memory once the transcript is
//      full; reference: a bare QTextBrowser taking the same lines

#include "benchsupport.h"
#include "chatpeer.h"
#include "demoschool.h"
#include "testsupport.h"

#include "chat/DataReceive.h"
#include "chat/conlistwidget.h"
#include "chat/studentwidget.h"
#include "chat/talkcontent.h"
#include "chat/talkwidget.h"
#include "net/logindlg.h"
#include "net/userinfo.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QJsonArray>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

using namespace bench;

namespace {

bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(200);
    }
    return true;
}

int httpStatus(const QString &url)
{
    QNetworkAccessManager manager;
    QNetworkReply *reply = manager.get(QNetworkRequest(QUrl(url)));
    QSignalSpy done(reply, &QNetworkReply::finished);
    done.wait(10000);
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    delete reply;
    return status;
}

// The GUI thread's delays: a 10 ms timer's lateness.
class LoopProbe
{
public:
    LoopProbe()
    {
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this]() {
            const qint64 now = clock.nsecsElapsed();
            if (last > 0)
                late << std::max<double>(0, (now - last) / 1e6 - 10.0);
            last = now;
        });
    }
    void start()
    {
        late.clear();
        last = 0;
        clock.start();
        timer.start(10);
    }
    void stop() { timer.stop(); }
    double max() const { return late.isEmpty() ? NAN : *std::max_element(late.begin(), late.end()); }
    double p99() const
    {
        if (late.isEmpty())
            return NAN;
        QVector<double> v = late;
        std::sort(v.begin(), v.end());
        return v[std::min<int>(v.size() - 1, int(std::ceil(0.99 * v.size())) - 1)];
    }

private:
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0;
    QVector<double> late;
};

QString lineText(int n)
{
    return QStringLiteral("第 %1 行：这一步我跟上了，请继续讲下一个例子。").arg(n);
}

void classOf500(testsupport::DemoSchool &school)
{
    const QString orderId = QStringLiteral("500");
    if (httpStatus(school.baseUrl() + QStringLiteral("/demo/chat/crowd?orderid=500&count=499")) != 200) {
        line("1. class of 500: the school did not take the crowd");
        return;
    }
    // The pictures' addresses, from a peer's view of the class.
    testsupport::ChatPeer peer;
    if (!peer.signIn(school.baseUrl(), QStringLiteral("tutor")) || !peer.open(school.chatHost())) {
        line("1. class of 500: the peer could not join");
        return;
    }
    peer.join(orderId);
    QStringList pictures;
    peer.waitFor(1, 1, [&](const QJsonObject &content) {
        for (const QJsonValue &user : content.value(QStringLiteral("userInfoList")).toArray()) {
            if (user.toObject().value(QStringLiteral("uid")).toString() != QLatin1String("30001"))
                pictures << user.toObject().value(QStringLiteral("photo")).toString();
        }
        return true;
    });
    peer.leave();
    pictures << UserInfo::instance().photo;
    QStringList curlArgs{QStringLiteral("-s"), QStringLiteral("--fail")};
    for (const QString &url : pictures)
        curlArgs << QStringLiteral("-o") << QStringLiteral("/dev/null") << url;
    // The server draws each picture once: warm it for both sides.
    QProcess::execute(QStringLiteral("curl"), curlArgs);

    StudentWidget panel;
    panel.resize(230, 600);
    panel.show();
    QSignalSpy connected(panel.connection(), SIGNAL(s_connected()));
    panel.startChat();
    if (!connected.wait(5000)) {
        line("1. class of 500: no chat connection");
        return;
    }
    CourseInfo course;
    course.id = orderId;
    QElapsedTimer timer;
    const double cpuBefore = cpuSeconds();
    timer.start();
    panel.joinClass(course);
    const bool listed = waitUntil(
        [&]() { return panel.conListWidget()->participants() >= 500 && panel.conListWidget()->picturesPending() == 0; },
        60000);
    const double ours = timer.nsecsElapsed() / 1e9;
    const double cpu = cpuSeconds() - cpuBefore;
    ConListWidget *list = panel.conListWidget();
    const int entries = list->count();
    const QImage fallback = QIcon(QStringLiteral(":/images/sys/man")).pixmap(20, 20).toImage();
    int withPicture = 0;
    for (int i = 0; i < entries; ++i)
        withPicture += list->item(i)->icon().pixmap(20, 20).toImage() == fallback ? 0 : 1;
    panel.slot_logOutChat();
    // The cache files are written behind the list's back; count them once written.
    waitUntil([]() { return QDir(QStringLiteral("pic")).entryList(QDir::Files).size() >= 500; }, 10000);
    const int cached = QDir(QStringLiteral("pic")).entryList(QDir::Files).size();

    QProcess curl;
    timer.restart();
    curl.start(QStringLiteral("curl"), curlArgs);
    const bool fetched = curl.waitForFinished(60000) && curl.exitCode() == 0;
    const double reference = timer.nsecsElapsed() / 1e9;
    line("1. class of 500, from the join to every participant listed with a picture: tavi %.3f s | reference "
         "(curl, the same %d pictures) %.3f s | ratio %.2f | goal <= 1 s",
         ours, int(pictures.size()), reference, ours / reference);
    line("   (%s: %d entries, %d with their own picture, %d cached%s; the client's CPU time %.3f s)",
         listed ? "listed" : "NOT listed", entries, withPicture, cached, fetched ? "" : "; curl failed", cpu);
}

// Sends lines from a thread of its own, as another user of the class.
class Sender
{
public:
    Sender(testsupport::DemoSchool &school, const QString &orderId, int total)
    {
        context.moveToThread(&worker);
        worker.start();
        QMetaObject::invokeMethod(
            &context,
            [this, &school, orderId, total]() {
                peer = new testsupport::ChatPeer;
                if (!peer->signIn(school.baseUrl(), QStringLiteral("tutor")) || !peer->open(school.chatHost()))
                    return;
                peer->join(orderId);
                auto *timer = new QTimer(peer);
                timer->setTimerType(Qt::PreciseTimer);
                QObject::connect(timer, &QTimer::timeout, peer, [this, timer, total]() {
                    // Its own lines come back to it too: keep nothing, the
                    // measured memory is the panel's.
                    peer->clearReceived();
                    peer->say(lineText(sent.fetchAndAddRelaxed(1)));
                    if (sent.loadRelaxed() >= total)
                        timer->stop();
                });
                timer->start(20);
                ready = true;
            },
            Qt::BlockingQueuedConnection);
    }
    ~Sender()
    {
        QMetaObject::invokeMethod(
            &context,
            [this]() {
                delete peer;
                context.moveToThread(QCoreApplication::instance()->thread());
            },
            Qt::BlockingQueuedConnection);
        worker.quit();
        worker.wait();
    }
    bool ready = false;

private:
    QThread worker;
    QObject context;
    testsupport::ChatPeer *peer = nullptr;
    QAtomicInt sent{0};
};

void linesPerSecond(testsupport::DemoSchool &school, int seconds)
{
    const int total = 50 * seconds;
    const QString orderId = QStringLiteral("502");
    StudentWidget panel;
    panel.resize(230, 600);
    panel.show();
    QSignalSpy connected(panel.connection(), SIGNAL(s_connected()));
    panel.startChat();
    if (!connected.wait(5000)) {
        line("2. lines: no chat connection");
        return;
    }
    CourseInfo course;
    course.id = orderId;
    panel.joinClass(course);
    waitUntil([&]() { return panel.conListWidget()->participants() >= 4; }, 10000);
    TalkContent *talk = panel.talkWidget()->content();

    LoopProbe probe;
    double rssAtLimit = NAN;
    double rssHalfway = NAN;
    const int halfway = (TalkContent::kMaxLines + total) / 2;
    QElapsedTimer wall;
    probe.start();
    wall.start();
    bool done = false;
    {
        Sender sender(school, orderId, total);
        if (!sender.ready) {
            line("2. lines: the sending peer could not join");
            return;
        }
        done = waitUntil(
            [&]() {
                if (std::isnan(rssAtLimit) && talk->appendedLines() >= TalkContent::kMaxLines)
                    rssAtLimit = rssMb();
                if (std::isnan(rssHalfway) && talk->appendedLines() >= halfway)
                    rssHalfway = rssMb();
                return talk->appendedLines() >= total;
            },
            (seconds + 60) * 1000);
    }
    probe.stop();
    const double rssEnd = rssMb();
    const double oursMax = probe.max();
    const double oursP99 = probe.p99();
    const int shown = talk->appendedLines();

    // Reference: the same lines appended straight into a bare browser.
    QTextBrowser bare;
    bare.resize(210, 480);
    bare.show();
    double refAtLimit = NAN;
    int appended = 0;
    QTimer feed;
    feed.setTimerType(Qt::PreciseTimer);
    QObject::connect(&feed, &QTimer::timeout, [&]() {
        bare.append(QStringLiteral("<p>张助教 10:00:00</p><p>%1</p>").arg(lineText(appended)));
        if (++appended == TalkContent::kMaxLines)
            refAtLimit = rssMb();
        if (appended >= total)
            feed.stop();
    });
    probe.start();
    feed.start(20);
    waitUntil([&]() { return appended >= total; }, (seconds + 60) * 1000);
    probe.stop();
    const double refEnd = rssMb();

    line("2a. %d chat lines at 50 per second into the talk view, the GUI thread's longest delay: tavi %.1f ms | "
         "reference (bare QTextBrowser) %.1f ms | ratio %.2f | goal <= 50 ms",
         total, oursMax, probe.max(), oursMax / probe.max());
    line("    (lines shown %d of %d%s; 99th percentile delay tavi %.1f ms, reference %.1f ms)", shown, total,
         done ? "" : ", NOT all", oursP99, probe.p99());
    line("2b. memory from the full transcript (%d lines) to the last line: tavi %+.1f MB (%.1f, halfway %.1f, "
         "end %.1f) | reference %+.1f MB (keeps every line) | goal flat",
         TalkContent::kMaxLines, rssEnd - rssAtLimit, rssAtLimit, rssHalfway, rssEnd, refEnd - refAtLimit);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    int seconds = 60;
    for (int i = 1; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--seconds" && i + 1 < argc)
            seconds = std::max(1, QByteArray(argv[++i]).toInt());
    }
    // Started in the stage folder; works in a scratch folder of its own.
    if (qEnvironmentVariableIsEmpty("TAVI_STAGE_DIR"))
        qputenv("TAVI_STAGE_DIR", QDir::currentPath().toLocal8Bit());
    QTemporaryDir scratch;
    QDir::setCurrent(scratch.path());

    testsupport::DemoSchool school;
    school.setChatHost(testsupport::freeLoopbackHost());
    if (school.chatHost().isEmpty() || !school.start() || !school.writeSysConfig()) {
        line("tavi-bench-chat: the demo school did not start");
        return 1;
    }
    LoginDlg *login = LoginDlg::instance();
    login->findChild<QLineEdit *>(QStringLiteral("userEdit"))->setText(QStringLiteral("student"));
    login->findChild<QLineEdit *>(QStringLiteral("passwordEdit"))->setText(QStringLiteral("123456"));
    // The sign-in answers asynchronously.
    QSignalSpy signedIn(login, &LoginDlg::s_loginSuccess);
    login->login();
    if (!signedIn.wait(15000) || UserInfo::instance().userId.isEmpty()) {
        line("tavi-bench-chat: sign-in failed");
        return 1;
    }
    classOf500(school);
    linesPerSecond(school, seconds);
    return 0;
}
