#include "chattestserver.h"
#include "testsupport.h"
#include "widgets.h"

#include "chat/DataReceive.h"
#include "chat/conlistwidget.h"
#include "chat/studentwidget.h"
#include "course/courseinfo.h"
#include "net/cookiejar.h"
#include "ui/pixbutton.h"
#include "ui/popwidget.h"

#include <QDesktopServices>
#include <QNetworkCookie>
#include <QSignalSpy>
#include <QtTest>

using testsupport::topLevels;

namespace {

const QString kSession = QStringLiteral("{\"content\":{\"session\":\"s3ss10n\"},\"ptype\":888,\"type\":1}\n");

void setSession(const QByteArray &value)
{
    QList<QNetworkCookie> cookies;
    cookies << QNetworkCookie("other", "x");
    if (!value.isNull())
        cookies << QNetworkCookie("marlo", value);
    // An empty list would leave the store as it is: keep one other cookie.
    CookieJar::instance()->setCookies(cookies);
}

// A chat line that marks the end of a row: every frame before it has been read.
const QString kSentinel =
    QStringLiteral("{\"list\":{\"ptype\":1,\"type\":4,\"content\":{\"user_id\":\"sentinel\",\"info\":\"end\"}}}");

QString nested(int depth)
{
    return QString(depth, QLatin1Char('[')) + QString(depth, QLatin1Char(']'));
}

QStringList fields(const data_chat_use &u)
{
    return {u.uid, u.name, u.nick_name, u.photo};
}

QStringList fields(const data_chat_msg &m)
{
    return {m.info, m.nick_name, m.user_id, m.photo, m.time};
}

} // namespace

// The chat panel's messages on the wire: what it sends, byte for byte, and
// how it reads what a server sends, against a server of the test's own.
class TestProtocol : public QObject
{
    Q_OBJECT

    ChatTestServer server;
    StudentWidget *panel = nullptr;
    QList<QUrl> opened;

