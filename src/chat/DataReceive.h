#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <string>

class QSslError;
class QTimer;
class QWebSocket;

// The client's one WebSocket to the chat server: "/TaviHttp/chatUrl" is a
// full address (wss://HOST[:PORT][/PATH], or ws://...) or a bare host, which
// means ws://HOST:8282. Keeps itself alive with a ping every three minutes
// while connected and retries every three seconds after a drop. Messages
// over kMaxMessageBytes are refused. Knows nothing of the messages it
// carries.
class DataReceive : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 kMaxMessageBytes = 1024 * 1024;

    explicit DataReceive(QObject *parent = nullptr);
    ~DataReceive() override;

    bool connectedNow() const { return isConnected; }
    QString serverAddress() const;
    // Keep-alive period; tests shorten it. Counts from the next connection.
    void setPingInterval(int ms) { pingIntervalMs = ms; }
    // A received frame as the log shows it: cut, escaped, without names.
    static QString frameForLog(const QString &frame);
    static bool isLoopbackHost(const QString &host);

signals:
    void s_reiveMsg(QString msg);
    void s_connected();
    void s_disconnected();
    // The server's certificate was refused (once until a connection
    // succeeds again; each refusal is logged).
    void s_tlsFailed();

public slots:
    void createDataRecvWS();
    void reconnect();
    void slot_send(std::string text);
    void slot_ping();
    void onConnected();
    void onTextReceived(const QString &msg);
    void onDisConnected();

private:
    void open();
    void onSslErrors(const QList<QSslError> &errors);

    QWebSocket *socket = nullptr;
    bool isConnected = false;
    QTimer *reconnectTimer;
    QTimer *pingTimer;
    QString chatHost;
    int pingIntervalMs = 180000;
    bool tlsFailed = false;
    bool plainWarned = false;
};
