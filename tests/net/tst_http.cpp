// The web client alone, without a window, against the demo school: what a failure tells the user reaches the failure
// handler. And the demo school itself: every role's classes, and the demo lessons it publishes through nginx-rtmp's
// notify callbacks.
#include "demoschool.h"
#include "nginxrtmp.h"
#include "testsupport.h"

#include "net/cookiejar.h"
#include "net/jsonhelpers.h"
#include "net/tavihttp.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QtTest>

#include <csignal>

namespace {

void writeBase(const QString &url)
{
    QVERIFY(testsupport::writeSysConfig({{QStringLiteral("Url"), url}}));
}

struct Outcome
{
    int calls = 0;
    QByteArray body;
};

// A synchronous request; the outcome is complete when this returns.
Outcome fetch(const QString &path, const QMap<QString, QString> &params = {}, int timeoutMs = 0)
{
    Outcome outcome;
    auto *http = new TaviHttp(path, params, 80, true);
    if (timeoutMs > 0)
        http->setTimeout(timeoutMs);
    http->setCallback([&outcome](bool, QByteArray body) {
        ++outcome.calls;
        outcome.body = body;
    });
    http->get();
    http->deleteLater();
    return outcome;
}

// Today's list of a user by the list type's request, keyed by class id.
QMap<QString, QJsonObject> classes(const QString &user, int listType, const QString &userType)
{
    fetch(QStringLiteral("/ucenter/default/login?username=%1&password=123456").arg(user));
    QString path = QStringLiteral("/student/courseall/todaycourse?type=student");
    if (listType == 1)
        path = QStringLiteral("/teacher/courseall/todaycourse?type=teacher");
    else if (userType == QLatin1String("2"))
        path = QStringLiteral("/teacher/courseall/todaycourse?type=student");
    const QJsonObject reply = parseJsonObject(fetch(path).body);
    QMap<QString, QJsonObject> byId;
    for (const QJsonValue &value : jsonArrayValue(reply, QStringLiteral("list"))) {
        const QJsonObject course = value.toObject();
        byId.insert(jsonStringValue(course, listType == 1 ? QStringLiteral("bid") : QStringLiteral("id")), course);
    }
    return byId;
}

qint64 minutesToStart(const QJsonObject &course)
{
    const QString time = course.value(QStringLiteral("appointment_time")).toString().left(16);
    const QDateTime start = QDateTime::fromString(time, QStringLiteral("yyyy-MM-dd hh:mm"));
    return QDateTime::currentDateTime().secsTo(start) / 60;
}

// "codecs size" of what plays at an address, e.g. "aac h264 1280x720"; empty when nothing does.
QString shape(const QString &url, int timeoutMs = 15000)
{
    QStringList codecs;
    QString size;
    for (const QJsonValue &value : testsupport::probe(url, timeoutMs).value("streams").toArray()) {
        const QJsonObject stream = value.toObject();
        codecs << stream.value("codec_name").toString();
        if (stream.value("codec_type").toString() == QLatin1String("video"))
            size = QStringLiteral("%1x%2").arg(stream.value("width").toInt()).arg(stream.value("height").toInt());
    }
    codecs.sort();
    return (codecs << size).join(' ').trimmed();
}

// Process ids of the school's ffmpeg children.
QList<qint64> lessonProcesses(qint64 school)
{
    QByteArray out;
    testsupport::run(QStringLiteral("pgrep"), {QStringLiteral("-P"), QString::number(school), QStringLiteral("ffmpeg")},
                     5000, &out);
    QList<qint64> pids;
    for (const QByteArray &line : out.split('\n'))
        if (!line.trimmed().isEmpty())
            pids << line.trimmed().toLongLong();
    return pids;
}

} // namespace

class TestHttp : public QObject
{
    Q_OBJECT

    testsupport::DemoSchool school;
    QStringList told;

private slots:
    void initTestCase()
    {
        QVERIFY(school.start());
        writeBase(school.baseUrl());
        TaviHttp::setFailureHandler([this](const QString &text) { told << text; });
    }

    void cleanup()
    {
        told.clear();
        writeBase(school.baseUrl());
    }

