// The web client against the demo school: what a failure tells the user reaches the Flash notices that the
// application shows; the sign-in dialog (each sign-in waited for until its reply has been handled), the pictures of users
// and their cache. And the demo school itself: every role's classes, and the demo lessons it publishes through
// nginx-rtmp's notify callbacks.
#include "demoschool.h"
#include "nginxrtmp.h"
#include "publisher.h"
#include "signin.h"
#include "testsupport.h"
#include "widgets.h"

#include "net/avatarcache.h"
#include "net/avatarloader.h"
#include "net/bitmaphttp.h"
#include "net/bitmaplabel.h"
#include "net/cookiejar.h"
#include "net/flash.h"
#include "net/jsonhelpers.h"
#include "net/picture.h"
#include "net/tavihttp.h"
#include "net/userinfo.h"
#include "ui/iconbtn.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPropertyAnimation>
#include <QSignalSpy>
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
Outcome get(const QString &path, const QMap<QString, QString> &params = {}, int timeoutMs = 0)
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

// Every file below dir, relative to it.
QStringList filesBelow(const QString &dir)
{
    QStringList files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(dir).relativeFilePath(it.next());
    files.sort();
    return files;
}

// A picture of the loader, waited for: the image and whether it came
// at once (from the cache, or refused without a request).
struct Got
{
    QImage image;
    bool atOnce = false;
};
Got fetch(AvatarLoader &loader, const QString &address, const QString &key)
{
    QSignalSpy spy(&loader, &AvatarLoader::picture);
    loader.request(address, key);
    Got got;
    got.atOnce = !spy.isEmpty();
    if (spy.isEmpty() && !spy.wait(10000))
        return got;
    got.image = spy.first().at(1).value<QImage>();
    return got;
}
QImage fallback()
{
    return tavi::readPictureFile(tavi::kFallbackPicture, QSize(20, 20));
}

} // namespace

using testsupport::sameImage;

class TestNet : public QObject
{
    Q_OBJECT

    testsupport::DemoSchool school;
    LoginDlg *dialog = nullptr;

    void signIn(const QString &user, const QString &password) { QVERIFY(testsupport::signIn(dialog, user, password)); }
    QString tip() const { return dialog->findChild<QLabel *>("tipLabel")->text(); }
    bool tipShown() const { return dialog->findChild<QWidget *>("tipBar")->isVisible(); }

private slots:
    void initTestCase()
    {
        QVERIFY(school.start() && school.writeSysConfig());
        installFlashNotices();
        dialog = LoginDlg::instance();
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        QCOMPARE(dialog->height(), 256);
        QVERIFY(!tipShown());
    }

    void init()
    {
        QVERIFY(school.writeSysConfig());
        // The working directory is this test's own scratch folder.
        QDir(QStringLiteral("pic")).removeRecursively();
    }

    // Looked up exactly, sent back, kept by a reply that sets none and replaced by the next one that sets some.
    void cookies()
    {
        CookieJar *jar = CookieJar::instance();
        get("/demo/cookies", {{"set", "marlo=s3cr3t,Marlo=other"}});
        QCOMPARE(jar->getCookies().size(), 2);
        QCOMPARE(jar->getCookie("marlo"), QString("s3cr3t"));
        QCOMPARE(jar->getCookie("Marlo"), QString("other"));
        QVERIFY(jar->getCookie("MARLO").isEmpty());

        const QString sent = jsonStringValue(parseJsonObject(get("/demo/echo").body), "cookie");
        QVERIFY2(sent.contains("marlo=s3cr3t"), qPrintable(sent));
        QCOMPARE(jar->getCookies().size(), 2);

        get("/demo/cookies", {{"set", "C=3"}});
        QCOMPARE(jar->getCookies().size(), 1);
        QCOMPARE(jar->getCookies().first().name(), QByteArray("C"));
        QVERIFY(jar->getCookie("marlo").isEmpty());

        // The store outlives the request objects and their managers.
        auto *http = new TaviHttp("/demo/echo", {}, 80, true);
        http->setCallback([](bool, QByteArray) {});
        http->get();
        delete http;
        QCOMPARE(jar->getCookie("C"), QString("3"));
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
        const Outcome outcome = get("/demo/status", {{"code", code}}, 300);
        QVERIFY(clock.elapsed() < 10000);
        QCOMPARE(outcome.calls, 0);
        QCOMPARE(testsupport::topLevels<Flash>().size(), 1); // told once
        QVERIFY(testsupport::takeNotice<Flash>(QStringLiteral("网络请求失败")));
    }

