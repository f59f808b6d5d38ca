// The web client alone, without a window: what a failure tells the user reaches the failure handler.
#include "demoschool.h"
#include "testsupport.h"

#include "net/cookiejar.h"
#include "net/jsonhelpers.h"
#include "net/tavihttp.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QTcpServer>
#include <QtTest>

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
};

QTEST_MAIN(TestHttp)
#include "tst_http.moc"
