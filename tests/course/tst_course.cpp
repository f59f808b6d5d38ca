#include "testsupport.h"

#include "course/courselist.h"
#include "course/courselistitem.h"
#include "course/coursewidget.h"
#include "net/userinfo.h"
#include "ui/colorbtn.h"
#include "ui/messagebox.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

Q_DECLARE_METATYPE(QJsonObject)

namespace {

// A web service that answers each address (path and query) with a set body
// and remembers the addresses asked for. A held address gets its answer only
// once released.
class RecordingService : public QObject
{
public:
    RecordingService()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
        });
        m_server.listen(QHostAddress::LocalHost);
    }

    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }
    void answer(const QString &target, const QByteArray &body) { m_bodies[target] = body; }
    void hold(const QString &target) { m_held.insert(target); }
    void release(const QString &target)
    {
        m_held.remove(target);
        for (QTcpSocket *socket : m_waiting.values(target))
            respond(socket, target);
        m_waiting.remove(target);
    }
    QStringList requests() const { return m_requests; }
    void clearRequests() { m_requests.clear(); }

private:
    void read(QTcpSocket *socket)
    {
        QByteArray &buffer = m_buffers[socket];
        buffer += socket->readAll();
        if (!buffer.contains("\r\n\r\n"))
            return;
        const QList<QByteArray> line = buffer.left(buffer.indexOf("\r\n")).split(' ');
        buffer.clear();
        const QString target = QString::fromUtf8(line.value(1));
        m_requests << target;
        if (m_held.contains(target))
            m_waiting.insert(target, socket);
        else
            respond(socket, target);
    }

    void respond(QTcpSocket *socket, const QString &target)
    {
        const QByteArray body = m_bodies.value(target, QByteArrayLiteral("{\"status\":404}"));
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: "
                      + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QMap<QString, QByteArray> m_bodies;
    QMap<QTcpSocket *, QByteArray> m_buffers;
    QSet<QString> m_held;
    QMultiMap<QString, QTcpSocket *> m_waiting;
    QStringList m_requests;
};

const QString kTeacher = QStringLiteral("/teacher/courseall/todaycourse?type=teacher");
const QString kTutorStudent = QStringLiteral("/teacher/courseall/todaycourse?type=student");
const QString kStudent = QStringLiteral("/student/courseall/todaycourse?type=student");

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
    for (int i = 0; i < n; ++i) {
        QJsonObject course{{"teaching_type", "1"},
                           {"appointment_time", at(QDateTime::currentDateTime())},
                           {"rtmp", "rtmp://x/live/a"},
                           {"rtmplat", "rtmp://x/live/b"}};
        course.insert(listType == 1 ? "cs_name" : "name", QStringLiteral("%1%2").arg(prefix).arg(i + 1));
        course.insert(listType == 1 ? "bid" : "id", QStringLiteral("%1-%2").arg(prefix).arg(i + 1));
        list.append(course);
    }
    return json({{"status", 200}, {"list", list}});
}

// Debug messages seen so far.
QStringList g_messages;
void collect(QtMsgType, const QMessageLogContext &, const QString &text)
{
    g_messages << text;
}

// The fixed moment the entry tests count from: 12:00:00 on a day.
QDateTime g_now;
QDateTime fixedNow()
{
    return g_now;
}

QString shownName(CourseListItem *entry)
{
    return entry->findChild<QLabel *>(QStringLiteral("nameLabel"))->text();
}

} // namespace

class TestCourse : public QObject
{
    Q_OBJECT

    RecordingService service;

    void writeConfig()
    {
        QVERIFY(testsupport::writeSysConfig({{QStringLiteral("Url"), service.baseUrl()}}));
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<CourseInfo>("CourseInfo");
        writeConfig();
        qInstallMessageHandler(collect);
    }

    void cleanup()
    {
        CourseListItem::currentTime = &QDateTime::currentDateTime;
        UserInfo::instance().type.clear();
        service.clearRequests();
        g_messages.clear();
    }