    // Today's list of each role, by the request the client makes for it: a one-to-one class and a group class to
    // enter, and one counting down.
    void everyRoleHasClassesToEnter_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("list");
        const QString student = QStringLiteral("/student/courseall/todaycourse?type=student");
        const QString teacher = QStringLiteral("/teacher/courseall/todaycourse?type=");
        QTest::newRow("student") << "student" << student;
        QTest::newRow("teacher") << "teacher" << teacher + "teacher";
        QTest::newRow("tutor teaching") << "tutor" << teacher + "teacher";
        QTest::newRow("tutor studying") << "tutor" << teacher + "student";
        QTest::newRow("legacy") << "legacy" << student;
    }
    void everyRoleHasClassesToEnter()
    {
        QFETCH(QString, user);
        QFETCH(QString, list);
        get(QStringLiteral("/ucenter/default/login?username=%1&password=123456").arg(user));
        bool oneToOne = false, group = false, countingDown = false;
        for (const QJsonValue &value : jsonArrayValue(parseJsonObject(get(list).body), QStringLiteral("list"))) {
            const QString time = value.toObject().value(QStringLiteral("appointment_time")).toString().left(16);
            const qint64 minutes =
                QDateTime::currentDateTime().secsTo(QDateTime::fromString(time, QStringLiteral("yyyy-MM-dd hh:mm"))) /
                60;
            const QString type = value.toObject().value(QStringLiteral("teaching_type")).toString();
            oneToOne |= type == QLatin1String("1") && minutes <= 30;
            group |= type == QLatin1String("3") && minutes <= 30;
            countingDown |= minutes > 30;
        }
        QVERIFY(oneToOne && group && countingDown);
    }
    // A school without the flag starts no lesson; one with it does when a class is watched, and makes way for a teacher.
    void demoLessonOnAWatchedClass()
    {
        // Each needs the other's address: nginx first, then the school, then nginx again with the school's.
        testsupport::NginxRtmp nginx;
        nginx.setNotifyUrl(school.baseUrl() + QStringLiteral("/demo/rtmp"));
        QVERIFY(nginx.start());
        const QString base = nginx.url(QString()).chopped(1);
        QVERIFY(shape(base + QStringLiteral("/course102"), 4000).isEmpty());
        QVERIFY(lessonProcesses(school.processId()).isEmpty());
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
        testsupport::Publisher teacher;
        QVERIFY(teacher.start(classUrl));
        QTRY_COMPARE_WITH_TIMEOUT(shape(classUrl), QStringLiteral("aac h264 320x240"), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(lessonProcesses(lessons.processId()).isEmpty(), 10000);

        // The teacher leaves: the lesson is back for the watcher.
        teacher.stop();
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

    // Tips and heights, refusals that keep the user, a school that is down; then the student signs in: the user's fields,
    // the session kept for later requests and the chat, and the debug output names the cookies of every request but never
    // shows the session's value, nor the password.
    void signInDialog()
    {
        QSignalSpy success(dialog, SIGNAL(s_loginSuccess()));
        signIn(QString(), QStringLiteral("123456"));
        QVERIFY(tipShown());
        QCOMPARE(tip(), QStringLiteral("用户名输入错误"));
        QCOMPARE(dialog->height(), 286);
        signIn(QStringLiteral("student"), QString());
        QCOMPARE(tip(), QStringLiteral("密码输入错误"));
        QCOMPARE(dialog->height(), 286);
        // Closing the tip leaves the dialog 10 pixels taller than at start.
        QTest::mouseClick(dialog->findChild<IconBtn *>("tipCloseBtn"), Qt::LeftButton);
        QVERIFY(!tipShown());
        QCOMPARE(dialog->height(), 266);

        UserInfo::instance() = UserInfo{};
        UserInfo::instance().userName = QStringLiteral("before");
        for (const char *user : {"student", "nobody"}) {
            signIn(QString::fromLatin1(user), QString::fromLatin1(user[0] == 's' ? "wrong" : "123456"));
            QVERIFY(tipShown());
            QCOMPARE(tip(), QStringLiteral("用户名或密码输入错误"));
        }
        QCOMPARE(UserInfo::instance().userName, QStringLiteral("before"));

        testsupport::DemoSchool gone;
        QVERIFY(gone.start());
        gone.stop();
        QVERIFY(gone.writeSysConfig());
        dialog->findChild<QLabel *>("tipLabel")->setText(QStringLiteral("unchanged"));
        signIn(QStringLiteral("student"), QStringLiteral("123456"));
        QVERIFY(testsupport::takeNotice<Flash>(QStringLiteral("网络请求失败")));
        QCOMPARE(tip(), QStringLiteral("unchanged"));
        QCOMPARE(success.count(), 0);

        QVERIFY(school.writeSysConfig());
        static QStringList messages;
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &text) { messages << text; });
        const QString password = QStringLiteral("123456");
        signIn(QStringLiteral("student"), password);
        // A later request sends the session cookie.
        const bool answered =
            !get(QStringLiteral("/student/courseall/todaycourse"), {{"type", "student"}}).body.isEmpty();
        qInstallMessageHandler(previous);
        QCOMPARE(success.count(), 1);
        const UserInfo &user = UserInfo::instance();
        QCOMPARE(QStringList({user.userId, user.userName, user.type, user.real_name, user.photo}),
                 QStringList({"10001", "student", "1", "王小明", school.baseUrl() + "/avatar/10001.png"}));
        QVERIFY(!tipShown());
        QVERIFY(answered);
        const QString session = CookieJar::instance()->getCookie("marlo");
        QCOMPARE(session.size(), 32);
        const QString all = messages.join('\n');
        QVERIFY2(all.contains(QStringLiteral("marlo")), qPrintable(all));
        QVERIFY2(!all.contains(session), qPrintable(all));
        QVERIFY2(!all.contains(password), qPrintable(all));
    }

    void noticeFadesAndGoes()
    {
        Flash::notice(QStringLiteral("网络请求失败"));
        const QList<Flash *> shown = testsupport::topLevels<Flash>();
        QCOMPARE(shown.size(), 1);
        QPointer<Flash> flash = shown.first();
        QVERIFY(flash->isVisible());
        // Closing a notice must never end the program (main window in the tray).
        QVERIFY(!flash->testAttribute(Qt::WA_QuitOnClose));

        auto *fade = flash->findChild<QPropertyAnimation *>();
        QVERIFY(fade);
        fade->setCurrentTime(1900);
        QVERIFY(flash->isVisible());
        QVERIFY(flash->windowOpacity() < 1.0);
        fade->setCurrentTime(fade->duration()); // the end: closes and goes away
        QTRY_VERIFY(flash.isNull());
    }

    // Enter signs in from the password field, and from the user name field
    // once a password is there; with none it goes on to the password.
    void enterSignsIn_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("signsIn");
        QTest::newRow("Return in the password") << "passwordEdit" << int(Qt::Key_Return) << "123456" << true;
        QTest::newRow("keypad Enter in the password") << "passwordEdit" << int(Qt::Key_Enter) << "123456" << true;
        QTest::newRow("Return in the user name") << "userEdit" << int(Qt::Key_Return) << "123456" << true;
        QTest::newRow("no password yet") << "userEdit" << int(Qt::Key_Return) << "" << false;
        QTest::newRow("empty password") << "passwordEdit" << int(Qt::Key_Return) << "" << false;
    }
    void enterSignsIn()
    {
        QFETCH(QString, field);
        QFETCH(int, key);
        QFETCH(QString, password);
        QFETCH(bool, signsIn);
        UserInfo::instance() = UserInfo{};
        auto *user = dialog->findChild<QLineEdit *>("userEdit");
        auto *secret = dialog->findChild<QLineEdit *>("passwordEdit");
        user->setText(QStringLiteral("student"));
        secret->setText(password);
        QSignalSpy success(dialog, SIGNAL(s_loginSuccess()));
        QTest::keyClick(dialog->findChild<QLineEdit *>(field), Qt::Key(key));
        QTRY_VERIFY(!dialog->signingIn());
        QCOMPARE(success.count(), signsIn ? 1 : 0);
        QCOMPARE(UserInfo::instance().userName, signsIn ? QStringLiteral("student") : QString());
        if (!signsIn && field == QLatin1String("userEdit")) {
            QCOMPARE(dialog->focusWidget(), secret);
            QVERIFY(!tipShown());
        }
        if (!signsIn && field == QLatin1String("passwordEdit"))
            QCOMPARE(tip(), QStringLiteral("密码输入错误"));
        QVERIFY(dialog->isVisible());
    }

    // A picture that fails shows the fallback: on a label, told once; from the loader, soon (its time limit), stored
    // nowhere, and not asked again in this run for any key, while a failed key is asked again at another address.
    void badPictures_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("label"); // on a label first
        QTest::newRow("missing picture") << school.baseUrl() + "/avatar/99999.png" << true;
        QTest::newRow("not a picture") << school.baseUrl() + "/" << true;
        QTest::newRow("server error") << school.baseUrl() + "/demo/status?code=500" << true;
        QTest::newRow("nobody listens") << QStringLiteral("http://127.0.0.1:%1/x").arg(testsupport::freePort())
                                        << false;
        QTest::newRow("never answers") << school.baseUrl() + "/demo/slow?ms=20000" << false;
    }
    void badPictures()
    {
        QFETCH(QString, address);
        QFETCH(bool, label);
        if (label) {
            BitmapLabel shown(QString(), 20, 20);
            shown.setBitmap(address);
            QTRY_VERIFY(!shown.currentPixmap().isNull());
            QVERIFY(sameImage(shown.currentPixmap().toImage(), QPixmap::fromImage(fallback()).toImage()));
            QCOMPARE(testsupport::topLevels<Flash>().size(), 1); // told once
            QVERIFY(testsupport::takeNotice<Flash>(QStringLiteral("网络请求失败")));
        }
        const QString key = QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_');
        AvatarLoader loader;
        loader.setTimeout(300);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(sameImage(fetch(loader, address, key).image, fallback()));
        QVERIFY(clock.elapsed() < 10000);
        QCoreApplication::processEvents();
        QVERIFY(filesBelow("pic").isEmpty());
        const Got again = fetch(loader, address, "again");
        QVERIFY(again.atOnce);
        QVERIFY(sameImage(again.image, fallback()));
        const Got other = fetch(loader, school.baseUrl() + "/avatar/10001.png", key);
        QVERIFY(!other.atOnce);
        QCOMPARE(other.image.size(), QSize(20, 20));
        QTRY_VERIFY(QFile::exists("./pic/" + key + ".png"));
    }

    // Whatever the key, the picture is stored small in its own file in the cache folder, the user's alone, and
    // answers at once afterwards, also where nothing listens.
    void cacheKeysNeverLeaveTheFolder_data()
    {
        QTest::addColumn<QString>("key");
        QTest::newRow("parent") << "../evil";
        QTest::newRow("deep parent") << "a/../../../evil";
        QTest::newRow("absolute") << "/tmp/tavi-evil";
        QTest::newRow("dot dot") << "..";
        QTest::newRow("dot") << ".";
        QTest::newRow("empty") << "";
        QTest::newRow("backslash") << "..\\..\\evil";
        QTest::newRow("nul") << QString::fromUtf16(u"a\u0000b", 3);
        QTest::newRow("long") << QString(1000, QLatin1Char('x'));
        QTest::newRow("unicode") << "王小明";
    }
    void cacheKeysNeverLeaveTheFolder()
    {
        QFETCH(QString, key);
        const QStringList before = filesBelow(".");
        const QString path = avatarCachePath(key);
        QVERIFY2(path.startsWith("./pic/"), qPrintable(path));
        QVERIFY(!path.mid(6).contains('/'));
        AvatarLoader loader;
        QCOMPARE(fetch(loader, school.baseUrl() + "/avatar/10001.png", key).image.size(), QSize(20, 20));
        QTRY_VERIFY(QFile::exists(path));
        QVERIFY(!QFile::exists("/tmp/tavi-evil.png"));
        QVERIFY(!QFile::exists("../evil.png"));
        // The only new file is the cached one.
        QStringList after = filesBelow(".");
        for (const QString &file : before)
            after.removeOne(file);
        QCOMPARE(after, QStringList{QDir(".").relativeFilePath(path)});
        QTRY_COMPARE(QImage(path).size(), QSize(20, 20)); // written by the loader's own thread
        QCOMPARE(testsupport::fileMode(path), 0600);
        QCOMPARE(testsupport::fileMode("./pic"), 0700);
        AvatarLoader other;
        const Got cached = fetch(other, QStringLiteral("http://127.0.0.1:%1/x.png").arg(testsupport::freePort()), key);
        QVERIFY(cached.atOnce);
        QVERIFY(sameImage(cached.image, fetch(loader, QString(), key).image));
    }
};

QTEST_MAIN(TestNet)
#include "tst_net.moc"
