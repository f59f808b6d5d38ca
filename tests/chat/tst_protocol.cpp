#include "demoschool.h"
#include "testsupport.h"
#include "widgets.h"

#include "chat/DataReceive.h"
#include "chat/conlistwidget.h"
#include "chat/studentwidget.h"
#include "chat/talkcontent.h"
#include "chat/talkwidget.h"
#include "course/courseinfo.h"
#include "net/avatarcache.h"
#include "net/avatarloader.h"
#include "net/cookiejar.h"
#include "net/flash.h"
#include "net/userinfo.h"
#include "ui/pixbutton.h"
#include "ui/popwidget.h"
#include "ui/textbtn.h"

#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QNetworkCookie>
#include <QPointer>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextEdit>
#include <QWebSocket>
#include <QWebSocketServer>
#include <QtTest>

#include <memory>

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

QStringList fields(const data_chat_use &u)
{
    return {u.uid, u.name, u.nick_name, u.photo};
}

QStringList fields(const data_chat_msg &m)
{
    return {m.info, m.nick_name, m.user_id, m.photo, m.time};
}

// A chat server of the test's own on HOST:8282: keeps every text frame it receives, with the time it came, and can
// speak to its clients, also in frames QtWebSockets would refuse to make (text that is not UTF-8). As a black hole it
// never answers the handshake: each attempt of the client shows in attempts, what it sent in received.
class ChatTestServer : public QObject
{
public:
    ChatTestServer() : server(QStringLiteral("test"), QWebSocketServer::NonSecureMode)
    {
        clock.start();
        connect(&tcp, &QTcpServer::newConnection, this, [this]() {
            while (QTcpSocket *socket = tcp.nextPendingConnection()) {
                attempts.append(clock.elapsed());
                if (blackHole) {
                    connect(socket, &QTcpSocket::readyRead, this, [this, socket]() { received += socket->readAll(); });
                } else {
                    raw.append(socket);
                    server.handleConnection(socket);
                }
            }
        });
        connect(&server, &QWebSocketServer::newConnection, this, [this]() {
            while (QWebSocket *socket = server.nextPendingConnection()) {
                sockets.append(socket);
                connectedAt.append(clock.elapsed());
                connect(socket, &QWebSocket::textMessageReceived, this, [this](const QString &text) {
                    frames.append(text);
                    frameAt.append(clock.elapsed());
                });
                connect(socket, &QWebSocket::disconnected, this, [this, socket]() {
                    sockets.removeAll(socket);
                    socket->deleteLater();
                });
            }
        });
    }
    ~ChatTestServer() override { close(); }

    bool listen(const QString &host) { return tcp.listen(QHostAddress(host), 8282); }
    // Stops listening and drops every client.
    void close()
    {
        tcp.close();
        const QList<QWebSocket *> open = sockets;
        sockets.clear();
        for (QWebSocket *socket : open) {
            socket->disconnect(this);
            socket->abort();
            socket->deleteLater();
        }
    }
    void sendAll(const QString &text)
    {
        for (QWebSocket *socket : qAsConst(sockets))
            socket->sendTextMessage(text);
    }
    // A final text frame of these bytes (a short payload) to every open client.
    void sendRaw(const QByteArray &payload)
    {
        for (QTcpSocket *socket : qAsConst(raw))
            if (socket && socket->state() == QAbstractSocket::ConnectedState)
                socket->write(QByteArray(1, char(0x81)) + char(payload.size()) + payload);
    }

    QTcpServer tcp;
    QWebSocketServer server;
    QList<QPointer<QTcpSocket>> raw;
    QList<QWebSocket *> sockets;
    QStringList frames;
    QList<qint64> frameAt;
    QList<qint64> connectedAt;
    bool blackHole = false;
    QList<qint64> attempts;
    QByteArray received;
    QElapsedTimer clock;
};

const QString kPing = QStringLiteral("{\"type\":\"ping\"}\n");

const QString kDead = QStringLiteral("http://127.0.0.1:1/gone.png");

