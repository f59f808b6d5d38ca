#include "demoschool.h"
#include "signin.h"
#include "testsupport.h"
#include "widgets.h"

#include "net/avatarcache.h"
#include "net/avatarloader.h"
#include "net/bitmaphttp.h"
#include "net/bitmaplabel.h"
#include "net/cookiejar.h"
#include "net/flash.h"
#include "net/picture.h"
#include "net/tavihttp.h"
#include "net/userinfo.h"
#include "ui/iconbtn.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPropertyAnimation>
#include <QSignalSpy>
#include <QtTest>

namespace {

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

// The sign-in dialog and the pictures of users against the demo school, with the Flash notices that the application
// shows the web client's failures in. Each sign-in is waited for until its reply has been handled.
class TestLogin : public QObject
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

    void emptyFieldsTipAndHeights()
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
        QCOMPARE(success.count(), 0);
    }

    void wrongPasswordKeepsUser()
    {
        UserInfo::instance() = UserInfo{};
        UserInfo::instance().userName = QStringLiteral("before");
        QSignalSpy success(dialog, SIGNAL(s_loginSuccess()));
        for (const char *user : {"student", "nobody"}) {
            signIn(QString::fromLatin1(user), QString::fromLatin1(user[0] == 's' ? "wrong" : "123456"));
            QVERIFY(tipShown());
            QCOMPARE(tip(), QStringLiteral("用户名或密码输入错误"));
        }
        QCOMPARE(success.count(), 0);
        QCOMPARE(UserInfo::instance().userName, QStringLiteral("before"));
    }

    void serverDownShowsNotice()
    {
        testsupport::DemoSchool gone;
        QVERIFY(gone.start());
        gone.stop();
        QVERIFY(gone.writeSysConfig());
        dialog->findChild<QLabel *>("tipLabel")->setText(QStringLiteral("unchanged"));
        QSignalSpy success(dialog, SIGNAL(s_loginSuccess()));
        signIn(QStringLiteral("student"), QStringLiteral("123456"));
        QVERIFY(testsupport::takeNotice<Flash>(QStringLiteral("网络请求失败")));
        QCOMPARE(tip(), QStringLiteral("unchanged"));
        QCOMPARE(success.count(), 0);
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

    void studentSignsIn()
    {
        QSignalSpy success(dialog, SIGNAL(s_loginSuccess()));
        signIn(QStringLiteral("student"), QStringLiteral("123456"));
        QCOMPARE(success.count(), 1);
        const UserInfo &user = UserInfo::instance();
        QCOMPARE(QStringList({user.userId, user.userName, user.type, user.real_name, user.photo}),
                 QStringList({"10001", "student", "1", "王小明", school.baseUrl() + "/avatar/10001.png"}));
        QVERIFY(!tipShown());
        // The session cookie is kept for later requests and the chat.
        QCOMPARE(CookieJar::instance()->getCookie("marlo").size(), 32);
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

    // The debug output names the cookies of every request but never shows the session's value, nor the password.
    void secretsStayOutOfDebugOutput()
    {
        static QStringList messages;
        messages.clear();
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &text) { messages << text; });
        const QString password = QStringLiteral("123456");
        signIn(QStringLiteral("teacher"), password);
        // A later request sends the session cookie.
        auto *courses = new TaviHttp(QStringLiteral("/teacher/courseall/todaycourse"),
                                     {{QStringLiteral("type"), QStringLiteral("teacher")}}, 80, true);
        bool answered = false;
        courses->setCallback([&](bool, QByteArray body) { answered = !body.isEmpty(); });
        courses->get();
        delete courses;
        qInstallMessageHandler(previous);

        QCOMPARE(UserInfo::instance().userName, QStringLiteral("teacher"));
        QVERIFY(answered);
        const QString session = CookieJar::instance()->getCookie("marlo");
        QCOMPARE(session.size(), 32);
        const QString all = messages.join('\n');
        QVERIFY2(all.contains(QStringLiteral("marlo")), qPrintable(all));
        QVERIFY2(!all.contains(session), qPrintable(all));
        QVERIFY2(!all.contains(password), qPrintable(all));
    }

    void labelFallsBackOnBadAnswers_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("missing picture") << "/avatar/99999.png";
        QTest::newRow("not a picture") << "/";
        QTest::newRow("server error") << "/demo/status?code=500";
    }
    void labelFallsBackOnBadAnswers()
    {
        QFETCH(QString, path);
        BitmapLabel label(QString(), 20, 20);
        label.setBitmap(school.baseUrl() + path);
        QTRY_VERIFY(!label.currentPixmap().isNull());
        QVERIFY(sameImage(label.currentPixmap().toImage(), QPixmap::fromImage(fallback()).toImage()));
        QCOMPARE(testsupport::topLevels<Flash>().size(), 1); // told once
        QVERIFY(testsupport::takeNotice<Flash>(QStringLiteral("网络请求失败")));
    }

    void cacheMissStoresSmallPictureThenNeedsNoNetwork()
    {
        AvatarLoader loader;
        const Got first = fetch(loader, school.baseUrl() + "/avatar/20001.png", "20001");
        QVERIFY(!first.atOnce);
        QCOMPARE(first.image.size(), QSize(20, 20));
        // Written by the loader's own thread: the user's alone.
        QTRY_VERIFY(QFile::exists("./pic/20001.png"));
        QTRY_COMPARE(QImage("./pic/20001.png").size(), QSize(20, 20));
        QCOMPARE(testsupport::fileMode("./pic/20001.png"), 0600);
        QCOMPARE(testsupport::fileMode("./pic"), 0700);
        // Nothing listens here: only the stored file can answer, at once.
        const QString dead = QStringLiteral("http://127.0.0.1:%1/avatar/20001.png").arg(testsupport::freePort());
        AvatarLoader other;
        const Got cached = fetch(other, dead, "20001");
        QVERIFY(cached.atOnce);
        QVERIFY(sameImage(cached.image, first.image));
    }

    void cacheTimeOutAndFailureStoreNothing()
    {
        AvatarLoader loader;
        loader.setTimeout(300);
        QElapsedTimer clock;
        clock.start();
        const QString slow = school.baseUrl() + "/demo/slow?ms=20000";
        QVERIFY(sameImage(fetch(loader, slow, "slow").image, fallback()));
        QVERIFY(clock.elapsed() < 10000);
        const QString missing = school.baseUrl() + "/avatar/99999.png";
        QVERIFY(sameImage(fetch(loader, missing, "gone").image, fallback()));
        QVERIFY(sameImage(fetch(loader, school.baseUrl() + "/", "page").image, fallback()));
        QVERIFY(
            sameImage(fetch(loader, QStringLiteral("http://127.0.0.1:%1/x").arg(testsupport::freePort()), "dead").image,
                      fallback()));
        QCoreApplication::processEvents();
        QVERIFY(filesBelow("pic").isEmpty());

        // An address that failed is not asked again in this run, for any key.
        for (const QString &address : {slow, missing}) {
            const Got again = fetch(loader, address, "again");
            QVERIFY(again.atOnce);
            QVERIFY(sameImage(again.image, fallback()));
        }
        // A failed key is asked again at another address.
        const Got other = fetch(loader, school.baseUrl() + "/avatar/10001.png", "gone");
        QVERIFY(!other.atOnce);
        QCOMPARE(other.image.size(), QSize(20, 20));
        QTRY_VERIFY(QFile::exists("./pic/gone.png"));
    }

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
        // Same key, same file.
        QVERIFY(fetch(loader, QString(), key).atOnce);
    }
};

QTEST_MAIN(TestLogin)
#include "tst_login.moc"
