#pragma once

#include "school.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <map>
#include <mutex>
#include <string>
#include <vector>

class QWebSocket;
class QWebSocketServer;

namespace httplib {
class Server;
}

// The demo school's chat server (ws://ADDRESS:8282, or wss:// with a
// certificate). The web sign-in's
// session identifies each user; classes are keyed by the join's "orderid".
// Every class also seats the scripted classmates, who can be made to talk
// now and then. Lives on the thread that runs the Qt event loop; its HTTP
// routes hand their work over to that thread.
class ChatServer : public QObject
{
    Q_OBJECT
public:
    // webHost: "HOST:PORT" of the web service, for picture and page links;
    // webScheme: "http" or "https".
    ChatServer(const DemoSchool &school, QString webHost, QString webScheme = QStringLiteral("http"),
               QObject *parent = nullptr);
    // Serves wss:// with this certificate and key (PEM files) from now on;
    // false when they cannot be read.
    bool useTls(const QString &certificateFile, const QString &keyFile);
    // Test helpers of a hostile school: raw frames and crowds beyond 5,000.
    void setHostile(bool on) { hostile = on; }
    ~ChatServer() override;

    bool listen(const QString &address, quint16 port = 8282);
    // A classmate says something every ms on average (0: they stay quiet).
    void setChatter(int ms);
    // A courseware or news notice every ms (0: none).
    void setNoticeInterval(int ms);

    // The classmates' pictures, the courseware and news pages, and the
    // helpers /demo/chat/notice, /demo/chat/say and /demo/chat/crowd (and,
    // when hostile, /demo/chat/raw).
    void install(httplib::Server &server);

private:
    struct Member
    {
        QString uid;
        QString name;
        QString nickName;
        QString photo;
    };
    struct ChatClass
    {
        std::vector<Member> scripted;
        QList<QWebSocket *> sockets;
    };
    struct Client
    {
        const DemoSchool::Account *account = nullptr;
        QString orderId; // empty while in no class
    };

    void onNewConnection();
    void onText(QWebSocket *socket, const QString &text);
    void onClosed(QWebSocket *socket);
    void join(QWebSocket *socket, const QString &orderId);
    void leave(QWebSocket *socket);
    void say(const QString &orderId, const Member &who, const QString &info);
    void notice(const QString &orderId, bool courseware, const QJsonValue &id, const QString &title);
    void crowd(const QString &orderId, int total, const QString &photo);
    void chatterTick();
    void noticeTick();

    ChatClass &classOf(const QString &orderId);
    Member memberOf(const DemoSchool::Account &account) const;
    std::vector<Member> participants(const ChatClass &chatClass) const;
    bool present(const ChatClass &chatClass, const QString &uid, const QWebSocket *except) const;
    void send(QWebSocket *socket, int ptype, int type, const QJsonObject &content);
    void broadcast(const ChatClass &chatClass, int ptype, int type, const QJsonObject &content,
                   const QWebSocket *except = nullptr);
    QString classmatePicture(const QString &uid) const;
    QByteArray drawnPicture(const std::string &uid);

    const DemoSchool &school;
    QString webHost;
    QString webScheme;
    bool hostile = false;
    QWebSocketServer *server;
    std::map<QWebSocket *, Client> clients;
    std::map<QString, ChatClass> classes;
    QTimer chatterTimer;
    QTimer noticeTimer;
    int chatterMs = 0;
    size_t nextNotice = 0;
    std::mutex pictureMutex; // the HTTP threads draw pictures
    std::map<std::string, QByteArray> pictures;
};
