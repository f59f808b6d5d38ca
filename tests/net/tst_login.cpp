#include "demoschool.h"
#include "testsupport.h"

#include "net/cookiejar.h"
#include "net/flash.h"
#include "net/jsonhelpers.h"
#include "net/logindlg.h"
#include "net/tavihttp.h"
#include "net/userinfo.h"
#include "ui/colorbtn.h"
#include "ui/iconbtn.h"

#include <QApplication>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QtTest>

namespace {

bool flashShown(const QString &text)
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *flash = qobject_cast<Flash *>(widget))
            if (flash->isVisible() && flash->text() == text)
                return true;
    }
    return false;
}

} // namespace

class TestLogin : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void emptyFieldsTipAndHeights();
    void wrongPasswordKeepsUser();
    void serverDownShowsNotice();
    void studentSignsIn();

private:
    void fill(const QString &user, const QString &password);
    void clickLogin();
    QString tip() const;
    bool tipShown() const;

    testsupport::DemoSchool school;
    testsupport::DemoSchool courses; // streams on a port of its own
    LoginDlg *dialog = nullptr;
};

void TestLogin::initTestCase()
{
    QVERIFY(school.start());
    QVERIFY(school.writeSysConfig());
    dialog = LoginDlg::instance();
    QCOMPARE(LoginDlg::instance(), dialog);
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    QCOMPARE(dialog->height(), 256);
    QVERIFY(!tipShown());
}

void TestLogin::init()
{
    QVERIFY(school.writeSysConfig());
}

void TestLogin::fill(const QString &user, const QString &password)
{
    dialog->findChild<QLineEdit *>("userEdit")->setText(user);
    dialog->findChild<QLineEdit *>("passwordEdit")->setText(password);
}

void TestLogin::clickLogin()
{
    QTest::mouseClick(dialog->findChild<ColorBtn *>("loginBtn"), Qt::LeftButton);
}

QString TestLogin::tip() const
{
    return dialog->findChild<QLabel *>("tipLabel")->text();
}

bool TestLogin::tipShown() const
{
    return dialog->findChild<QWidget *>("tipBar")->isVisible();
}

void TestLogin::emptyFieldsTipAndHeights()
{
    QSignalSpy success(dialog, SIGNAL(s_loginSuccess()));
    fill(QString(), QStringLiteral("123456"));
    clickLogin();
    QVERIFY(tipShown());
    QCOMPARE(tip(), QStringLiteral("用户名输入错误"));
    QCOMPARE(dialog->height(), 286);

    fill(QStringLiteral("student"), QString());
    clickLogin();
    QCOMPARE(tip(), QStringLiteral("密码输入错误"));
    QCOMPARE(dialog->height(), 286);

    // Closing the tip leaves the dialog 10 pixels taller than at start.
    QTest::mouseClick(dialog->findChild<IconBtn *>("tipCloseBtn"), Qt::LeftButton);
    QVERIFY(!tipShown());
    QCOMPARE(dialog->height(), 266);
    QCOMPARE(success.count(), 0);
}

void TestLogin::wrongPasswordKeepsUser()
{
    UserInfo::instance() = UserInfo{};
    UserInfo::instance().userName = QStringLiteral("before");
    QSignalSpy success(dialog, SIGNAL(s_loginSuccess()));
    const int height = dialog->height();
    fill(QStringLiteral("student"), QStringLiteral("wrong"));
    clickLogin();
    // Synchronous: the reply has been handled when the click returns.
    QVERIFY(tipShown());
    QCOMPARE(tip(), QStringLiteral("用户名或密码输入错误"));
    QCOMPARE(dialog->height(), height);
    QCOMPARE(success.count(), 0);
    QCOMPARE(UserInfo::instance().userName, QStringLiteral("before"));

    fill(QStringLiteral("nobody"), QStringLiteral("123456"));
    clickLogin();
    QCOMPARE(tip(), QStringLiteral("用户名或密码输入错误"));
    QCOMPARE(success.count(), 0);
}

void TestLogin::serverDownShowsNotice()
{
    testsupport::DemoSchool gone;
    QVERIFY(gone.start());
    gone.stop();
    QVERIFY(gone.writeSysConfig());
    dialog->findChild<QLabel *>("tipLabel")->setText(QStringLiteral("unchanged"));
    QSignalSpy success(dialog, SIGNAL(s_loginSuccess()));
    fill(QStringLiteral("student"), QStringLiteral("123456"));
    clickLogin();
    QVERIFY(flashShown(QStringLiteral("网络请求失败")));
    QCOMPARE(tip(), QStringLiteral("unchanged"));
    QCOMPARE(success.count(), 0);
}

void TestLogin::studentSignsIn()
{
    QSignalSpy success(dialog, SIGNAL(s_loginSuccess()));
    fill(QStringLiteral("student"), QStringLiteral("123456"));
    clickLogin();
    QCOMPARE(success.count(), 1);
    const UserInfo &user = UserInfo::instance();
    QCOMPARE(user.userId, QStringLiteral("10001"));
    QCOMPARE(user.userName, QStringLiteral("student"));
    QCOMPARE(user.type, QStringLiteral("1"));
    QCOMPARE(user.real_name, QStringLiteral("王小明"));
    QCOMPARE(user.photo, school.baseUrl() + "/avatar/10001.png");
    QVERIFY(!tipShown());
    // The session cookie is kept for later requests and the chat.
    QCOMPARE(CookieJar::instance()->getCookie("marlo").size(), 32);
}

QTEST_MAIN(TestLogin)
#include "tst_login.moc"
