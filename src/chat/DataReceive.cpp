#include "chat/DataReceive.h"

#include "base/config.h"
#include "base/logging.h"
#include "chat/datachatsend.h"

#include <QTimer>
#include <QUrl>
#include <QWebSocket>

namespace {
const int kReconnectMs = 3000;
}

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
    return QString::fromLocal8Bit("ws://%1:8282").arg(chatHost);
}

void DataReceive::createDataRecvWS()
{
    if (socket)
        return;
    socket = new QWebSocket(QString(), QWebSocketProtocol::Version13);
    connect(socket, SIGNAL(connected()), this, SLOT(onConnected()));
    connect(socket, SIGNAL(disconnected()), this, SLOT(onDisConnected()));
    connect(socket, SIGNAL(textMessageReceived(const QString &)), this, SLOT(onTextReceived(const QString &)));
    connect(reconnectTimer, SIGNAL(timeout()), this, SLOT(reconnect()));
    connect(pingTimer, SIGNAL(timeout()), this, SLOT(slot_ping()));
    socket->open(QUrl(serverAddress()));
}

void DataReceive::reconnect()
{
    socket->abort();
    socket->open(QUrl(serverAddress()));
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
    reconnectTimer->stop();
    if (!pingTimer->isActive())
        pingTimer->start(pingIntervalMs);
    TAVI_LOG_INFO("onConnected......");
    emit s_connected();
}

void DataReceive::onTextReceived(const QString &msg)
{
    emit s_reiveMsg(msg);
    TAVI_LOG_INFO(msg.toStdString());
}

void DataReceive::onDisConnected()
{
    TAVI_LOG_INFO("onDisConnected......");
    isConnected = false;
    if (!reconnectTimer->isActive())
        reconnectTimer->start(kReconnectMs);
    pingTimer->stop();
    emit s_disconnected();
}
