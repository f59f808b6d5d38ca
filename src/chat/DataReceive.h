#pragma once

#include <QObject>
#include <QString>

#include <string>

class QTimer;
class QWebSocket;

// The client's one WebSocket to the chat server ("ws://HOST:8282", HOST
// from "/TaviHttp/chatUrl"). Keeps itself alive with a ping every three
// minutes while connected and retries every three seconds after a drop.
// Knows nothing of the messages it carries.
class DataReceive : public QObject
{
    Q_OBJECT
public:
    explicit DataReceive(QObject *parent = nullptr);
    ~DataReceive() override;

    bool connectedNow() const { return isConnected; }
    QString serverAddress() const;
    // Keep-alive period; tests shorten it. Counts from the next connection.
    void setPingInterval(int ms) { pingIntervalMs = ms; }

signals:
    void s_reiveMsg(QString msg);
    void s_connected();
    void s_disconnected();

public slots:
    void createDataRecvWS();
    void reconnect();
    void slot_send(std::string text);
    void slot_ping();
    void onConnected();
    void onTextReceived(const QString &msg);
    void onDisConnected();

private:
    QWebSocket *socket = nullptr;
    bool isConnected = false;
    QTimer *reconnectTimer;
    QTimer *pingTimer;
    QString chatHost;
    int pingIntervalMs = 180000;
};
