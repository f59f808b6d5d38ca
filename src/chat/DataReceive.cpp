#include "chat/DataReceive.h"

#include "base/config.h"
#include "base/logging.h"
#include "chat/datachatsend.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QSslError>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>

namespace {
const int kReconnectMs = 3000;
const int kLogChars = 300;
} // namespace

DataReceive::DataReceive(QObject *parent) : QObject(parent)
{
    reconnectTimer = new QTimer;
    pingTimer = new QTimer;
    chatHost = tavi::sysConfigValue(QStringLiteral("/TaviHttp/chatUrl"));
}

DataReceive::~DataReceive()
{
    delete reconnectTimer;
    delete pingTimer;
    if (socket) {
        socket->disconnect(this);
        socket->abort();
        delete socket;
    }
}

QString DataReceive::serverAddress() const
{
    // A full address (ws:// or wss://, port and path as given), or a bare
    // host on the chat's own port.
    const QString value = chatHost.trimmed();
    if (value.startsWith(QLatin1String("ws://"), Qt::CaseInsensitive) ||
        value.startsWith(QLatin1String("wss://"), Qt::CaseInsensitive))
        return value;
    return QString::fromLocal8Bit("ws://%1:8282").arg(value);
}

QString DataReceive::frameForLog(const QString &frame)
{
    // Participants' names stay out of the log; so do line breaks that
    // would forge lines of their own.
    static const QRegularExpression names(
        QStringLiteral("(\"(?:name|nick_name|real_name)\"\\s*:\\s*)\"(?:[^\"\\\\]|\\\\.)*(?:\"|\\\\?$)"));
    QString head = frame.left(2 * kLogChars);
    head.replace(names, QStringLiteral("\\1\"*\""));
    return tavi::logExcerpt(head, kLogChars, frame.size());
}

void DataReceive::createDataRecvWS()
{
    if (socket)
        return;
    socket = new QWebSocket(QString(), QWebSocketProtocol::Version13);
    // Larger messages are refused: the socket closes (code 1009) and the
    // connection is made anew, as after any other drop.
    socket->setMaxAllowedIncomingMessageSize(kMaxMessageBytes);
    socket->setMaxAllowedIncomingFrameSize(kMaxMessageBytes);
    connect(socket, SIGNAL(connected()), this, SLOT(onConnected()));
    connect(socket, SIGNAL(disconnected()), this, SLOT(onDisConnected()));
    connect(socket, SIGNAL(textMessageReceived(const QString &)), this, SLOT(onTextReceived(const QString &)));
    connect(socket, QOverload<const QList<QSslError> &>::of(&QWebSocket::sslErrors), this, &DataReceive::onSslErrors);
    connect(socket, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error), this,
            [this]() { TAVI_LOG_WARN("chat connection: " << tavi::logExcerpt(socket->errorString(), 200)); });
    connect(reconnectTimer, SIGNAL(timeout()), this, SLOT(reconnect()));
    connect(pingTimer, SIGNAL(timeout()), this, SLOT(slot_ping()));
    open();
}

void DataReceive::open()
{
    const QUrl url(serverAddress());
    if (url.scheme() == QLatin1String("ws") && !isLoopbackHost(url.host()) && !plainWarned) {
        plainWarned = true;
        TAVI_LOG_WARN("chat over plain ws:// to " << tavi::logExcerpt(url.host(), 100)
                                                  << ": the session goes unencrypted");
    }
    socket->open(url);
}

bool DataReceive::isLoopbackHost(const QString &host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

void DataReceive::reconnect()
{
    socket->abort();
    open();
}

void DataReceive::slot_send(std::string text)
{
    if (!isConnected)
        return;
    socket->sendTextMessage(QString::fromUtf8(text.c_str()));
}

void DataReceive::slot_ping()
{
    if (!isConnected)
        return;
    socket->sendTextMessage(QString::fromStdString(data_chat_send::pingText()));
}

void DataReceive::onConnected()
{
    isConnected = true;
    tlsFailed = false;
    reconnectTimer->stop();
    if (!pingTimer->isActive())
        pingTimer->start(pingIntervalMs);
    TAVI_LOG_INFO("onConnected......");
    emit s_connected();
}

void DataReceive::onTextReceived(const QString &msg)
{
    emit s_reiveMsg(msg);
    TAVI_LOG_INFO(frameForLog(msg));
}

void DataReceive::onDisConnected()
{
    TAVI_LOG_INFO("onDisConnected...... (" << int(socket->closeCode()) << " "
                                           << tavi::logExcerpt(socket->closeReason(), 120) << ")");
    isConnected = false;
    if (!reconnectTimer->isActive())
        reconnectTimer->start(kReconnectMs);
    pingTimer->stop();
    emit s_disconnected();
}

void DataReceive::onSslErrors(const QList<QSslError> &errors)
{
    // Never ignored: the handshake fails and the connection is retried.
    // Logged and shown once until a connection succeeds again, not at
    // every retry.
    if (tlsFailed)
        return;
    tlsFailed = true;
    for (const QSslError &error : errors)
        TAVI_LOG_ERROR("chat certificate refused: " << tavi::logExcerpt(error.errorString(), 200));
    emit s_tlsFailed();
}