    void parseRecord_data()
    {
        QTest::addColumn<QJsonObject>("element");
        QTest::addColumn<int>("listType");
        QTest::addColumn<QStringList>("expected"); // courseware_id, name, id, joint_num, teaching_type

        const QJsonObject mixed{{"courseware_id", 15}, {"cs_name", "A"}, {"bid", "7"}, {"cs_joint_num", 3},
                                {"name", "B"}, {"id", "8"}, {"joint_num", "4"}, {"teaching_type", true}};
        QTest::newRow("teacher list reads cs_ keys and bid") << mixed << 1 << QStringList{"15", "A", "7", "3", "true"};
        QTest::newRow("student list reads name, id, joint_num") << mixed << 2 << QStringList{"15", "B", "8", "4", "true"};
        QTest::newRow("other list types set none of the three") << mixed << 5 << QStringList{"15", "", "", "", "true"};
        QTest::newRow("only teacher keys, student list")
            << QJsonObject{{"courseware_id", 15}, {"cs_name", "A"}, {"bid", "7"}} << 2 << QStringList{"15", "", "", "", ""};
        QTest::newRow("null, arrays and objects read empty")
            << QJsonObject{{"courseware_id", QJsonValue::Null}, {"name", QJsonArray{1, 2}}, {"id", QJsonObject{{"a", 1}}},
                           {"joint_num", 2.5}, {"teaching_type", false}}
            << 2 << QStringList{"", "", "", "2.5", "false"};
        QTest::newRow("long numbers reach the record in exponent form")
            << QJsonObject{{"courseware_id", 1234567}, {"id", 200}} << 2 << QStringList{"1.23457e+06", "", "200", "", ""};
        QTest::newRow("keys are matched exactly")
            << QJsonObject{{"Name", "x"}, {"ID", "9"}, {"courseware_id ", "1"}} << 2 << QStringList{"", "", "", "", ""};
    }

    void parseRecord()
    {
        QFETCH(QJsonObject, element);
        QFETCH(int, listType);
        QFETCH(QStringList, expected);
        const CourseInfo info = CourseList::parseCourseInfo(element, listType);
        QCOMPARE(QStringList({info.courseware_id, info.name, info.id, info.joint_num, info.teaching_type}), expected);
        QCOMPARE(info.listType, listType);
        QVERIFY(info.seq.isEmpty());
    }

    void replyShapes_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("rows");

