#include "httpserver.h"
#include "logcapture.h"
#include "testsupport.h"

#include "course/courselist.h"
#include "course/courselistitem.h"
#include "course/coursewidget.h"
#include "net/userinfo.h"
#include "ui/colorbtn.h"
#include "ui/messagebox.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QSignalSpy>
#include <QtTest>

namespace {

using testsupport::HttpServer;
const QString kTeacher = QStringLiteral("teacher/courseall/todaycourse?type=teacher");
const QString kTutorStudent = QStringLiteral("teacher/courseall/todaycourse?type=student");
const QString kStudent = QStringLiteral("student/courseall/todaycourse?type=student");

QByteArray json(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString at(const QDateTime &time)
{
    return time.toString(QStringLiteral("yyyy-MM-dd hh:mm"));
}

// A reply of n courses starting now (enterable), named by prefix.
QByteArray reply(int n, int listType, const QString &prefix)
{
    QJsonArray list;
    for (int i = 1; i <= n; ++i)
        list.append(QJsonObject{{"teaching_type", "1"},
                                {"appointment_time", at(QDateTime::currentDateTime())},
                                {listType == 1 ? "cs_name" : "name", QStringLiteral("%1%2").arg(prefix).arg(i)},
                                {listType == 1 ? "bid" : "id", QStringLiteral("%1-%2").arg(prefix).arg(i)}});
    return json({{"status", 200}, {"list", list}});
}

// "seq:name" of every row.
QStringList rows(const CourseList *list)
{
    QStringList seen;
    for (int i = 0; i < list->count(); ++i)
        seen << list->entry(i)->courseInfo().seq + ":" + list->entry(i)->courseInfo().name;
    return seen;
}

// Log messages seen so far: the one sign that a dropped reply came.
testsupport::LogCapture *g_log = nullptr;
// The moment the entry tests count from.
QDateTime g_now;

} // namespace

class TestCourse : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qRegisterMetaType<CourseInfo>("CourseInfo");
        g_log = new testsupport::LogCapture;
    }

    void cleanup()
    {
        CourseListItem::currentTime = &QDateTime::currentDateTime;
        UserInfo::instance().type.clear();
        g_log->clear();
    }

    // What the list makes of a reply: nothing from a failed request, whatever its body, and at most its bound of rows.
    // (Which replies are taken and which of their elements make rows: the course reply fuzz target, for every input.)
    void replyRows()
    {
        QJsonArray many;
        for (int i = 0; i < CourseList::kMaxRowsPerReply + 50; ++i)
            many.append(QJsonObject{{"name", "C"}, {"appointment_time", "2016-05-10 14:00-15:00"}});
        const QByteArray body = json({{"status", 200}, {"list", many}});
        CourseList list;
        list.handleReply(false, body, 2);
        QCOMPARE(list.count(), 0);
        list.handleReply(true, body, 2);
        QCOMPARE(list.count(), CourseList::kMaxRowsPerReply);
    }

    // The entry's starting state and its first tick, counted from a fixed
    // now; the class may be entered 1800 s before its start.
    void entryStates_data()
    {
        QTest::addColumn<QString>("time");
        QTest::addColumn<int>("listType");
        QTest::addColumn<QString>("userType");
        QTest::addColumn<int>("startsIn"); // seconds from now to the start
        QTest::addColumn<QString>("state"); // at construction: countdown, enter, confirm, both
        QTest::addColumn<QString>("afterTick"); // one second later; "unchanged" or a countdown text
        const QDateTime now(QDate(2026, 3, 2), QTime(12, 0, 0));
        const QString soon = at(now.addSecs(3600));
        const auto row = [&](const char *name, int startsIn, const char *state, const QString &afterTick,
                             int listType = 2, const char *userType = "1", const QString &time = QString()) {
            QTest::newRow(name) << (time.isNull() ? soon : time) << listType << userType << startsIn << state
                                << afterTick;
        };
        row("1802 s counts down, the tick at 1801 shows -1", 1802, "countdown", "倒计时:00:00:-1");
        row("hours show their last two digits", 123 * 3600 + 4 * 60 + 5 + 1803, "countdown", "倒计时:23:04:05");
        row("tick at 1800 s: student enters", 1801, "countdown", "enter");
        row("tick at 1800 s: tutor's student list confirms", 1801, "countdown", "confirm", 2, "2");
        row("1800 s enters at once", 1800, "enter", "enter");
        row("teacher list confirms", 1800, "confirm", "confirm", 1, "3");
        row("other list type shows both", 60, "both", "both", 0);
        row("started an hour ago", -3600, "enter", "enter");
        row("end time cut before reading", 600, "enter", "enter", 2, "1", soon + "-13:00");
        row("seconds do not parse", 0, "countdown", "unchanged", 2, "1", now.toString("yyyy-MM-dd hh:mm:ss"));
        row("garbage never enters", 0, "countdown", "unchanged", 2, "1", "soon");
        row("number read as text", 0, "countdown", "unchanged", 2, "1", "2.02603e+07");
    }
    void entryStates()
    {
        QFETCH(QString, time);
        QFETCH(int, listType);
        QFETCH(QString, userType);
        QFETCH(int, startsIn);
        QFETCH(QString, state);
        QFETCH(QString, afterTick);

        const QDateTime start = QDateTime::fromString(CourseListItem::cutAppointmentTime(time), "yyyy-MM-dd hh:mm");
        g_now = start.isValid() ? start.addSecs(-startsIn) : QDateTime(QDate(2026, 3, 2), QTime(12, 0, 0));
        CourseListItem::currentTime = [] { return g_now; };
        UserInfo::instance().type = userType;
        CourseInfo info;
        info.appointment_time = time;
        info.listType = listType;
        info.role = CourseInfo::roleOfList(listType);
        CourseListItem entry(nullptr, info);
        entry.show();

        const auto shown = [&entry]() {
            const bool label = entry.countdownLabel()->isVisible();
            const bool enter = entry.enterButton()->isVisible(), confirm = entry.confirmButton()->isVisible();
            if (entry.isCountingDown())
                return label && !enter && !confirm ? QStringLiteral("countdown")
                                                   : QStringLiteral("countdown with buttons");
            return label           ? QStringLiteral("label")
                : enter && confirm ? QStringLiteral("both")
                : enter            ? QStringLiteral("enter")
                : confirm          ? QStringLiteral("confirm")
                                   : QStringLiteral("none");
        };
        QCOMPARE(shown(), state);
        const QString before = entry.countdownLabel()->text();
        QVERIFY(before.startsWith(QStringLiteral("倒计时 ")));

        // Ticks come only while the entry counts down.
        g_now = g_now.addSecs(1);
        if (entry.isCountingDown())
            entry.displayTimeLabel();
        const bool counting = afterTick == QLatin1String("unchanged") || afterTick.startsWith(QStringLiteral("倒计时"));
        QCOMPARE(shown(), counting ? QStringLiteral("countdown") : afterTick);
        if (counting)
            QCOMPARE(entry.countdownLabel()->text(), afterTick == QLatin1String("unchanged") ? before : afterTick);
    }
    void requestsPerUserType_data()
    {
        QTest::addColumn<QString>("userType");
        QTest::addColumn<QStringList>("requests");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("tutor: teacher list, then student list")
            << "2" << QStringList{kTeacher, kTutorStudent} << QStringList{"1:T1", "2:T2", "1:S1"};
        QTest::newRow("teacher") << "3" << QStringList{kTeacher} << QStringList{"1:T1", "2:T2"};
        QTest::newRow("student") << "1" << QStringList{kStudent} << QStringList{"1:S1"};
        QTest::newRow("no type") << "" << QStringList{kStudent} << QStringList{"1:S1"};
    }
    void requestsPerUserType()
    {
        QFETCH(QString, userType);
        QFETCH(QStringList, requests);
        QFETCH(QStringList, rows);
        const bool tutor = userType == QLatin1String("2");
        UserInfo::instance().type = userType;
        HttpServer service;
        QVERIFY(service.start() && testsupport::writeSysConfig({{"Url", service.url({}).chopped(1)}}));
        service.setFile(kTeacher, reply(2, 1, "T"));
        // The student list of a tutor comes second.
        service.setFile(kTutorStudent, reply(1, 2, "S"), HttpServer::Mode::Stall);
        service.setFile(kStudent, reply(1, 2, "S"));
        CourseWidget panel;
        panel.show();
        QSignalSpy shown(panel.list(), SIGNAL(s_showClass()));
        panel.refreshCourses();
        QVERIFY(!panel.list()->isVisible() && panel.emptyLabel()->isVisible());
        QTRY_COMPARE(service.fileRequests(), requests.size());
        for (const QString &request : requests)
            QCOMPARE(service.requests(request), 1);
        if (tutor) {
            QTRY_COMPARE(shown.count(), 1);
            service.release();
        }
        QTRY_COMPARE(shown.count(), tutor ? 2 : 1);
        QVERIFY(panel.list()->isVisible() && !panel.emptyLabel()->isVisible());
        QCOMPARE(::rows(panel.list()), rows);
        if (!tutor)
            return;
        // Signed out, and in again as a teacher, while the tutor's student list is on its way: that reply is dropped.
        panel.refreshCourses();
        QTRY_COMPARE(service.requests(kTutorStudent), 2);
        QTRY_COMPARE(shown.count(), 3);
        UserInfo::instance().type = QStringLiteral("3");
        panel.refreshCourses();
        QTRY_COMPARE(shown.count(), 4);
        service.release();
        QTRY_VERIFY(g_log->messages().contains(QStringLiteral("course list: reply of an earlier refresh dropped")));
        QCOMPARE(shown.count(), 4);
        QCOMPARE(::rows(panel.list()), QStringList({"1:T1", "2:T2"}));
    }

    // A name from the school is one line of the question, cut to its bound.
    void questionBoundsTheName()
    {
        CourseInfo info;
        info.name = QStringLiteral("<b>x</b>\n\r") + QString(100000, QLatin1Char('w'));
        const QStringList said = CourseListItem::questionText(info).split(QLatin1Char('\n'));
        QCOMPARE(said.size(), 2);
        QVERIFY(said[1].startsWith(QStringLiteral("《<b>x</b> www")));
        QCOMPARE(said[1].size(), CourseListItem::kMaxQuestionNameChars + 3);
    }

    void confirmingEntersOneHighlightedRowAtATime()
    {
        UserInfo::instance().type = QStringLiteral("2");
        CourseWidget panel;
        panel.show();
        CourseList *list = panel.list();
        list->handleReply(true, reply(2, 1, "T"), 1);
        list->handleReply(true, reply(2, 2, "S"), 2);
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QSignalSpy entered(&panel, SIGNAL(s_doClass(CourseInfo)));

        // Asks to enter and answers with the question's button: "okBtn", "cancelBtn" or its close icon "closeBtn", or
        // with the key Return. The question names the class, tells a teacher the desktop is shared, and stands centred
        // over the list's window.
        const auto enter = [&](int row, const char *answer) {
            CourseListItem *entry = list->entry(row);
            QTest::mouseClick(entry->enterButton()->isVisible() ? entry->enterButton() : entry->confirmButton(),
                              Qt::LeftButton);
            MessageBox *box = entry->confirmBox();
            QVERIFY(QTest::qWaitForWindowExposed(box));
            const QStringList said = box->text().split(QLatin1Char('\n'));
            QCOMPARE(said.value(0), QStringLiteral("亲，您要进入此课堂吗?"));
            QCOMPARE(said.value(1), QStringLiteral("《%1》").arg(entry->courseInfo().name));
            QCOMPARE(said.size(), entry->courseInfo().role == Role::Teacher ? 3 : 2);
            QVERIFY((box->frameGeometry().center() - panel.frameGeometry().center()).manhattanLength() <= 2);
            if (qstrcmp(answer, "Return") == 0) {
                QVERIFY(QTest::qWaitForWindowActive(box));
                QTest::keyClick(box->windowHandle(), Qt::Key_Return);
            } else {
                QTest::mouseClick(box->findChild<QAbstractButton *>(answer), Qt::LeftButton);
            }
            QTRY_VERIFY(!box->isVisible());
        };
        // The rows highlighted.
        const auto marked = [&]() {
            QList<int> rows;
            for (int i = 0; i < list->count(); ++i)
                if (list->entry(i)->selected)
                    rows << i;
            return rows;
        };

        enter(0, "okBtn");
        QCOMPARE(entered.count(), 1);
        QCOMPARE(entered.last().at(0).value<CourseInfo>().name, QStringLiteral("T1"));
        QCOMPARE(marked(), QList<int>{0});
        QCOMPARE(list->currentRow(), 0);
        // The second reply's first row has the same place in its reply as the first reply's first row.
        enter(2, "okBtn");
        QCOMPARE(entered.last().at(0).value<CourseInfo>().id, QStringLiteral("S-1"));
        QCOMPARE(marked(), QList<int>{2});
        QCOMPARE(list->currentRow(), 2);
        // Cancelling, or closing the question, leaves the class being entered highlighted.
        enter(1, "cancelBtn");
        enter(1, "closeBtn");
        QCOMPARE(entered.count(), 2);
        QCOMPARE(marked(), QList<int>{2});
        enter(3, "Return");
        QCOMPARE(entered.count(), 3);
        QCOMPARE(marked(), QList<int>{3});
        QCOMPARE(list->currentRow(), 3);
        // A press on another row does not move the highlight.
        QTest::mousePress(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                          list->visualItemRect(list->item(0)).center());
        QCOMPARE(list->currentRow(), 3);
        // Entering the same class again asks again and keeps the one row.
        enter(3, "okBtn");
        QCOMPARE(entered.count(), 4);
        QCOMPARE(marked(), QList<int>{3});
        // A refresh starts the highlight afresh.
        list->clearCourses();
        QVERIFY(!list->currentListItem());
        list->handleReply(true, reply(1, 2, "N"), 2);
        enter(0, "okBtn");
        QCOMPARE(marked(), QList<int>{0});
    }
};

QTEST_MAIN(TestCourse)
#include "tst_course.moc"