    // Sends frame, then the sentinel, and waits until both have been read.
    void deliver(const QString &frame, QSignalSpy &lines)
    {
        server.sendAll(frame);
        server.sendAll(kSentinel);
        const auto sentinelSeen = [&lines]() {
            for (const QList<QVariant> &args : lines) {
                if (args.at(0).value<data_chat_msg>().user_id == QLatin1String("sentinel"))
                    return true;
            }
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(sentinelSeen(), 10000);
    }

public slots:
    void openUrl(const QUrl &url) { opened << url; }

private slots:
    void initTestCase()
    {
        const QString host = testsupport::freeLoopbackHost();
        QVERIFY(testsupport::writeSysConfig(
            {{QStringLiteral("chatUrl"), host}, {QStringLiteral("webUrl"), QStringLiteral("courses.example:8080")}}));
        QVERIFY(server.listen(host));
        QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "openUrl");
        setSession("s3ss10n");
        panel = new StudentWidget;
        QCOMPARE(panel->webHost(), QStringLiteral("courses.example:8080"));
        QSignalSpy connected(panel->connection(), SIGNAL(s_connected()));
        panel->startChat();
        QVERIFY(connected.wait(5000));
        // Who the user is comes first.
        QTRY_COMPARE(server.frames, QStringList{kSession});
    }

    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        delete panel;
        qDeleteAll(topLevels<popWidget>());
    }

    void outgoing_data()
    {
        QTest::addColumn<QByteArray>("session"); // null: no "marlo" cookie
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("expected");

        QTest::newRow("join, no cookie")
            << QByteArray() << "join"
            << "101"
            << "{\"content\":{\"orderid\":\"101\",\"session\":\"\"},\"ptype\":1,\"type\":1}\n";
        QTest::newRow("leave") << QByteArray("s3ss10n") << "leave" << QString() << "{\"ptype\":1,\"type\":3}\n";
        QTest::newRow("empty line") << QByteArray("s3ss10n") << "line" << QString()
                                    << "{\"content\":{\"info\":\"\"},\"ptype\":1,\"type\":4}\n";
        QTest::newRow("line with quotes, breaks, chinese")
            << QByteArray("s3ss10n") << "line" << QStringLiteral("a \"q\" \\ b\n第二行")
            << "{\"content\":{\"info\":\"a \\\"q\\\" \\\\ b\\n\\u7b2c\\u4e8c\\u884c\"},\"ptype\":1,\"type\":4}\n";
        QTest::newRow("line with a zero character")
            << QByteArray("s3ss10n") << "line" << QString::fromUtf8("a\0b", 3)
            << "{\"content\":{\"info\":\"a\\u0000b\"},\"ptype\":1,\"type\":4}\n";
    }

    void outgoing()
    {
        QFETCH(QByteArray, session);
        QFETCH(QString, action);
        QFETCH(QString, argument);
        QFETCH(QString, expected);
        setSession(session);
        const int before = server.frames.size();
        if (action == QLatin1String("join")) {
            CourseInfo course;
            course.id = argument;
            course.listType = 2;
            panel->joinClass(course);
            QCOMPARE(panel->currentCourse().id, argument);
        } else if (action == QLatin1String("leave")) {
            panel->slot_logOutChat();
        } else {
            panel->slot_sendMsg(argument);
        }
        QTRY_COMPARE(server.frames.size(), before + 1);
        QCOMPARE(server.frames.last(), expected);
        setSession("s3ss10n");
    }

    // A new connection is unknown to the server: the panel says again who
    // the user is and which class they are in, and takes the class's list anew.
    void reconnectionAnnouncesAgain()
    {
        CourseInfo course;
        course.id = QStringLiteral("77");
        panel->joinClass(course);
        QTRY_VERIFY(server.frames.last().contains(QLatin1String("\"orderid\":\"77\"")));
        data_chat_use someone;
        someone.uid = QStringLiteral("x");
        panel->conListWidget()->slot_userIn(someone);
        QSignalSpy connected(panel->connection(), SIGNAL(s_connected()));
        const QString host = server.server.serverAddress().toString();
        server.close();
        QTRY_VERIFY(!panel->connection()->connectedNow());
        const int before = server.frames.size();
        QVERIFY(server.listen(host));
        QVERIFY(connected.wait(8000));
        QTRY_COMPARE(server.frames.size(), before + 2);
        QCOMPARE(server.frames.mid(before),
                 QStringList({kSession,
                              "{\"content\":{\"orderid\":\"77\",\"session\":\"s3ss10n\"},\"ptype\":1,\"type\":1}\n"}));
        QCOMPARE(panel->conListWidget()->participants(), 0);
    }

    void reading_data()
    {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<QString>("signal"); // "", "list", "in", "out", "line"
        QTest::addColumn<QStringList>("record"); // fields; for "list" all entries one after the other

        const QString line5 = QStringLiteral(
            "{\"status\":1,\"message\":\"ok\",\"list\":{\"ptype\":1,\"type\":4,\"content\":{\"info\":\"你好\","
            "\"nick_name\":\"小明\",\"user_id\":\"10001\",\"photo\":\"http://127.0.0.1:1/p.png\",\"time\":\"2016-05-10 "
            "10:00:00\"}}}");
        QTest::newRow("line") << line5 << "line"
                              << QStringList{"你好", "小明", "10001", "http://127.0.0.1:1/p.png",
                                             "2016-05-10 10:00:00"};
        QTest::newRow("user in, no content") << "{\"list\":{\"ptype\":1,\"type\":2}}"
                                             << "in" << QStringList{"", "", "", ""};
        QTest::newRow("user in") << "{\"list\":{\"ptype\":1,\"type\":2,\"content\":{\"uid\":\"7\",\"name\":\"n\","
                                    "\"nick_name\":\"七\",\"photo\":\"p\"}}}"
                                 << "in" << QStringList{"7", "", "七", "p"};
        QTest::newRow("user out") << "{\"status\":\"odd\",\"message\":5,\"list\":{\"ptype\":1,\"type\":3,"
                                     "\"content\":{\"uid\":\"7\"}}}"
                                  << "out" << QStringList{"7", "", "", ""};
        QTest::newRow("empty list") << "{\"list\":{\"ptype\":1,\"type\":1,\"content\":{\"userInfoList\":[]}}}"
                                    << "list" << QStringList();
        QTest::newRow("list of two")
            << "{\"list\":{\"ptype\":1,\"type\":1,\"content\":{\"userInfoList\":[{\"uid\":\"1\",\"name\":\"a\","
               "\"nick_name\":\"A\",\"photo\":\"pa\"},{\"uid\":\"2\",\"name\":\"b\",\"nick_name\":\"B\"}]}}}"
            << "list" << QStringList{"1", "a", "A", "pa", "2", "b", "B", ""};
        QTest::newRow("list without userInfoList") << "{\"list\":{\"ptype\":1,\"type\":1,\"content\":{}}}"
                                                   << "list" << QStringList();
        QTest::newRow("userInfoList not an array")
            << "{\"list\":{\"ptype\":1,\"type\":1,\"content\":{\"userInfoList\":{\"uid\":\"1\"}}}}"
            << "list" << QStringList();
        QTest::newRow("list elements that are not objects")
            << "{\"list\":{\"ptype\":1,\"type\":1,\"content\":{\"userInfoList\":[1,\"x\",null,[],{\"uid\":\"9\"}]}}}"
            << "list" << QStringList{"9", "", "", ""};
        QTest::newRow("texts of other types")
            << "{\"list\":{\"ptype\":1,\"type\":4,\"content\":{\"info\":5,\"nick_name\":[],\"user_id\":{},"
               "\"photo\":true,\"time\":null}}}"
            << "line" << QStringList{"", "", "", "", ""};
        QTest::newRow("content an array") << "{\"list\":{\"ptype\":1,\"type\":2,\"content\":[1,2]}}"
                                          << "in" << QStringList{"", "", "", ""};
        QTest::newRow("type as a whole float") << "{\"list\":{\"ptype\":1.0,\"type\":2.0}}"
                                               << "in" << QStringList{"", "", "", ""};
        QTest::newRow("comments") << "/* c */ {\"list\":{\"ptype\":1,\"type\":2} // d\n}"
                                  << "in" << QStringList{"", "", "", ""};
        QTest::newRow("zero character in a text")
            << "{\"list\":{\"ptype\":1,\"type\":2,\"content\":{\"uid\":\"a\\u0000b\"}}}"
            << "in" << QStringList{QString::fromUtf8("a\0b", 3), "", "", ""};
        // The largest message taken (a larger one is refused: see the
        // hostile school's table).
        const int longest = int(DataReceive::kMaxMessageBytes) - 128;
        QTest::newRow("line of almost 1 MiB")
            << "{\"list\":{\"ptype\":1,\"type\":4,\"content\":{\"info\":\"" + QString(longest, QLatin1Char('y')) +
                "\",\"user_id\":\"u\"}}}"
            << "line" << QStringList{QString(longest, QLatin1Char('y')), "", "u", "", ""};

        // Read as nothing.
        QTest::newRow("other pair") << "{\"list\":{\"ptype\":2,\"type\":2}}"
                                    << "" << QStringList();
        QTest::newRow("no list") << "{\"ptype\":1,\"type\":4}"
                                 << "" << QStringList();
        QTest::newRow("not json") << "<b>hi</b>"
                                  << "" << QStringList();
        QTest::newRow("empty") << ""
                               << "" << QStringList();
        QTest::newRow("array root") << "[{\"list\":{\"ptype\":1,\"type\":2}}]"
                                    << "" << QStringList();
        QTest::newRow("null root") << "null"
                                   << "" << QStringList();
        QTest::newRow("list an array") << "{\"list\":[1,4]}"
                                       << "" << QStringList();
        QTest::newRow("ptype a string") << "{\"list\":{\"ptype\":\"1\",\"type\":4}}"
                                        << "" << QStringList();
        QTest::newRow("type a fraction") << "{\"list\":{\"ptype\":1,\"type\":2.5}}"
                                         << "" << QStringList();
        QTest::newRow("type huge") << "{\"list\":{\"ptype\":1,\"type\":4294967298}}"
                                   << "" << QStringList();
        QTest::newRow("type beyond double") << "{\"list\":{\"ptype\":1,\"type\":1e999}}"
                                            << "" << QStringList();
        QTest::newRow("negative type") << "{\"list\":{\"ptype\":1,\"type\":-4}}"
                                       << "" << QStringList();
        QTest::newRow("deep nesting") << "{\"list\":" + nested(100000) + "}"
                                      << "" << QStringList();
        QTest::newRow("deep nesting in content")
            << "{\"list\":{\"ptype\":1,\"type\":7,\"content\":" + nested(900) + "}}"
            << "" << QStringList();
        QTest::newRow("cut short") << "{\"list\":{\"ptype\":1,\"type\":4,\"content\":{\"info\":\"x"
                                   << "" << QStringList();
    }

    void reading()
    {
        QFETCH(QString, frame);
        QFETCH(QString, signal);
        QFETCH(QStringList, record);
        QSignalSpy lists(panel, SIGNAL(s_msg_userslist(std::vector<data_chat_use>)));
        QSignalSpy ins(panel, SIGNAL(s_msg_userIn(data_chat_use)));
        QSignalSpy outs(panel, SIGNAL(s_msg_userOut(data_chat_use)));
        QSignalSpy lines(panel, SIGNAL(s_msg_msg(data_chat_msg)));
        deliver(frame, lines);
        if (QTest::currentTestFailed())
            return;
        const int lineCount = lines.count() - 1; // without the sentinel

        QCOMPARE(lists.count(), signal == QLatin1String("list") ? 1 : 0);
        QCOMPARE(ins.count(), signal == QLatin1String("in") ? 1 : 0);
        QCOMPARE(outs.count(), signal == QLatin1String("out") ? 1 : 0);
        QCOMPARE(lineCount, signal == QLatin1String("line") ? 1 : 0);
        QStringList got;
        if (signal == QLatin1String("list")) {
            for (const data_chat_use &u : lists.at(0).at(0).value<std::vector<data_chat_use>>())
                got << fields(u);
        } else if (signal == QLatin1String("in")) {
            got = fields(ins.at(0).at(0).value<data_chat_use>());
        } else if (signal == QLatin1String("out")) {
            got = fields(outs.at(0).at(0).value<data_chat_use>());
        } else if (signal == QLatin1String("line")) {
            got = fields(lines.at(0).at(0).value<data_chat_msg>());
        }
        QCOMPARE(got, record);
    }

    void notices_data()
    {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<QString>("content"); // null: no notice
        QTest::addColumn<QString>("link"); // empty: no look button

        QTest::newRow("courseware")
            << "{\"status\":1,\"list\":{\"ptype\":2,\"type\":1,\"content\":{\"id\":7,\"type\":\"ppt\","
               "\"courseware_type\":1,\"title\":\"第3课课件\"}}}"
            << "第3课课件"
            << "http://courses.example:8080/courseware/7.html";
        QTest::newRow("news") << "{\"list\":{\"ptype\":3,\"type\":1,\"content\":{\"id\":12,\"title\":\"放假通知\"}}}"
                              << "放假通知"
                              << "http://courses.example:8080/news/12.html";
        QTest::newRow("courseware without id")
            << "{\"list\":{\"ptype\":2,\"type\":1,\"content\":{\"title\":\"无链接\"}}}"
            << "无链接" << QString();
        QTest::newRow("news, id a string")
            << "{\"list\":{\"ptype\":3,\"type\":1,\"content\":{\"id\":\"12\",\"title\":\"t\"}}}"
            << "t" << QString();
        QTest::newRow("courseware, odd members") << "{\"list\":{\"ptype\":2,\"type\":1,\"content\":{\"id\":3,\"type\":"
                                                    "4,\"courseware_type\":\"x\",\"title\":[]}}}"
                                                 << ""
                                                 << "http://courses.example:8080/courseware/3.html";
        QTest::newRow("news, content null")
            << "{\"list\":{\"ptype\":3,\"type\":1,\"content\":null}}" << QString() << QString();
    }

    void notices()
    {
        QFETCH(QString, frame);
        QFETCH(QString, content);
        QFETCH(QString, link);
        qDeleteAll(topLevels<popWidget>());
        opened.clear();
        QSignalSpy lines(panel, SIGNAL(s_msg_msg(data_chat_msg)));
        deliver(frame, lines);
        if (QTest::currentTestFailed())
            return;
        const QList<popWidget *> shown = topLevels<popWidget>();
        if (content.isNull()) {
            QVERIFY(shown.isEmpty());
            return;
        }
        QCOMPARE(shown.size(), 1);
        popWidget *pop = shown.first();
        QVERIFY(pop->isVisible() && panel->currentNotice() == pop);
        QCOMPARE(pop->content(), QStringLiteral("   ") + content);
        auto *look = pop->findChild<pixButton *>(QStringLiteral("lookBtn"));
        QCOMPARE(look->isVisible(), !link.isEmpty());
        if (!link.isEmpty()) {
            QTest::mouseClick(look, Qt::LeftButton);
            QCOMPARE(opened, QList<QUrl>{QUrl(link)});
        }
        // A notice closed by hand leaves no dangling current notice.
        pop->close();
        QTRY_VERIFY(!panel->currentNotice());
    }
};

QTEST_MAIN(TestProtocol)
#include "tst_protocol.moc"
