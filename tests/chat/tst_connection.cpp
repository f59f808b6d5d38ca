#include "chattestserver.h"
#include "testsupport.h"

#include "chat/DataReceive.h"

#include <QCryptographicHash>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {

const QString kPing = QStringLiteral("{\"type\":\"ping\"}\n");

// A WebSocket server on HOST:8282 written out by hand, to send frames QtWebSockets would refuse to make (text that
// is not UTF-8); or, as a black hole, one that never answers the handshake: each attempt of the client shows here.
class RawWebSocketServer : public QObject
{
public:
    QList<QByteArray> firstPayloads; // sent to the first client after its handshake
    QList<QByteArray> payloads; // sent to every later one
    bool blackHole = false;
    QList<qint64> attempts; // when each connection came
    QByteArray received;
    QTcpServer server;

    bool listen(const QString &host)
    {
        clock.start();
        connect(&server, &QTcpServer::newConnection, this, [this]() {
            while (QTcpSocket *socket = server.nextPendingConnection()) {
                attempts.append(clock.elapsed());
                connect(socket, &QTcpSocket::readyRead, this, [this, socket]() { readRequest(socket); });
            }
        });
        return server.listen(QHostAddress(host), 8282);
    }

private:
    void readRequest(QTcpSocket *socket)
    {
        const QByteArray data = socket->readAll();
        received += data;
        if (blackHole || socket->property("answered").toBool())
            return;
        const QByteArray request = socket->property("request").toByteArray() + data;
        socket->setProperty("request", request);
        if (!request.contains("\r\n\r\n"))
            return;
        socket->setProperty("answered", true);
        QByteArray key;
        for (const QByteArray &line : request.split('\n'))
            if (line.toLower().startsWith("sec-websocket-key:"))
                key = line.mid(18).trimmed();
        const QByteArray accept =
            QCryptographicHash::hash(key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11", QCryptographicHash::Sha1).toBase64();
        socket->write("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                      "Sec-WebSocket-Accept: " +
                      accept + "\r\n\r\n");
        // Final text frames, short payloads only.
        for (const QByteArray &payload : (clients++ == 0 ? firstPayloads : payloads))
            socket->write(QByteArray(1, char(0x81)) + char(payload.size()) + payload);
    }

    QElapsedTimer clock;
    int clients = 0;
};

} // namespace

// The chat connection against servers of the test's own.
class TestConnection : public QObject
{
    Q_OBJECT

    QString host;

private slots:
    void init()
    {
        host = testsupport::freeLoopbackHost();
        QVERIFY(!host.isEmpty());
        QVERIFY(testsupport::writeSysConfig({{QStringLiteral("chatUrl"), host}}));
    }

    void firstAttemptFailsServerComesLater()
    {
        DataReceive connection;
        QCOMPARE(connection.serverAddress(), QStringLiteral("ws://%1:8282").arg(host));
        QSignalSpy connected(&connection, SIGNAL(s_connected()));
        QSignalSpy dropped(&connection, SIGNAL(s_disconnected()));
        connection.createDataRecvWS();
        QVERIFY(dropped.wait(5000));
        QElapsedTimer sinceFailure;
        sinceFailure.start();
        ChatTestServer server;
        QVERIFY(server.listen(host));
        QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 1, 8000);
        // Retried by the three-second timer, not at once.
        QVERIFY2(sinceFailure.elapsed() >= 2500, qPrintable(QString::number(sinceFailure.elapsed())));
        QVERIFY(connection.connectedNow());
    }

    void secondCreateKeepsTheConnection()
    {
        ChatTestServer server;
        QVERIFY(server.listen(host));
        DataReceive connection;
        QSignalSpy connected(&connection, SIGNAL(s_connected()));
        connection.createDataRecvWS();
        QVERIFY(connected.wait(5000));
        connection.createDataRecvWS();
        connection.slot_send("after\n");
        QTRY_COMPARE(server.framesMatching(QStringLiteral("after\n")), 1);
        QCOMPARE(server.connections, 1);
        QCOMPARE(connected.count(), 1);
        QVERIFY(connection.connectedNow());
    }

    // Drop, retries every three seconds while the server is away, no
    // sending and no ping in between, then back with the ping counting anew.
    void dropRetriesAndComesBack()
    {
        const int pingMs = 400;
        auto server = std::make_unique<ChatTestServer>();
        QVERIFY(server->listen(host));
        DataReceive connection;
        connection.setPingInterval(pingMs);
        QSignalSpy connected(&connection, SIGNAL(s_connected()));
        QSignalSpy dropped(&connection, SIGNAL(s_disconnected()));
        connection.createDataRecvWS();
        QVERIFY(connected.wait(5000));

        QTRY_VERIFY_WITH_TIMEOUT(server->framesMatching(kPing) >= 2, 5000);
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

        RawWebSocketServer hole;
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
        hole.server.close();

        ChatTestServer back;
        QVERIFY(back.listen(host));
        QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 2, 8000);
        QVERIFY(connection.connectedNow());
        QTRY_VERIFY_WITH_TIMEOUT(back.framesMatching(kPing) >= 1, 5000);
        // The first ping one period after the new connection, nothing lost before it.
        QVERIFY(back.frameAt[back.frames.indexOf(kPing)] - back.connectedAt[0] >= pingMs - 50);
        QVERIFY(!back.frames.contains(QStringLiteral("lost\n")));
        connection.slot_send("again\n");
        QTRY_COMPARE(back.framesMatching(QStringLiteral("again\n")), 1);
    }

    void textThatIsNotUtf8()
    {
        RawWebSocketServer raw;
        raw.firstPayloads = {QByteArray("\xc3\x28\xff"), QByteArray("more")};
        raw.payloads = {QByteArray("after")};
        QVERIFY(raw.listen(host));
        DataReceive connection;
        QSignalSpy received(&connection, SIGNAL(s_reiveMsg(QString)));
        connection.createDataRecvWS();
        QSignalSpy dropped(&connection, SIGNAL(s_disconnected()));
        // The connection that carried it is given up; the next one works.
        QTRY_VERIFY_WITH_TIMEOUT(!received.isEmpty() && received.last().at(0).toString() == QLatin1String("after"),
                                 10000);
        QVERIFY(dropped.count() >= 1);
    }
};

QTEST_MAIN(TestConnection)
#include "tst_connection.moc"
