#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTcpServer>
#include <QWebSocket>
#include <QWebSocketServer>

// A chat server of the test's own on HOST:8282: keeps every text frame it
// receives, with the time it came, and can speak to its clients.
class ChatTestServer : public QObject
{
    Q_OBJECT
public:
    ChatTestServer() : server(QStringLiteral("test"), QWebSocketServer::NonSecureMode)
    {
        clock.start();
        connect(&server, &QWebSocketServer::newConnection, this, [this]() {
            while (QWebSocket *socket = server.nextPendingConnection()) {
                sockets.append(socket);
                ++connections;
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

    bool listen(const QString &host) { return server.listen(QHostAddress(host), 8282); }
    // Stops listening and drops every client.
    void close()
    {
        server.close();
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
    int framesMatching(const QString &text) const { return frames.count(text); }

    QWebSocketServer server;
    QList<QWebSocket *> sockets;
    QStringList frames;
    QList<qint64> frameAt;
    QList<qint64> connectedAt;
    int connections = 0;
    QElapsedTimer clock;
};