    void jsonLooseReading()
    {
        for (const char *bad : {"not json", "[1,2]", "", "{\"a\":"})
            QVERIFY(parseJsonObject(bad).isEmpty());
        const QJsonObject obj =
            parseJsonObject(R"({"s":"200","n":200,"f":1.5,"big":1234567,"t":true,"z":null,"a":[1,2],"o":{"k":"v"}})");
        QCOMPARE(jsonStringValue(obj, "s"), QString("200"));
        QCOMPARE(jsonStringValue(obj, "n"), QString("200"));
        QCOMPARE(jsonStringValue(obj, "f"), QString("1.5"));
        QCOMPARE(jsonStringValue(obj, "big"), QString("1.23457e+06"));
        QCOMPARE(jsonStringValue(obj, "t"), QString("true"));
        for (const char *empty : {"z", "a", "o", "missing", "S"}) // keys match case-sensitively
            QVERIFY(jsonStringValue(obj, empty).isEmpty());
        QCOMPARE(jsonStringValue(jsonObjectValue(obj, "o"), "k"), QString("v"));
        QVERIFY(jsonObjectValue(obj, "a").isEmpty());
        QCOMPARE(jsonArrayValue(obj, "a").size(), 2);
        QVERIFY(jsonArrayValue(obj, "o").isEmpty());
        QVERIFY(jsonArrayValue(obj, "s").isEmpty());
    }

