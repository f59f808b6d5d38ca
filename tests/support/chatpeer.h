#pragma once

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QWebSocket>

#include <functional>

namespace testsupport {

// A second chat user driven by hand: signs in at the demo school's web service for its own session and speaks the chat
// protocol on a plain QWebSocket. Every message received is kept.
class ChatPeer : public QObject
{
    Q_OBJECT
public:
    ChatPeer();

    // Signs in as user at baseUrl (http://HOST:PORT); false on failure.
    bool signIn(const QString &baseUrl, const QString &user, const QString &password = QStringLiteral("123456"));
    bool open(const QString &chatHost, int timeoutMs = 5000);
    void close();
    // Session and join messages, as the client sends them.
    void join(const QString &orderId);
    void say(const QString &info);
    void leave();

    // The "content" of received messages with list.ptype/list.type.
    QList<QJsonObject> received(int ptype, int type) const;
    // Waits for a message of that kind whose content satisfies match.
    bool waitFor(int ptype, int type, const std::function<bool(const QJsonObject &)> &match, int timeoutMs = 5000);
    void clearReceived() { m_messages.clear(); }

private:
    void send(const QJsonObject &message);

    QWebSocket m_socket;
    QString m_session;
    QList<QJsonObject> m_messages;
};

} // namespace testsupport