data_chat_msg line(const QString &info, const QString &name = QStringLiteral("N"),
                   const QString &time = QStringLiteral("10:00:00"), const QString &uid = QStringLiteral("u1"),
                   const QString &photo = kDead)
{
    return {info, name, uid, photo, time};
}

data_chat_use user(const QString &id, const QString &photo)
{
    return {id, QString(), id.toUpper(), photo};
}

// Text of the last line's two paragraphs: "name time" and the text.
QPair<QString, QString> lastLine(const TalkContent &talk)
{
    // The picture stands as an object character before the name.
    const QTextBlock text = talk.browser()->document()->lastBlock();
    return {text.previous().text().remove(QChar::ObjectReplacementCharacter), text.text()};
}

// The pictures' names, and how many fragments are links or bold/italic.
struct Fragments
{
    QStringList images;
    int marked = 0;
};

Fragments fragments(const QTextDocument *doc)
{
    Fragments found;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.isImageFormat())
                found.images << format.toImageFormat().name();
            if (format.isAnchor() || format.fontWeight() > QFont::Normal || format.fontItalic())
                ++found.marked;
        }
    }
    return found;
}

} // namespace

// The chat against servers of the test's own: the panel's messages on the wire, what it sends, byte for byte, and how
// it reads what a server sends; the connection alone, with its retries, pings and frames it cannot read; and the talk
// view, the participant list and the panel's pages, with pictures from the demo school.
class TestProtocol : public QObject
{
    Q_OBJECT

    ChatTestServer server;
    StudentWidget *panel = nullptr;
    QList<QUrl> opened;
    QString host; // of a connection test's own servers
    testsupport::DemoSchool school; // the senders' pictures

    QString picture(const QString &id) const { return school.baseUrl() + QStringLiteral("/avatar/%1.png").arg(id); }

