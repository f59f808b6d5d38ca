#include "demoschool.h"
#include "testsupport.h"

#include "net/cookiejar.h"
#include "net/flash.h"
#include "net/jsonhelpers.h"
#include "net/tavihttp.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QPointer>
#include <QPropertyAnimation>
#include <QTcpServer>
#include <QtTest>

namespace {

// Notices currently open, by text.
QStringList flashTexts()
{
    QStringList texts;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *flash = qobject_cast<Flash *>(widget))
            if (flash->isVisible())
                texts << flash->text();
    }
    return texts;
}

void closeFlashes()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (qobject_cast<Flash *>(widget))
            delete widget;
    }
}

void writeBase(const QString &url)
{
    QDir().mkpath(QStringLiteral("etc"));
    QFile file(QStringLiteral("etc/sysConfigue.ini"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QStringLiteral("[TaviHttp]\nUrl=%1\n").arg(url).toUtf8());
}

struct Outcome
{
    int calls = 0;
    bool ok = false;
    QByteArray body;
};

// A synchronous request; the outcome is complete when this returns.
Outcome fetch(const QString &path, const QMap<QString, QString> &params = {}, int timeoutMs = 0)
{
    Outcome outcome;
    auto *http = new TaviHttp(path, params, 80, true);
    if (timeoutMs > 0)
        http->setTimeout(timeoutMs);
    http->setCallback([&outcome](bool ok, QByteArray body) {
        ++outcome.calls;
        outcome.ok = ok;
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

private slots:
    void initTestCase();
    void cleanup();
    void jsonStringForms();
    void jsonContainers();
    void addressKeepsNamedPort();
    void addressPortsWhenNoneNamed();
    void cookiesReplacedByNextReplySettingSome();
    void cookiesSentBackAndLookedUpExactly();
    void refusedStatusShowsNoticeWithoutCallback_data();
    void refusedStatusShowsNoticeWithoutCallback();
    void refusedConnectionShowsNotice();
    void silentServerTimesOut();
    void noticeFadesAndGoes();

private:
    testsupport::DemoSchool school;
};

void TestHttp::initTestCase()
{
    QVERIFY(school.start());
    writeBase(school.baseUrl());
}

void TestHttp::cleanup()
{
    closeFlashes();
    writeBase(school.baseUrl());
}

void TestHttp::jsonStringForms()
{
    const QJsonObject obj = parseJsonObject(
        R"({"s":"200","n":200,"f":1.5,"big":1234567,"t":true,"b":false,"z":null,"a":[1],"o":{"k":1}})");
    QCOMPARE(jsonStringValue(obj, "s"), QString("200"));
    QCOMPARE(jsonStringValue(obj, "n"), QString("200"));
    QCOMPARE(jsonStringValue(obj, "f"), QString("1.5"));
    QCOMPARE(jsonStringValue(obj, "big"), QString("1.23457e+06"));
    QCOMPARE(jsonStringValue(obj, "t"), QString("true"));
    QCOMPARE(jsonStringValue(obj, "b"), QString("false"));
    QVERIFY(jsonStringValue(obj, "z").isEmpty());
    QVERIFY(jsonStringValue(obj, "a").isEmpty());
    QVERIFY(jsonStringValue(obj, "o").isEmpty());
    QVERIFY(jsonStringValue(obj, "missing").isEmpty());
    QVERIFY(jsonStringValue(obj, "S").isEmpty()); // keys match case-sensitively
}

void TestHttp::jsonContainers()
{
    QVERIFY(parseJsonObject("not json").isEmpty());
    QVERIFY(parseJsonObject("[1,2]").isEmpty());
    QVERIFY(parseJsonObject("").isEmpty());
    QVERIFY(parseJsonObject("{\"a\":").isEmpty());
    const QJsonObject obj = parseJsonObject(R"({"o":{"k":"v"},"a":[1,2],"s":"x"})");
    QCOMPARE(jsonStringValue(jsonObjectValue(obj, "o"), "k"), QString("v"));
    QVERIFY(jsonObjectValue(obj, "a").isEmpty());
    QVERIFY(jsonObjectValue(obj, "none").isEmpty());
    QCOMPARE(jsonArrayValue(obj, "a").size(), 2);
    QVERIFY(jsonArrayValue(obj, "o").isEmpty());
    QVERIFY(jsonArrayValue(obj, "s").isEmpty());
}

void TestHttp::addressKeepsNamedPort()
{
    writeBase("http://school.example:8080");
    TaviHttp http("/x", {}, 80, false);
    QCOMPARE(http.requestUrl().port(), 8080);
    QCOMPARE(http.requestUrl().toString(), QString("http://school.example:8080/x"));
}

void TestHttp::addressPortsWhenNoneNamed()
{
    writeBase("http://school.example");
    TaviHttp plain("/x", {}, 80, false);
    QCOMPARE(plain.requestUrl().port(), 80);
    TaviHttp belowOne("/x", {}, 0, false);
    QCOMPARE(belowOne.requestPort(), 80);
    TaviHttp secure("https://secure.example/y", {}, 80, false);
    QCOMPARE(secure.requestUrl().port(443), 443);
    QCOMPARE(secure.requestPort(), 443);
    TaviHttp securePort("https://secure.example:8443/y", {}, 80, false);
    QCOMPARE(securePort.requestPort(), 8443);
}

void TestHttp::cookiesReplacedByNextReplySettingSome()
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

void TestHttp::cookiesSentBackAndLookedUpExactly()
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

void TestHttp::refusedStatusShowsNoticeWithoutCallback_data()
{
    QTest::addColumn<int>("code");
    QTest::newRow("302") << 302;
    QTest::newRow("404") << 404;
    QTest::newRow("500") << 500;
}

void TestHttp::refusedStatusShowsNoticeWithoutCallback()
{
    QFETCH(int, code);
    const Outcome outcome = fetch("/demo/status", {{"code", QString::number(code)}});
    QCOMPARE(outcome.calls, 0);
    QVERIFY(flashTexts().contains(QStringLiteral("网络请求失败")));
}

void TestHttp::refusedConnectionShowsNotice()
{
    writeBase(QStringLiteral("http://127.0.0.1:%1").arg(testsupport::freePort()));
    const Outcome outcome = fetch("/x");
    QCOMPARE(outcome.calls, 0);
    QVERIFY(flashTexts().contains(QStringLiteral("网络请求失败")));
}

void TestHttp::silentServerTimesOut()
{
    // Accepts the connection and never answers.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    writeBase(QStringLiteral("http://127.0.0.1:%1").arg(silent.serverPort()));
    QElapsedTimer clock;
    clock.start();
    const Outcome outcome = fetch("/never", {}, 300);
    QVERIFY(clock.elapsed() < 10000);
    QCOMPARE(outcome.calls, 0);
    QVERIFY(flashTexts().contains(QStringLiteral("网络请求失败")));
}

void TestHttp::noticeFadesAndGoes()
{
    TaviHttp http("/x", {}, 80, false);
    http.showTip(QStringLiteral("网络请求失败"));
    QPointer<Flash> flash;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *candidate = qobject_cast<Flash *>(widget))
            flash = candidate;
    QVERIFY(flash);
    QVERIFY(flash->isVisible());
    QCOMPARE(flash->size(), QSize(100, 30));
    QVERIFY(flash->windowFlags() & Qt::WindowStaysOnTopHint);
    // Closing a notice must never end the program (main window in the tray).
    QVERIFY(!flash->testAttribute(Qt::WA_QuitOnClose));

    auto *fade = flash->findChild<QPropertyAnimation *>();
    QVERIFY(fade);
    QCOMPARE(fade->propertyName(), QByteArray("windowOpacity"));
    QCOMPARE(fade->duration(), 3800);
    fade->setCurrentTime(1900);
    QVERIFY(flash->isVisible());
    QVERIFY(flash->windowOpacity() < 1.0);
    fade->setCurrentTime(3800); // the end: closes and goes away
    QTRY_VERIFY(flash.isNull());
}

QTEST_MAIN(TestHttp)
#include "tst_http.moc"
