#include "chatpeer.h"
#include "demoschool.h"
#include "testsupport.h"
#include "widgets.h"

#include "chat/DataReceive.h"
#include "chat/conlistwidget.h"
#include "chat/studentwidget.h"
#include "chat/talkwidget.h"
#include "net/flash.h"
#include "net/logindlg.h"
#include "net/userinfo.h"
#include "ui/textbtn.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QTextEdit>
#include <QtTest>

using testsupport::ChatPeer;

namespace {

bool hasUid(const QJsonObject &content, const QString &uid)
{
    for (const QJsonValue &user : content.value(QStringLiteral("userInfoList")).toArray()) {
        if (user.toObject().value(QStringLiteral("uid")).toString() == uid)
            return true;
    }
    return false;
}

} // namespace

// The chat panel of a signed-in student against the demo school's chat
// server going away and coming back, seen by a second user (the tutor).
// (A whole class's chat runs end to end in tests/e2e.)
class TestPanel : public QObject
{
    Q_OBJECT

    testsupport::DemoSchool school;
    StudentWidget *panel = nullptr;

    QString count() const { return panel->tabButton(1)->text2(); }
    void enterClass()
    {
        CourseInfo course;
        course.id = QStringLiteral("101");
        course.listType = 2;
        panel->joinClass(course);
    }

private slots:
    void initTestCase()
    {
        school.setChatHost(testsupport::freeLoopbackHost());
        QVERIFY(!school.chatHost().isEmpty());
        QVERIFY(school.start());
        QVERIFY(school.writeSysConfig());

        LoginDlg *login = LoginDlg::instance();
        login->findChild<QLineEdit *>(QStringLiteral("userEdit"))->setText(QStringLiteral("student"));
        login->findChild<QLineEdit *>(QStringLiteral("passwordEdit"))->setText(QStringLiteral("123456"));
        login->login();
        QTRY_COMPARE(UserInfo::instance().userId, QStringLiteral("10001"));

        panel = new StudentWidget;
        panel->resize(230, 600);
        panel->show();
        QVERIFY(QTest::qWaitForWindowExposed(panel));
        QSignalSpy connected(panel->connection(), SIGNAL(s_connected()));
        panel->startChat();
        QVERIFY(connected.wait(5000));
    }

    void cleanupTestCase() { delete panel; }

    // The school goes away and comes back on the same address: the chat
    // returns by itself, says who the student is and rejoins the class.
    void comesBackAfterRestart()
    {
        enterClass();
        QTRY_COMPARE(count(), QStringLiteral("(4)"));
        QSignalSpy connected(panel->connection(), SIGNAL(s_connected()));
        QSignalSpy sums(panel->conListWidget(), SIGNAL(s_studentSum(int)));
        school.stop();
        QTRY_VERIFY(!panel->connection()->connectedNow());

        // A line typed meanwhile stays in the box, and the user is told.
        panel->talkWidget()->input()->setPlainText(QStringLiteral("还在吗"));
        QTest::mouseClick(panel->talkWidget()->sendButton(), Qt::LeftButton);
        QCOMPARE(panel->talkWidget()->input()->toPlainText(), QStringLiteral("还在吗"));
        QVERIFY(testsupport::takeNotice<Flash>(QStringLiteral("聊天未连接")));

        QVERIFY(school.start());
        QVERIFY(connected.wait(8000));
        // The list is taken anew: emptied, then filled from the server.
        QTRY_VERIFY(!sums.isEmpty() && sums.last().at(0).toInt() == 4);
        QCOMPARE(sums.first().at(0).toInt(), 0);
        QCOMPARE(count(), QStringLiteral("(4)"));

        ChatPeer tutor;
        QVERIFY(tutor.signIn(school.baseUrl(), QStringLiteral("tutor")));
        QVERIFY(tutor.open(school.chatHost()));
        tutor.join(QStringLiteral("101"));
        QVERIFY(tutor.waitFor(1, 1, [](const QJsonObject &c) { return hasUid(c, QStringLiteral("10001")); }));

        QTest::mouseClick(panel->talkWidget()->sendButton(), Qt::LeftButton);
        QVERIFY(tutor.waitFor(1, 4, [](const QJsonObject &c) {
            return c.value("info").toString() == QStringLiteral("还在吗") && c.value("user_id").toString() == "10001";
        }));
    }
};

QTEST_MAIN(TestPanel)
#include "tst_panel.moc"