    // A host of its own for a connection test, in the settings.
    bool useFreshHost()
    {
        host = testsupport::freeLoopbackHost();
        return !host.isEmpty() && testsupport::writeSysConfig({{QStringLiteral("chatUrl"), host}});
    }

public slots:
    void openUrl(const QUrl &url) { opened << url; }

private slots:
    void initTestCase()
    {
        QVERIFY(school.start());
        const QString host = testsupport::freeLoopbackHost();
        QVERIFY(testsupport::writeSysConfig(
            {{QStringLiteral("chatUrl"), host}, {QStringLiteral("webUrl"), QStringLiteral("courses.example:8080")}}));
        QVERIFY(server.listen(host));
        QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "openUrl");
        setSession("s3ss10n");
        panel = new StudentWidget;
        QSignalSpy connected(panel->connection(), SIGNAL(s_connected()));
        panel->startChat();
        QVERIFY(connected.wait(5000));
        // Who the user is comes first.
        QTRY_COMPARE(server.frames, QStringList{kSession});
    }

    void init() { QDir(QStringLiteral("pic")).removeRecursively(); }

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
        const auto row = [](const char *name, const QByteArray &session, const char *action, const QString &argument,
                            const char *expected) { QTest::newRow(name) << session << action << argument << expected; };
        const QByteArray session("s3ss10n");
        row("join, no cookie", QByteArray(), "join", "101",
            "{\"content\":{\"orderid\":\"101\",\"session\":\"\"},\"ptype\":1,\"type\":1}\n");
        row("leave", session, "leave", QString(), "{\"ptype\":1,\"type\":3}\n");
        row("line with quotes, breaks, chinese", session, "line", QStringLiteral("a \"q\" \\ b\n第二行"),
            "{\"content\":{\"info\":\"a \\\"q\\\" \\\\ b\\n\\u7b2c\\u4e8c\\u884c\"},\"ptype\":1,\"type\":4}\n");
        row("line with a zero character", session, "line", QString::fromUtf8("a\0b", 3),
            "{\"content\":{\"info\":\"a\\u0000b\"},\"ptype\":1,\"type\":4}\n");
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

    // What the panel makes of a frame from the server: one signal with its record, a notice, or nothing.
    void reading_data()
    {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<QString>("signal"); // "", "list", "in", "out", "line", "notice"
        // Fields; for "list" all entries one after the other; for "notice" its text and the link of its look button.
        QTest::addColumn<QStringList>("record");
        const auto row = [](const char *name, const QString &frame, const char *signal = "",
                            const QStringList &record = {}) { QTest::newRow(name) << frame << signal << record; };
        const QStringList empty4{"", "", "", ""};
        row("line",
            R"({"status":1,"message":"ok","list":{"ptype":1,"type":4,"content":{"info":"你好","nick_name":"小明",)"
            R"("user_id":"10001","photo":"http://127.0.0.1:1/p.png","time":"2016-05-10 10:00:00"}}})",
            "line", {"你好", "小明", "10001", "http://127.0.0.1:1/p.png", "2016-05-10 10:00:00"});
        row("user in, no content", R"({"list":{"ptype":1,"type":2}})", "in", empty4);
        row("user in", R"({"list":{"ptype":1,"type":2,"content":{"uid":"7","name":"n","nick_name":"七","photo":"p"}}})",
            "in", {"7", "", "七", "p"});
        row("user out", R"({"status":"odd","message":5,"list":{"ptype":1,"type":3,"content":{"uid":"7"}}})", "out",
            {"7", "", "", ""});
        row("empty list", R"({"list":{"ptype":1,"type":1,"content":{"userInfoList":[]}}})", "list");
        row("list of two",
            R"({"list":{"ptype":1,"type":1,"content":{"userInfoList":[{"uid":"1","name":"a","nick_name":"A",)"
            R"("photo":"pa"},{"uid":"2","name":"b","nick_name":"B"}]}}})",
            "list", {"1", "a", "A", "pa", "2", "b", "B", ""});
        row("list without userInfoList", R"({"list":{"ptype":1,"type":1,"content":{}}})", "list");
        row("userInfoList not an array", R"({"list":{"ptype":1,"type":1,"content":{"userInfoList":{"uid":"1"}}}})",
            "list");
        row("list elements that are not objects",
            R"({"list":{"ptype":1,"type":1,"content":{"userInfoList":[1,"x",null,[],{"uid":"9"}]}}})", "list",
            {"9", "", "", ""});
        row("texts of other types",
            R"({"list":{"ptype":1,"type":4,"content":{"info":5,"nick_name":[],"user_id":{},"photo":true,"time":null}}})",
            "line", {"", "", "", "", ""});
        row("content an array", R"({"list":{"ptype":1,"type":2,"content":[1,2]}})", "in", empty4);
        row("type as a whole float", R"({"list":{"ptype":1.0,"type":2.0}})", "in", empty4);
        row("comments", "/* c */ {\"list\":{\"ptype\":1,\"type\":2} // d\n}", "in", empty4);
        row("zero character in a text", R"({"list":{"ptype":1,"type":2,"content":{"uid":"a\u0000b"}}})", "in",
            {QString::fromUtf8("a\0b", 3), "", "", ""});
        // The largest message taken (a larger one is refused: see the hostile school's table).
        const QString longest(int(DataReceive::kMaxMessageBytes) - 128, QLatin1Char('y'));
        row("line of almost 1 MiB",
            R"({"list":{"ptype":1,"type":4,"content":{"info":")" + longest + R"(","user_id":"u"}}})", "line",
            {longest, "", "u", "", ""});
        const QString web = QStringLiteral("http://courses.example:8080/");
        row("courseware",
            R"({"status":1,"list":{"ptype":2,"type":1,"content":{"id":7,"type":"ppt","courseware_type":1,)"
            R"("title":"第3课课件"}}})",
            "notice", {"第3课课件", web + "courseware/7.html"});
        row("news", R"({"list":{"ptype":3,"type":1,"content":{"id":12,"title":"放假通知"}}})", "notice",
            {"放假通知", web + "news/12.html"});
        row("courseware without id", R"({"list":{"ptype":2,"type":1,"content":{"title":"无链接"}}})", "notice",
            {"无链接", ""});
        row("news, id a string", R"({"list":{"ptype":3,"type":1,"content":{"id":"12","title":"t"}}})", "notice",
            {"t", ""});
        row("courseware, odd members",
            R"({"list":{"ptype":2,"type":1,"content":{"id":3,"type":4,"courseware_type":"x","title":[]}}})", "notice",
            {"", web + "courseware/3.html"});

        // Read as nothing (frames of every other shape: the chat message fuzz target's seeds).
        row("other pair", R"({"list":{"ptype":2,"type":2}})");
    }
    void reading()
    {
        QFETCH(QString, frame);
        QFETCH(QString, signal);
        QFETCH(QStringList, record);
        qDeleteAll(topLevels<popWidget>());
        opened.clear();
        QSignalSpy lists(panel, SIGNAL(s_msg_userslist(std::vector<data_chat_use>)));
        QSignalSpy ins(panel, SIGNAL(s_msg_userIn(data_chat_use)));
        QSignalSpy outs(panel, SIGNAL(s_msg_userOut(data_chat_use)));
        QSignalSpy lines(panel, SIGNAL(s_msg_msg(data_chat_msg)));
        server.sendAll(frame);
        server.sendAll(kSentinel);
        QTRY_VERIFY_WITH_TIMEOUT(
            !lines.isEmpty() && lines.last().at(0).value<data_chat_msg>().user_id == QLatin1String("sentinel"), 10000);
        const int lineCount = lines.count() - 1; // without the sentinel
        const QList<popWidget *> notices = topLevels<popWidget>();

        QCOMPARE(lists.count(), signal == QLatin1String("list") ? 1 : 0);
        QCOMPARE(ins.count(), signal == QLatin1String("in") ? 1 : 0);
        QCOMPARE(outs.count(), signal == QLatin1String("out") ? 1 : 0);
        QCOMPARE(lineCount, signal == QLatin1String("line") ? 1 : 0);
        QCOMPARE(notices.size(), signal == QLatin1String("notice") ? 1 : 0);
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
        } else if (signal == QLatin1String("notice")) {
            popWidget *pop = notices.first();
            QVERIFY(pop->isVisible() && panel->currentNotice() == pop);
            QVERIFY(pop->content().startsWith(QLatin1String("   ")));
            auto *look = pop->findChild<pixButton *>(QStringLiteral("lookBtn"));
            QCOMPARE(look->isVisible(), !record.value(1).isEmpty());
            if (look->isVisible())
                QTest::mouseClick(look, Qt::LeftButton);
            QCOMPARE(opened.size(), look->isVisible() ? 1 : 0);
            got << pop->content().mid(3) << opened.value(0).toString();
            // A notice closed by hand leaves no dangling current notice.
            pop->close();
            QTRY_VERIFY(!panel->currentNotice());
        }
        QCOMPARE(got, record);
    }

    // The first attempt fails, the server comes later: retried; a second create keeps the connection. Then a drop,
    // retries every three seconds while the server is away (one timer for both) with no sending and no ping in between,
    // and back with the ping counting anew. Last a frame that is not UTF-8: the connection that carried it is given up.
    void retriesAndComesBack()
    {
        QVERIFY(useFreshHost());
        const int pingMs = 400;
        DataReceive connection;
        connection.setPingInterval(pingMs);
        QSignalSpy connected(&connection, SIGNAL(s_connected()));
        QSignalSpy dropped(&connection, SIGNAL(s_disconnected()));
        connection.createDataRecvWS();
        QVERIFY(dropped.wait(5000));
        auto server = std::make_unique<ChatTestServer>();
        QVERIFY(server->listen(host));
        QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 1, 8000);
        connection.createDataRecvWS();
        connection.slot_send("after\n");
        QTRY_COMPARE(server->frames.count(QStringLiteral("after\n")), 1);
        QCOMPARE(server->connectedAt.size(), 1);
        QCOMPARE(connected.count(), 1);

        QTRY_VERIFY_WITH_TIMEOUT(server->frames.count(kPing) >= 2, 5000);
        const int first = server->frames.indexOf(kPing);
        const int second = server->frames.indexOf(kPing, first + 1);
        QVERIFY(server->frameAt[second] - server->frameAt[first] >= pingMs - 50);

        server->close();
        QVERIFY(dropped.wait(5000));
        QElapsedTimer sinceDrop;
        sinceDrop.start();
        QVERIFY(!connection.connectedNow());
        connection.slot_send("lost\n");
        connection.slot_ping();
        server.reset();

        ChatTestServer hole;
        hole.blackHole = true;
        QVERIFY(hole.listen(host));
        const qint64 holeStart = sinceDrop.elapsed();
        QTRY_VERIFY_WITH_TIMEOUT(hole.attempts.size() >= 3, 15000);
        // Each attempt three seconds after the one before (the drop first).
        for (int i = 0; i < 3; ++i) {
            const qint64 gap = hole.attempts[i] + holeStart - (i ? hole.attempts[i - 1] + holeStart : 0);
            QVERIFY2(gap >= 2800 && gap <= 4500, qPrintable(QString::number(gap)));
        }
        // Only handshakes reached the server: nothing is sent while down.
        QVERIFY(hole.received.startsWith("GET ") && !hole.received.contains("lost") && !hole.received.contains("ping"));
        QCOMPARE(connected.count(), 1);
        hole.close();

        ChatTestServer back;
        QVERIFY(back.listen(host));
        QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 2, 8000);
        QVERIFY(connection.connectedNow());
        QTRY_VERIFY_WITH_TIMEOUT(back.frames.count(kPing) >= 1, 5000);
        // The first ping one period after the new connection, nothing lost before it.
        QVERIFY(back.frameAt[back.frames.indexOf(kPing)] - back.connectedAt[0] >= pingMs - 50);
        QVERIFY(!back.frames.contains(QStringLiteral("lost\n")));
        connection.slot_send("again\n");
        QTRY_COMPARE(back.frames.count(QStringLiteral("again\n")), 1);

        QSignalSpy received(&connection, SIGNAL(s_reiveMsg(QString)));
        back.sendRaw(QByteArray("\xc3\x28\xff"));
        QVERIFY(dropped.wait(5000));
        QTRY_COMPARE_WITH_TIMEOUT(back.connectedAt.size(), 2, 8000);
        back.sendAll(QStringLiteral("after"));
        QTRY_COMPARE(received.count(), 1);
        QCOMPARE(received[0][0].toString(), QStringLiteral("after"));
    }

    // A received line as the talk view shows it: values as typed, never as markup; the last eight characters of the
    // time; huge values cut to their beginning (a run of 1 MB without a break takes Qt hours to lay out); a line
    // without a sender not at all.
    void receivedLine_data()
    {
        QTest::addColumn<QString>("info");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("uid");
        QTest::addColumn<QString>("header"); // the name and time paragraph; empty: nothing shown
        QTest::addColumn<QString>("shown"); // the text paragraph; null: info itself
        const auto row = [](const char *tag, const QString &info, const QString &name = "N",
                            const QString &time = "10:00:00", QString header = QString(),
                            const QString &shown = QString(), const QString &uid = "u1") {
            if (header.isNull())
                header = name + QLatin1Char(' ') + time;
            QTest::newRow(tag) << info << name << time << uid << header << shown;
        };
        row("markup in the text",
            "<b>bold</b> <img src=\"http://127.0.0.1:1/x.png\"> <a href=\"http://x\">link</a><table><tr><td>t");
        row("markup in name and time", "x", "<i>N</i>", "<b>1</b>");
        row("entities", "&lt;b&gt; &nbsp;", "&amp; &lt;");
        row("placeholders", "%1 %2 %4", "%2%3", "%4");
        row("line breaks", QString::fromUtf8("a\nb\r\nc\rd\u2029e"), "N", "10:00:00", QString(), "a\nb\nc\nd\ne");
        row("blanks", "a   b  \t c ");
        row("empty", "");
        row("date and time", "x", "N", "2016-05-10 09:05:07", "N 09:05:07");
        row("short time", "x", "N", "9:05");
        row("no sender", "x", "N", "10:00:00", "", QString(), QString());
        const QString huge(1 << 20, QLatin1Char('w'));
        row("huge", huge, huge, huge, huge.left(TalkContent::kMaxNameChars) + QChar(0x2026) + " wwwwwwww",
            huge.left(TalkContent::kMaxTextChars) + QChar(0x2026));
        row("longest text not cut", QString(TalkContent::kMaxTextChars, QLatin1Char('v')));
    }
    void receivedLine()
    {
        QFETCH(QString, info);
        QFETCH(QString, name);
        QFETCH(QString, time);
        QFETCH(QString, uid);
        QFETCH(QString, header);
        QFETCH(QString, shown);
        TalkWidget view;
        view.resize(230, 500);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.slot_receiveMsg(line(QStringLiteral("before")));
        view.slot_receiveMsg(line(info, name, time, uid));
        QCoreApplication::processEvents();
        TalkContent &talk = *view.content();
        QCOMPARE(talk.appendedLines(), header.isEmpty() ? 1 : 2);
        if (header.isEmpty())
            return;
        auto last = lastLine(talk);
        QCOMPARE(last.first, header);
        QCOMPARE(last.second.replace(QChar::LineSeparator, QLatin1Char('\n')), shown.isNull() ? info : shown);
        QCOMPARE(talk.browser()->document()->blockCount(), 4);
        const Fragments found = fragments(talk.browser()->document());
        QCOMPARE(found.images.size(), 2); // the senders' pictures only
        QCOMPARE(found.marked, 0);
    }

    // A line shows at once with a placeholder; the sender's picture comes
    // from the cache, fetched once per sender, and fills it in.
    void senderPictures()
    {
        TalkWidget view;
        TalkContent *talk = view.content();
        const QTextDocument *doc = talk->browser()->document();
        view.slot_receiveMsg(line("one", "小明", "10:00:00", "10001", picture("10001")));
        QCOMPARE(talk->appendedLines(), 1);
        QTRY_VERIFY(QFile::exists(QStringLiteral("pic/10001.png")));
        const QImage cached(QStringLiteral("pic/10001.png"));
        QCOMPARE(cached.size(), QSize(20, 20));
        QTRY_VERIFY(testsupport::sameImage(talk->picture("10001"), cached));
        // The second line's address is dead: the cached picture serves.
        view.slot_receiveMsg(line("two", "小明", "10:00:01", "10001", kDead));
        // A sender whose picture cannot be had, and one whose id holds markup.
        view.slot_receiveMsg(line("three", "x", "10:00:02", "20002", kDead));
        view.slot_receiveMsg(line("four", "y", "10:00:03", "a\"><b>%41", picture("30001")));
        QCOMPARE(talk->appendedLines(), 4);
        const Fragments found = fragments(doc);
        QCOMPARE(found.images.size(), 4);
        QCOMPARE(found.images[0], found.images[1]);
        QCOMPARE(found.images[2], TalkContent::pictureName("20002"));
        QCOMPARE(found.marked, 0);
        QTRY_COMPARE(view.pictureLoader()->pending(), 0);
        QVERIFY(testsupport::sameImage(talk->picture("10001"), cached));
        QVERIFY(!talk->picture("20002").isNull());
        QTRY_VERIFY(QFile::exists(avatarCachePath("a\"><b>%41")));
        QVERIFY(testsupport::sameImage(talk->picture("a\"><b>%41"), QImage(avatarCachePath("a\"><b>%41"))));
        QVERIFY(!testsupport::sameImage(talk->picture("a\"><b>%41"), cached));
    }

    // Enter sends the line without what ends it, Shift+Enter goes on to a new line, blanks send nothing. Sent, the box
    // empties and the user's own picture is made ready for the line coming back; not sent (not connected), the text
    // stays and the user is told. Nothing is shown until the server hands a line back.
    void sending()
    {
        UserInfo::instance().userId = QStringLiteral("10001");
        UserInfo::instance().photo = picture(QStringLiteral("10001"));
        TalkWidget view;
        QTextEdit *input = view.input();
        QSignalSpy sent(&view, SIGNAL(s_send(QString)));
        view.setOnline(true);
        QTest::keyClicks(input, QStringLiteral("hello"));
        QTest::keyClick(input, Qt::Key_Return, Qt::ShiftModifier);
        QTest::keyClicks(input, QStringLiteral("world"));
        QTest::keyClick(input, Qt::Key_Return, Qt::ShiftModifier);
        QCOMPARE(sent.count(), 0);
        QTest::keyClick(input, Qt::Key_Return);
        QCOMPARE(sent.count(), 1);
        QCOMPARE(sent.takeFirst().at(0).toString(), QStringLiteral("hello\nworld"));
        QCOMPARE(input->toPlainText(), QString());
        for (const QString &blank : {QString(), QStringLiteral(" \n\t ")}) {
            input->setPlainText(blank);
            QTest::keyClick(input, Qt::Key_Enter, Qt::KeypadModifier);
            QTest::mouseClick(view.sendButton(), Qt::LeftButton);
            QCOMPARE(sent.count(), 0);
        }
        input->setPlainText(QStringLiteral("你好\n第二行\n"));
        QTest::mouseClick(view.sendButton(), Qt::LeftButton);
        QCOMPARE(sent.count(), 1);
        QCOMPARE(sent.takeFirst().at(0).toString(), QStringLiteral("你好\n第二行"));
        QCOMPARE(input->toPlainText(), QString());
        QTRY_VERIFY(QFile::exists(QStringLiteral("pic/10001.png")));
        QVERIFY(!testsupport::takeNotice<Flash>(QStringLiteral("聊天未连接")));
        view.setOnline(false);
        input->setPlainText(QStringLiteral("keep me"));
        QTest::keyClick(input, Qt::Key_Return);
        QCOMPARE(sent.count(), 0);
        QCOMPARE(input->toPlainText(), QStringLiteral("keep me"));
        QVERIFY(testsupport::takeNotice<Flash>(QStringLiteral("聊天未连接")));
        QCOMPARE(view.content()->appendedLines(), 0);
    }

    // Each class entered begins with an empty transcript, whoever wrote the lines before.
    void eachClassBeginsAnew()
    {
        TalkContent *talk = panel->talkWidget()->content();
        CourseInfo course;
        course.listType = 2;
        for (const QString &id : {QStringLiteral("201"), QStringLiteral("202")}) {
            course.id = id;
            panel->joinClass(course);
            QCOMPARE(talk->lines(), 0);
            QCOMPARE(talk->browser()->toPlainText(), QString());
            server.sendAll(kSentinel);
            QTRY_COMPARE(talk->lines(), 1);
        }
        QCOMPARE(lastLine(*talk).second, QStringLiteral("end"));
        panel->slot_logOutChat();
    }

    // At the bottom the transcript follows new lines; scrolled up it stays, and "有新消息" shows until a click on it
    // brings the bottom.
    void newLinesWhileScrolledUp()
    {
        TalkContent talk;
        talk.resize(230, 200);
        talk.show();
        QVERIFY(QTest::qWaitForWindowExposed(&talk));
        QScrollBar *bar = talk.browser()->verticalScrollBar();
        QLabel *mark = talk.newLinesMark();
        const auto append = [&](const QString &text) {
            const int before = bar->maximum();
            talk.appendLine(line(text));
            QTRY_VERIFY(bar->maximum() > before);
        };
        for (int i = 0; i < 20; ++i)
            talk.appendLine(line(QString::number(i)));
        QTRY_VERIFY(bar->maximum() > 0);
        QTRY_COMPARE(bar->value(), bar->maximum());
        QVERIFY(!mark->isVisible());
        bar->setValue(0);
        append(QStringLiteral("unseen"));
        QCOMPARE(bar->value(), 0);
        QVERIFY(mark->isVisible());
        QVERIFY(talk.browser()->geometry().contains(mark->geometry()));
        QTest::mouseClick(mark, Qt::LeftButton);
        QCOMPARE(bar->value(), bar->maximum());
        QVERIFY(!mark->isVisible());
        append(QStringLiteral("seen"));
        QTRY_COMPARE(bar->value(), bar->maximum());
        QVERIFY(!mark->isVisible());
    }

    void transcriptKeepsTheLatestLines()
    {
        TalkContent talk;
        const int total = TalkContent::kMaxLines + TalkContent::kTrimLines + 1;
        for (int i = 0; i < total; ++i) {
            talk.appendLine(line(QStringLiteral("text %1\nmore").arg(i), QStringLiteral("n%1").arg(i)));
            if (i == total - 2)
                QCOMPARE(talk.lines(), TalkContent::kMaxLines + TalkContent::kTrimLines);
        }
        const QTextDocument *doc = talk.browser()->document();
        const int first = total - TalkContent::kMaxLines;
        QCOMPARE(talk.lines(), TalkContent::kMaxLines);
        QCOMPARE(talk.appendedLines(), total);
        QCOMPARE(doc->blockCount(), 2 * TalkContent::kMaxLines);
        QCOMPARE(doc->firstBlock().text().remove(QChar::ObjectReplacementCharacter),
                 QStringLiteral("n%1 10:00:00").arg(first));
        QCOMPARE(lastLine(talk).second,
                 QStringLiteral("text %1").arg(total - 1) + QChar(QChar::LineSeparator) + "more");
    }

    void participants_data()
    {
        // Steps: "in:ID", "out:ID", "list:ID;ID;...", "clear".
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("listed"); // names shown, in order
        QTest::addColumn<QList<int>>("sums"); // s_studentSum values, in order
        QTest::newRow("same uid twice") << QStringList{"in:a", "in:a"} << QStringList{"A"} << QList<int>{1};
        QTest::newRow("list merges") << QStringList{"in:a", "in:b", "list:b;c;a;d"} << QStringList{"A", "B", "C", "D"}
                                     << QList<int>{1, 2, 4};
        QTest::newRow("empty list") << QStringList{"in:a", "list:"} << QStringList{"A"} << QList<int>{1, 1};
        QTest::newRow("out") << QStringList{"in:a", "in:b", "out:a"} << QStringList{"B"} << QList<int>{1, 2, 1};
        QTest::newRow("out of a stranger") << QStringList{"in:a", "out:z"} << QStringList{"A"} << QList<int>{1};
        QTest::newRow("clear") << QStringList{"in:a", "clear", "in:b"} << QStringList{"B"} << QList<int>{1, 0, 1};
    }
    void participants()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, listed);
        QFETCH(QList<int>, sums);
        ConListWidget list;
        QSignalSpy sum(&list, SIGNAL(s_studentSum(int)));
        for (const QString &step : steps) {
            const QString arg = step.section(QLatin1Char(':'), 1);
            if (step.startsWith(QLatin1String("in:"))) {
                list.slot_userIn(user(arg, picture("10001")));
            } else if (step.startsWith(QLatin1String("out:"))) {
                list.slot_userOut(user(arg, QString()));
            } else if (step.startsWith(QLatin1String("list:"))) {
                std::vector<data_chat_use> users;
                for (const QString &id : arg.split(QLatin1Char(';'), Qt::SkipEmptyParts))
                    users.push_back(user(id, picture("10001")));
                list.slot_usersListInf(users);
            } else {
                list.slot_clearUsersList();
            }
        }
        QTRY_COMPARE(list.picturesPending(), 0);
        QStringList names;
        for (int i = 0; i < list.count(); ++i)
            names << list.item(i)->text();
        QCOMPARE(names, listed);
        QCOMPARE(list.participants(), listed.size());
        QList<int> got;
        for (const QList<QVariant> &args : sum)
            got << args.at(0).toInt();
        QCOMPARE(got, sums);
    }
};

QTEST_MAIN(TestProtocol)
#include "tst_protocol.moc"