        const QJsonObject course{{"name", "C"}, {"appointment_time", "2016-05-10 14:00-15:00"}};
        QTest::newRow("two courses") << json({{"status", 200}, {"list", QJsonArray{course, course}}}) << true << 2;
        QTest::newRow("status as text") << json({{"status", "200"}, {"list", QJsonArray{course}}}) << true << 1;
        QTest::newRow("empty list") << json({{"status", 200}, {"list", QJsonArray{}}}) << true << 0;
        QTest::newRow("status 404") << json({{"status", 404}, {"list", QJsonArray{course}}}) << true << 0;
        QTest::newRow("status missing") << json({{"list", QJsonArray{course}}}) << true << 0;
        QTest::newRow("status true") << json({{"status", true}, {"list", QJsonArray{course}}}) << true << 0;
        QTest::newRow("status as object") << json({{"status", QJsonObject{{"code", 200}}}, {"list", QJsonArray{course}}})
                                          << true << 0;
        QTest::newRow("failed request") << json({{"status", 200}, {"list", QJsonArray{course}}}) << false << 0;
        QTest::newRow("list missing") << json({{"status", 200}}) << true << 0;
        QTest::newRow("list is an object") << json({{"status", 200}, {"list", course}}) << true << 0;
        QTest::newRow("list is text") << json({{"status", 200}, {"list", "[1,2]"}}) << true << 0;
        QTest::newRow("elements that are not objects make no row")
            << json({{"status", 200}, {"list", QJsonArray{1, "x", QJsonValue::Null, QJsonArray{course}, course, true}}})
            << true << 1;
        QTest::newRow("not JSON") << QByteArray("<html>busy</html>") << true << 0;
        QTest::newRow("top level array") << QByteArray("[{\"status\":200}]") << true << 0;
        QTest::newRow("empty body") << QByteArray() << true << 0;
        QTest::newRow("cut off") << json({{"status", 200}, {"list", QJsonArray{course}}}).left(30) << true << 0;
        QJsonArray many;
        for (int i = 0; i < CourseList::kMaxRowsPerReply + 50; ++i)
            many.append(course);
        QTest::newRow("more rows than shown") << json({{"status", 200}, {"list", many}}) << true
                                              << CourseList::kMaxRowsPerReply;
    }

    void replyShapes()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, ok);
        QFETCH(int, rows);
        CourseList list;
        QSignalSpy shown(&list, SIGNAL(s_showClass()));
        list.handleReply(ok, body, 2);
        QCOMPARE(list.count(), rows);
        QCOMPARE(shown.count(), rows > 0 ? 1 : 0);
        // Rows are numbered from 1 in the order shown.
        for (int i = 0; i < rows; ++i)
            QCOMPARE(list.entry(i)->courseInfo().seq, QString::number(i + 1));
    }

    void cutTime_data()
    {
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("cut");
        QTest::newRow("end time cut") << "2016-05-10 14:00-15:00" << "2016-05-10 14:00";
        QTest::newRow("no end time") << "2016-05-10 14:00" << "2016-05-10 14:00";
        QTest::newRow("dash before index 16") << "2016-05-10 1-4:00" << "2016-05-10 1-4:00";
        QTest::newRow("dash at index 16") << "2016-05-10 14:00-" << "2016-05-10 14:00";
        QTest::newRow("several dashes, last wins") << "2016-05-10 14:00-15:00-16:00" << "2016-05-10 14:00-15:00";
        QTest::newRow("empty") << "" << "";
    }

    void cutTime()
    {
        QFETCH(QString, time);
        QFETCH(QString, cut);
        QCOMPARE(CourseListItem::cutAppointmentTime(time), cut);
    }

    void countdownText_data()
    {
        QTest::addColumn<qint64>("remaining");
        QTest::addColumn<QString>("text");
        QTest::newRow("1801 s") << qint64(1801) << QStringLiteral("倒计时:00:00:-1");
        QTest::newRow("1802 s") << qint64(1802) << QStringLiteral("倒计时:00:00:00");
        QTest::newRow("7200 s") << qint64(7200) << QStringLiteral("倒计时:01:29:58");
        QTest::newRow("123 hours") << qint64(123 * 3600 + 4 * 60 + 5 + 1802) << QStringLiteral("倒计时:23:04:05");
        QTest::newRow("100 hours") << qint64(100 * 3600 + 1802) << QStringLiteral("倒计时:00:00:00");
    }

    void countdownText()
    {
        QFETCH(qint64, remaining);
        QFETCH(QString, text);
        QCOMPARE(CourseListItem::countdownText(remaining), text);
    }

    void teachingType_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("1") << "1" << QStringLiteral("一对一");
        QTest::newRow("2") << "2" << QStringLiteral("线下班");
        QTest::newRow("3") << "3" << QStringLiteral("直播课");
        QTest::newRow("not a number") << "abc" << QStringLiteral("直播课");
        QTest::newRow("empty") << "" << QStringLiteral("直播课");
        QTest::newRow("padded") << " 1" << QStringLiteral("一对一");
    }

    void teachingType()
    {
        QFETCH(QString, code);
        QFETCH(QString, text);
        QCOMPARE(CourseListItem::teachingTypeText(code), text);
    }

    // The entry's starting state and its ticks, counted from a fixed now.
    void entryStates_data()
    {
        QTest::addColumn<QString>("time");
        QTest::addColumn<int>("listType");
        QTest::addColumn<QString>("userType");
        QTest::addColumn<int>("startsIn"); // seconds from now to the start
        QTest::addColumn<QString>("state"); // at construction: countdown, enter, confirm, both
        QTest::addColumn<QString>("afterTick"); // one second later

        const QDateTime now(QDate(2026, 3, 2), QTime(12, 0, 0));
        g_now = now;
        // The start times are whole minutes; now moves instead.
        QTest::newRow("1802 s counts down, the tick at 1801 shows -1")
            << at(now.addSecs(1860)) << 2 << "1" << 1802 << "countdown" << QStringLiteral("倒计时:00:00:-1");
        QTest::newRow("1800 s enters at once") << at(now.addSecs(1800)) << 2 << "1" << 1800 << "enter" << "enter";
        QTest::newRow("teacher list confirms") << at(now.addSecs(1800)) << 1 << "3" << 1800 << "confirm" << "confirm";
        QTest::newRow("other list type shows both") << at(now.addSecs(60)) << 0 << "1" << 60 << "both" << "both";
        QTest::newRow("started an hour ago") << at(now.addSecs(-3600)) << 2 << "1" << -3600 << "enter" << "enter";
        QTest::newRow("7200 s") << at(now.addSecs(7260)) << 2 << "1" << 7201 << "countdown"
                                << QStringLiteral("倒计时:01:29:58");
        QTest::newRow("end time cut before reading")
            << at(now.addSecs(600)) + "-13:00" << 2 << "1" << 600 << "enter" << "enter";
        QTest::newRow("seconds do not parse") << now.toString("yyyy-MM-dd hh:mm:ss") << 2 << "1" << 0 << "countdown"
                                              << "unchanged";
        QTest::newRow("garbage never enters") << "soon" << 2 << "1" << 0 << "countdown" << "unchanged";
        QTest::newRow("number read as text") << "2.02603e+07" << 2 << "1" << 0 << "countdown" << "unchanged";
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
        // now = start - startsIn, for the rows whose time parses
        g_now = start.isValid() ? start.addSecs(-startsIn) : QDateTime(QDate(2026, 3, 2), QTime(12, 0, 0));
        CourseListItem::currentTime = &fixedNow;
        UserInfo::instance().type = userType;
        CourseInfo info;
        info.appointment_time = time;
        info.listType = listType;
        CourseListItem entry(nullptr, info);
        entry.show();

        const auto shown = [&entry]() {
            if (entry.isCountingDown()) {
                const bool clean = entry.countdownLabel()->isVisible() && !entry.enterButton()->isVisible()
                                   && !entry.confirmButton()->isVisible();
                return clean ? QStringLiteral("countdown") : QStringLiteral("countdown with buttons");
            }
            if (entry.countdownLabel()->isVisible())
                return QStringLiteral("label");
            const bool enter = entry.enterButton()->isVisible();
            const bool confirm = entry.confirmButton()->isVisible();
            return enter && confirm ? QStringLiteral("both") : enter ? QStringLiteral("enter")
                                                    : confirm      ? QStringLiteral("confirm")
                                                                   : QStringLiteral("none");
        };
        QCOMPARE(shown(), state);
        const QString before = entry.countdownLabel()->text();
        QVERIFY(before.startsWith(QStringLiteral("倒计时 ")));

        // Ticks come only while the entry counts down.
        g_now = g_now.addSecs(1);
        if (entry.isCountingDown())
            entry.displayTimeLabel();
        if (afterTick == QLatin1String("unchanged")) {
            QCOMPARE(shown(), QStringLiteral("countdown"));
            QCOMPARE(entry.countdownLabel()->text(), before);
        } else if (afterTick.startsWith(QStringLiteral("倒计时"))) {
            QCOMPARE(shown(), QStringLiteral("countdown"));
            QCOMPARE(entry.countdownLabel()->text(), afterTick);
        } else {
            QCOMPARE(shown(), afterTick);
        }
    }

    void tickAtThresholdChoosesByUserType_data()
    {
        QTest::addColumn<QString>("userType");
        QTest::addColumn<int>("listType");
        QTest::addColumn<QString>("button");
        QTest::newRow("student") << "1" << 2 << "enter";
        QTest::newRow("teacher") << "3" << 1 << "enter";
        QTest::newRow("tutor, student list") << "2" << 2 << "confirm";
    }

    void tickAtThresholdChoosesByUserType()
    {
        QFETCH(QString, userType);
        QFETCH(int, listType);
        QFETCH(QString, button);
        const QDateTime start(QDate(2026, 3, 2), QTime(13, 0));
        g_now = start.addSecs(-1801);
        CourseListItem::currentTime = &fixedNow;
        UserInfo::instance().type = userType;
        CourseInfo info;
        info.appointment_time = at(start);
        info.listType = listType;
        CourseListItem entry(nullptr, info);
        entry.show();
        QVERIFY(entry.isCountingDown());
        g_now = start.addSecs(-1800);
        entry.displayTimeLabel();
        QVERIFY(!entry.isCountingDown());
        QVERIFY(!entry.countdownLabel()->isVisible());
        QCOMPARE(entry.enterButton()->isVisible(), button == QLatin1String("enter"));
        QCOMPARE(entry.confirmButton()->isVisible(), button == QLatin1String("confirm"));
        // The label never counts again.
        g_now = start.addSecs(-5000);
        entry.displayTimeLabel();
        QVERIFY(!entry.countdownLabel()->isVisible());
    }

    void longNamesAreElided()
    {
        CourseInfo info;
        info.name = QString(60, QChar(0x6570)); // 数 x 60
        info.listType = 2;
        CourseListItem entry(nullptr, info);
        const QString shown = shownName(&entry);
        QVERIFY(shown.endsWith(QChar(0x2026)));
        QVERIFY(shown.size() < info.name.size());
        QCOMPARE(entry.findChild<QLabel *>(QStringLiteral("nameLabel"))->toolTip(), info.name);
        info.name = QStringLiteral("Python");
        CourseListItem shortEntry(nullptr, info);
        QCOMPARE(shownName(&shortEntry), info.name);
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
        UserInfo::instance().type = userType;
        service.answer(kTeacher, reply(2, 1, "T"));
        service.answer(kTutorStudent, reply(1, 2, "S"));
        service.answer(kStudent, reply(1, 2, "S"));
        // The student list of a tutor comes second.
        service.hold(kTutorStudent);
        CourseWidget panel;
        panel.show();
        QSignalSpy shown(panel.list(), SIGNAL(s_showClass()));
        panel.refreshCourses();
        QVERIFY(!panel.list()->isVisible());
        QVERIFY(panel.emptyLabel()->isVisible());
        QTRY_COMPARE(service.requests().size(), requests.size());
        // Each request on a connection of its own: they may arrive in
        // either order.
        QStringList sent = service.requests();
        sent.sort();
        requests.sort();
        QCOMPARE(sent, requests);
        if (userType == QLatin1String("2")) {
            QTRY_COMPARE(shown.count(), 1);
            service.release(kTutorStudent);
        }
        QTRY_COMPARE(shown.count(), userType == QLatin1String("2") ? 2 : 1);
        QVERIFY(panel.list()->isVisible());
        QVERIFY(!panel.emptyLabel()->isVisible());
        QStringList seen;
        for (int i = 0; i < panel.list()->count(); ++i)
            seen << panel.list()->entry(i)->courseInfo().seq + ":" + panel.list()->entry(i)->courseInfo().name;
        QCOMPARE(seen, rows);
        service.release(kTutorStudent);
    }

    void replyOfEarlierRefreshIsDropped()
    {
        UserInfo::instance().type = QStringLiteral("1");
        service.answer(kStudent, reply(3, 2, "Old"));
        service.answer(kTeacher, reply(2, 1, "T"));
        service.hold(kStudent);
        CourseWidget panel;
        QSignalSpy shown(panel.list(), SIGNAL(s_showClass()));
        panel.refreshCourses();
        QTRY_COMPARE(service.requests().size(), 1);
        // Signed out, and in again as a teacher, before the answer came.
        UserInfo::instance().type = QStringLiteral("3");
        panel.refreshCourses();
        QTRY_COMPARE(shown.count(), 1);
        service.release(kStudent);
        QTRY_VERIFY(g_messages.contains(QStringLiteral("course list: reply of an earlier refresh dropped")));
        QCOMPARE(shown.count(), 1);
        QCOMPARE(panel.list()->count(), 2);
        QCOMPARE(panel.list()->entry(0)->courseInfo().name, QStringLiteral("T1"));
    }

    void dayWithoutCoursesKeepsThePicture()
    {
        UserInfo::instance().type = QStringLiteral("1");
        service.answer(kStudent, json({{"status", 200}, {"list", QJsonArray{}}}));
        CourseWidget panel;
        panel.show();
        panel.refreshCourses();
        QTRY_VERIFY(g_messages.contains(QStringLiteral("item size :..... 0")));
        QVERIFY(panel.emptyLabel()->isVisible());
        QVERIFY(!panel.list()->isVisible());
        QCOMPARE(panel.list()->count(), 0);
    }

    void confirmingEntersOneHighlightedRowAtATime()
    {
        UserInfo::instance().type = QStringLiteral("2");
        CourseWidget panel;
        panel.show();
        CourseList *list = panel.list();
        list->handleReply(true, reply(2, 1, "T"), 1);
        list->handleReply(true, reply(2, 2, "S"), 2);
        panel.slot_showClass();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QSignalSpy entered(&panel, SIGNAL(s_doClass(CourseInfo)));

        const auto enter = [&](int row, bool accept) {
            CourseListItem *entry = list->entry(row);
            ColorBtn *button = entry->enterButton()->isVisible() ? entry->enterButton() : entry->confirmButton();
            QTest::mouseClick(button, Qt::LeftButton);
            MessageBox *box = entry->confirmBox();
            QVERIFY(QTest::qWaitForWindowExposed(box));
            QCOMPARE(box->text(), QStringLiteral("亲，您要进入此课堂吗?"));
            QTest::mouseClick(box->findChild<ColorBtn *>(accept ? "okBtn" : "cancelBtn"), Qt::LeftButton);
            QTRY_VERIFY(!box->isVisible());
        };
        const auto marked = [&]() {
            QList<int> rows;
            for (int i = 0; i < list->count(); ++i)
                if (list->entry(i)->selected)
                    rows << i;
            return rows;
        };

        enter(0, true);
        QCOMPARE(entered.count(), 1);
        QCOMPARE(entered.last().at(0).value<CourseInfo>().name, QStringLiteral("T1"));
        QCOMPARE(marked(), QList<int>{0});
        QCOMPARE(list->currentRow(), 0);

        // The second reply's first row has the same place in its reply as
        // the first reply's first row.
        enter(2, true);
        QCOMPARE(entered.last().at(0).value<CourseInfo>().id, QStringLiteral("S-1"));
        QCOMPARE(marked(), QList<int>{2});
        QCOMPARE(list->currentRow(), 2);

        // Cancelling leaves the class being entered highlighted.
        enter(1, false);
        QCOMPARE(entered.count(), 2);
        QCOMPARE(marked(), QList<int>{2});

        enter(3, true);
        QCOMPARE(marked(), QList<int>{3});
        QCOMPARE(list->currentRow(), 3);
        QCOMPARE(entered.count(), 3);

        // A press on another row does not move the highlight.
        QTest::mousePress(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                          list->visualItemRect(list->item(0)).center());
        QCOMPARE(list->currentRow(), 3);

        // Entering the same class again asks again and keeps the one row.
        enter(3, true);
        QCOMPARE(entered.count(), 4);
        QCOMPARE(marked(), QList<int>{3});

        // A refresh starts the highlight afresh.
        list->clearCourses();
        QVERIFY(!list->currentListItem());
        list->handleReply(true, reply(1, 2, "N"), 2);
        enter(0, true);
        QCOMPARE(marked(), QList<int>{0});
    }
};

QTEST_MAIN(TestCourse)
#include "tst_course.moc"