    void addressPorts_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("expected");
        QTest::newRow("named port kept") << "http://school.example:8080" << QStringLiteral("/x") << 80 << 8080;
        QTest::newRow("none named") << "http://school.example" << QStringLiteral("/x") << 80 << 80;
        QTest::newRow("below one") << "http://school.example" << QStringLiteral("/x") << 0 << 80;
        QTest::newRow("https") << "http://school.example" << QStringLiteral("https://secure.example/y") << 80 << 443;
        QTest::newRow("https named") << "http://school.example" << QStringLiteral("https://secure.example:8443/y") << 80
                                     << 8443;
    }
    void addressPorts()
    {
        QFETCH(QString, base);
        QFETCH(QString, path);
        QFETCH(int, port);
        QFETCH(int, expected);
        writeBase(base);
        TaviHttp http(path, {}, port, false);
        QCOMPARE(http.requestPort(), expected);
        QCOMPARE(http.requestUrl().port(expected), expected);
    }

    void cookiesReplacedByNextReplySettingSome()
    {
        fetch("/demo/cookies", {{"set", "A=1,B=2"}});
        QCOMPARE(CookieJar::instance()->getCookies().size(), 2);
        QCOMPARE(CookieJar::instance()->getCookie("A"), QString("1"));
        QCOMPARE(CookieJar::instance()->getCookie("B"), QString("2"));

        fetch("/demo/echo"); // sets nothing: the store stays
        QCOMPARE(CookieJar::instance()->getCookies().size(), 2);

        fetch("/demo/cookies", {{"set", "C=3"}});
        const auto cookies = CookieJar::instance()->getCookies();
        QCOMPARE(cookies.size(), 1);
        QCOMPARE(cookies.first().name(), QByteArray("C"));
        QVERIFY(CookieJar::instance()->getCookie("A").isEmpty());

        // An empty list leaves the store alone.
        CookieJar::instance()->setCookies({});
        QCOMPARE(CookieJar::instance()->getCookies().size(), 1);
    }

    void cookiesSentBackAndLookedUpExactly()
    {
        fetch("/demo/cookies", {{"set", "marlo=s3cr3t,Marlo=other"}});
        QCOMPARE(CookieJar::instance()->getCookie("marlo"), QString("s3cr3t"));
        QCOMPARE(CookieJar::instance()->getCookie("Marlo"), QString("other"));
        QVERIFY(CookieJar::instance()->getCookie("MARLO").isEmpty());

        const Outcome echo = fetch("/demo/echo");
        const QString sent = jsonStringValue(parseJsonObject(echo.body), "cookie");
        QVERIFY2(sent.contains("marlo=s3cr3t"), qPrintable(sent));

        // The store outlives the request objects and their managers.
        auto *http = new TaviHttp("/demo/echo", {}, 80, true);
        http->setCallback([](bool, QByteArray) {});
        http->get();
        delete http;
        QCOMPARE(CookieJar::instance()->getCookie("marlo"), QString("s3cr3t"));
    }

    void failureToldWithoutCallback_data()
    {
        QTest::addColumn<QString>("code"); // a refused status, or how the server fails
        for (const char *code : {"302", "404", "500", "refused", "silent"})
            QTest::newRow(code) << code;
    }
    void failureToldWithoutCallback()
    {
        QFETCH(QString, code);
        QTcpServer silent; // accepts the connection and never answers
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        if (code == "refused")
            writeBase(QStringLiteral("http://127.0.0.1:%1").arg(testsupport::freePort()));
        else if (code == "silent")
            writeBase(QStringLiteral("http://127.0.0.1:%1").arg(silent.serverPort()));
        QElapsedTimer clock;
        clock.start();
        const Outcome outcome = fetch("/demo/status", {{"code", code}}, 300);
        QVERIFY(clock.elapsed() < 10000);
        QCOMPARE(outcome.calls, 0);
        QCOMPARE(told, QStringList{QStringLiteral("网络请求失败")});
    }

    void everyRoleHasClassesToEnter_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("userType");
        QTest::addColumn<int>("listType");
        QTest::newRow("student") << "student" << QStringLiteral("1") << 2;
        QTest::newRow("teacher") << "teacher" << QStringLiteral("3") << 1;
        QTest::newRow("tutor teaching") << "tutor" << QStringLiteral("2") << 1;
        QTest::newRow("tutor studying") << "tutor" << QStringLiteral("2") << 2;
        QTest::newRow("legacy") << "legacy" << QStringLiteral("1") << 2;
    }
    void everyRoleHasClassesToEnter()
    {
        QFETCH(QString, user);
        QFETCH(QString, userType);
        QFETCH(int, listType);
        bool oneToOne = false, group = false, countingDown = false;
        for (const QJsonObject &course : classes(user, listType, userType)) {
            const qint64 minutes = minutesToStart(course);
            const QString type = course.value(QStringLiteral("teaching_type")).toString();
            oneToOne |= type == QLatin1String("1") && minutes <= 30;
            group |= type == QLatin1String("3") && minutes <= 30;
            countingDown |= minutes > 30;
        }
        QVERIFY(oneToOne && group && countingDown);
    }
    void demoLessonOnAWatchedClass()
    {
        // Each needs the other's address: nginx first, then the school, then nginx again with the school's.
        testsupport::NginxRtmp nginx;
        QVERIFY(nginx.start());
        const QString base = nginx.url(QString()).chopped(1);
        testsupport::DemoSchool lessons;
        QVERIFY(lessons.start(base, {QStringLiteral("--lessons")}));
        nginx.setNotifyUrl(lessons.baseUrl() + QStringLiteral("/demo/rtmp"));
        QVERIFY(nginx.restart());

        const QString classUrl = base + QStringLiteral("/course102");
        // Watching brings the lesson.
        const QString lesson = QStringLiteral("aac h264 1280x720");
        QCOMPARE(shape(classUrl, 20000), lesson);

        // A teacher takes the class over while someone watches.
        QProcess watcher;
        watcher.start(QStringLiteral("ffmpeg"), {"-nostdin", "-loglevel", "error", "-i", classUrl, "-f", "null", "-"});
        QVERIFY(watcher.waitForStarted(5000));
        QProcess teacher;
        teacher.setProcessChannelMode(QProcess::MergedChannels);
        teacher.start(QStringLiteral("ffmpeg"),
                      QStringLiteral("-nostdin -loglevel error -re -f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi "
                                     "-i sine -c:v libx264 -preset ultrafast -g 12 -pix_fmt yuv420p -c:a aac -f flv")
                              .split(' ')
                          << classUrl);
        QVERIFY(teacher.waitForStarted(5000));
        QTRY_COMPARE_WITH_TIMEOUT(shape(classUrl), QStringLiteral("aac h264 320x240"), 30000);
        QVERIFY2(teacher.state() == QProcess::Running, teacher.readAll().constData());
        QTRY_VERIFY_WITH_TIMEOUT(lessonProcesses(lessons.processId()).isEmpty(), 10000);

        // The teacher leaves: the lesson is back for the watcher.
        teacher.terminate();
        QVERIFY(teacher.waitForFinished(10000));
        QTRY_COMPARE_WITH_TIMEOUT(shape(classUrl), lesson, 30000);

        // A lesson that dies is started again.
        const QList<qint64> running = lessonProcesses(lessons.processId());
        QCOMPARE(running.size(), 1);
        ::kill(pid_t(running.first()), SIGKILL);
        QTRY_VERIFY_WITH_TIMEOUT(
            !lessonProcesses(lessons.processId()).isEmpty() && lessonProcesses(lessons.processId()) != running, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(shape(classUrl), lesson, 30000);

        watcher.kill();
        watcher.waitForFinished(5000);
        // The school ends its lessons with itself.
        const QList<qint64> children = lessonProcesses(lessons.processId());
        QVERIFY(!children.isEmpty());
        lessons.stop();
        for (qint64 lessonPid : children)
            QTRY_VERIFY(::kill(pid_t(lessonPid), 0) != 0);
    }

    void noLessonWithoutTheFlag()
    {
        testsupport::NginxRtmp nginx;
        nginx.setNotifyUrl(school.baseUrl() + QStringLiteral("/demo/rtmp"));
        QVERIFY(nginx.start());
        QVERIFY(shape(nginx.url(QStringLiteral("course102")), 4000).isEmpty());
        QVERIFY(lessonProcesses(school.processId()).isEmpty());
    }
};

QTEST_MAIN(TestHttp)
#include "tst_http.moc"
