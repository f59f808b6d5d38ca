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

void sendMouse(QWidget *widget, QEvent::Type type, const QPoint &global, Qt::MouseButton button,
               Qt::MouseButtons buttons)
{
    QMouseEvent event(type, widget->mapFromGlobal(global), global, button, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
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
    void olderReplyFormSignsIn();
    void signedInUserGetsTodaysCourses_data();
    void signedInUserGetsTodaysCourses();
    void draggingMovesDialog();

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

void TestLogin::olderReplyFormSignsIn()
{
    QSignalSpy success(dialog, SIGNAL(s_loginSuccess()));
    fill(QStringLiteral("legacy"), QStringLiteral("123456"));
    clickLogin();
    QCOMPARE(success.count(), 1); // "status": "200" as text
    QCOMPARE(UserInfo::instance().userId, QStringLiteral("1.23457e+06"));
    QVERIFY(UserInfo::instance().real_name.isEmpty());
}

void TestLogin::signedInUserGetsTodaysCourses_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("listType"); // 0: refused
    QTest::newRow("student") << "student" << "/student/courseall/todaycourse?type=student" << 2;
    QTest::newRow("student, teacher list") << "student" << "/teacher/courseall/todaycourse?type=teacher" << 0;
    QTest::newRow("teacher") << "teacher" << "/teacher/courseall/todaycourse?type=teacher" << 1;
    QTest::newRow("tutor, teacher list") << "tutor" << "/teacher/courseall/todaycourse?type=teacher" << 1;
    QTest::newRow("tutor, student list") << "tutor" << "/teacher/courseall/todaycourse?type=student" << 2;
}

void TestLogin::signedInUserGetsTodaysCourses()
{
    QFETCH(QString, user);
    QFETCH(QString, path);
    QFETCH(int, listType);
    if (courses.port() == 0)
        QVERIFY(courses.start("rtmp://127.0.0.1:19350/live"));
    QVERIFY(courses.writeSysConfig());
    fill(user, QStringLiteral("123456"));
    clickLogin();
    QCOMPARE(UserInfo::instance().userName, user);

    QByteArray body;
    const QString type = path.section('=', 1);
    auto *http = new TaviHttp(path, {{"type", type}}, 80, true);
    http->setCallback([&body](bool, QByteArray b) { body = b; });
    http->get();
    http->deleteLater();
    const QJsonObject reply = parseJsonObject(body);
    if (listType == 0) {
        QVERIFY(jsonStringValue(reply, "status") != "200");
        return;
    }
    QCOMPARE(jsonStringValue(reply, "status"), QString("200"));
    const QJsonArray list = jsonArrayValue(reply, "list");
    QCOMPARE(list.size(), 3);
    const QDateTime now = QDateTime::currentDateTime();
    bool enterable = false;
    for (const QJsonValue &value : list) {
        const QJsonObject course = value.toObject();
        const QString id = jsonStringValue(course, listType == 1 ? "bid" : "id");
        QVERIFY(!jsonStringValue(course, listType == 1 ? "cs_name" : "name").isEmpty());
        const QString stream = "rtmp://127.0.0.1:19350/live/course" + id;
        // The teacher publishes the class, the student plays it.
        QCOMPARE(jsonStringValue(course, listType == 1 ? "rtmp" : "rtmplat"), stream);
        QCOMPARE(jsonStringValue(course, listType == 1 ? "rtmplat" : "rtmp"), stream + "_talk");
        const QDateTime start = QDateTime::fromString(jsonStringValue(course, "appointment_time").left(16),
                                                      "yyyy-MM-dd hh:mm");
        QVERIFY(start.isValid());
        QVERIFY(qAbs(now.secsTo(start)) < 3 * 3600);
        enterable = enterable || now.secsTo(start) <= 1800;
    }
    QVERIFY(enterable);
}

void TestLogin::draggingMovesDialog()
{
    dialog->move(100, 100);
    QTRY_COMPARE(dialog->pos(), QPoint(100, 100));
    const QPoint start = dialog->mapToGlobal(QPoint(200, 90)); // below the header
    sendMouse(dialog, QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
    sendMouse(dialog, QEvent::MouseMove, start + QPoint(15, 10), Qt::NoButton, Qt::LeftButton);
    sendMouse(dialog, QEvent::MouseMove, start + QPoint(40, 25), Qt::NoButton, Qt::LeftButton);
    sendMouse(dialog, QEvent::MouseButtonRelease, start + QPoint(40, 25), Qt::LeftButton, Qt::NoButton);
    QTRY_COMPARE(dialog->pos(), QPoint(140, 125));
    // Moving without the button held does nothing.
    sendMouse(dialog, QEvent::MouseMove, start + QPoint(90, 90), Qt::NoButton, Qt::NoButton);
    QTest::qWait(50);
    QCOMPARE(dialog->pos(), QPoint(140, 125));
}

QTEST_MAIN(TestLogin)
#include "tst_login.moc"
