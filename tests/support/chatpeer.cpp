#include "chatpeer.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>

namespace testsupport {

ChatPeer::ChatPeer()
{
    connect(&m_socket, &QWebSocket::textMessageReceived, this,
            [this](const QString &text) { m_messages.append(QJsonDocument::fromJson(text.toUtf8()).object()); });
}

bool ChatPeer::signIn(const QString &baseUrl, const QString &user, const QString &password)
{
    QUrl url(baseUrl + QStringLiteral("/ucenter/default/login"));
    url.setQuery(QUrlQuery{{"username", user}, {"password", password}});
    QNetworkAccessManager manager;
    QScopedPointer<QNetworkReply> reply(manager.get(QNetworkRequest(url)));
    QSignalSpy(reply.data(), &QNetworkReply::finished).wait(10000);
    m_session.clear();
    for (const QNetworkCookie &cookie : reply->header(QNetworkRequest::SetCookieHeader).value<QList<QNetworkCookie>>())
        if (cookie.name() == "marlo")
            m_session = QString::fromUtf8(cookie.value());
    return !m_session.isEmpty();
}

bool ChatPeer::open(const QString &chatHost, int timeoutMs)
{
    QSignalSpy connected(&m_socket, &QWebSocket::connected);
    m_socket.open(QUrl(QStringLiteral("ws://%1:8282").arg(chatHost)));
    return connected.wait(timeoutMs) || m_socket.state() == QAbstractSocket::ConnectedState;
}

void ChatPeer::close()
{
    m_socket.abort();
}

void ChatPeer::send(const QJsonObject &message)
{
    m_socket.sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)) + '\n');
}

void ChatPeer::join(const QString &orderId)
{
    send({{"content", QJsonObject{{"session", m_session}}}, {"ptype", 888}, {"type", 1}});
    send({{"content", QJsonObject{{"orderid", orderId}, {"session", m_session}}}, {"ptype", 1}, {"type", 1}});
}

void ChatPeer::say(const QString &info)
{
    send({{"content", QJsonObject{{"info", info}}}, {"ptype", 1}, {"type", 4}});
}

void ChatPeer::leave()
{
    send({{"ptype", 1}, {"type", 3}});
}

QList<QJsonObject> ChatPeer::received(int ptype, int type) const
{
    QList<QJsonObject> found;
    for (const QJsonObject &message : m_messages) {
        const QJsonObject list = message.value(QStringLiteral("list")).toObject();
        if (list.value(QStringLiteral("ptype")).toInt() == ptype && list.value(QStringLiteral("type")).toInt() == type)
            found.append(list.value(QStringLiteral("content")).toObject());
    }
    return found;
}

bool ChatPeer::waitFor(int ptype, int type, const std::function<bool(const QJsonObject &)> &match, int timeoutMs)
{
    return QTest::qWaitFor(
        [&] {
            const QList<QJsonObject> contents = received(ptype, type);
            return std::any_of(contents.cbegin(), contents.cend(), match);
        },
        timeoutMs);
}

} // namespace testsupport
