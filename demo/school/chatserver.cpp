#include "chatserver.h"

#include "classmates.h"
#include "pictures.h"

#include <QColor>
#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QWebSocket>
#include <QWebSocketServer>

#include <httplib.h>

namespace {

const char *const kHtml = "text/html; charset=utf-8";
// Chat lines are short; nobody needs to send more.
const qint64 kMaxIncoming = 64 * 1024;

QString param(const httplib::Request &req, const char *name)
{
    return req.has_param(name) ? QString::fromStdString(req.get_param_value(name)) : QString();
}

QString textOf(const QJsonValue &value)
{
    if (value.isString())
        return value.toString();
    if (value.isDouble())
        return QString::number(value.toDouble(), 'g', 15);
    return QString();
}

std::string page(const QString &title, const QString &body)
{
    return QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>%1</title>"
                          "<style>body{font-family:'Microsoft YaHei',sans-serif;background:#eff5ff;"
                          "color:#303e54;margin:0}header{background:#303e54;color:#f5f6f7;padding:18px 32px;"
                          "font-size:22px}main{padding:24px 32px}</style></head><body>"
                          "<header>Velin 在线课堂</header><main><h2>%1</h2>%2</main></body></html>")
        .arg(title.toHtmlEscaped(), body)
        .toStdString();
}

} // namespace

ChatServer::ChatServer(const DemoSchool &school, QString webHost, QString webScheme, QObject *parent)
    : QObject(parent), school(school), webHost(std::move(webHost)), webScheme(std::move(webScheme))
{
    server = new QWebSocketServer(QStringLiteral("tavi-demo-school"), QWebSocketServer::NonSecureMode, this);
    connect(server, &QWebSocketServer::newConnection, this, &ChatServer::onNewConnection);
    chatterTimer.setSingleShot(true);
    connect(&chatterTimer, &QTimer::timeout, this, &ChatServer::chatterTick);
    connect(&noticeTimer, &QTimer::timeout, this, &ChatServer::noticeTick);
}

ChatServer::~ChatServer()
{
    for (auto &entry : clients) {
        entry.first->disconnect(this);
        entry.first->abort();
        delete entry.first;
    }
}

bool ChatServer::useTls(const QString &certificateFile, const QString &keyFile)
{
    const QList<QSslCertificate> chain = QSslCertificate::fromPath(certificateFile, QSsl::Pem);
    QFile keyIn(keyFile);
    if (chain.isEmpty() || !keyIn.open(QIODevice::ReadOnly))
        return false;
    const QSslKey key(&keyIn, QSsl::Rsa, QSsl::Pem);
    if (key.isNull())
        return false;
    delete server;
    server = new QWebSocketServer(QStringLiteral("tavi-demo-school"), QWebSocketServer::SecureMode, this);
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificateChain(chain);
    configuration.setPrivateKey(key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    server->setSslConfiguration(configuration);
    connect(server, &QWebSocketServer::newConnection, this, &ChatServer::onNewConnection);
    return true;
}

bool ChatServer::listen(const QString &address, quint16 port)
{
    return server->listen(QHostAddress(address), port);
}

void ChatServer::setChatter(int ms)
{
    chatterMs = ms;
    if (ms > 0)
        chatterTimer.start(ms);
    else
        chatterTimer.stop();
}

void ChatServer::setNoticeInterval(int ms)
{
    if (ms > 0)
        noticeTimer.start(ms);
    else
        noticeTimer.stop();
}

void ChatServer::onNewConnection()
{
    while (QWebSocket *socket = server->nextPendingConnection()) {
        socket->setMaxAllowedIncomingMessageSize(kMaxIncoming);
        clients[socket] = Client();
        connect(socket, &QWebSocket::textMessageReceived, this,
                [this, socket](const QString &text) { onText(socket, text); });
        connect(socket, &QWebSocket::disconnected, this, [this, socket]() { onClosed(socket); });
    }
}

void ChatServer::onClosed(QWebSocket *socket)
{
    if (!clients.count(socket))
        return;
    leave(socket);
    clients.erase(socket);
    socket->deleteLater();
}

void ChatServer::onText(QWebSocket *socket, const QString &text)
{
    const auto found = clients.find(socket);
    if (found == clients.end())
        return;
    Client &client = found->second;
    const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
    const int ptype = message.value(QStringLiteral("ptype")).toInt(-1);
    const int type = message.value(QStringLiteral("type")).toInt(-1);
    const QJsonObject content = message.value(QStringLiteral("content")).toObject();
    if (content.contains(QStringLiteral("session"))) {
        const DemoSchool::Account *account = school.sessionAccount(content.value(QStringLiteral("session")).toString());
        if (account != client.account) {
            // Someone else now: whoever was here leaves first.
            leave(socket);
            client.account = account;
        }
    }

    if (ptype == 1 && type == 1) {
        if (!client.account) {
            socket->sendTextMessage(QStringLiteral("{\"status\":401,\"message\":\"unknown session\"}"));
            return;
        }
        const QString orderId = textOf(content.value(QStringLiteral("orderid")));
        if (!orderId.isEmpty())
            join(socket, orderId);
    } else if (ptype == 1 && type == 3) {
        leave(socket);
    } else if (ptype == 1 && type == 4) {
        const QString info = content.value(QStringLiteral("info")).toString();
        if (client.account && !client.orderId.isEmpty() && !info.trimmed().isEmpty())
            say(client.orderId, memberOf(*client.account), info);
    }
    // Pings and anything else need no answer.
}

ChatServer::ChatClass &ChatServer::classOf(const QString &orderId)
{
    auto found = classes.find(orderId);
    if (found != classes.end())
        return found->second;
    ChatClass &chatClass = classes[orderId];
    for (const Classmate &mate : demoClassmates())
        chatClass.scripted.push_back({mate.uid, mate.name, mate.nickName, classmatePicture(mate.uid)});
    return chatClass;
}

QString ChatServer::classmatePicture(const QString &uid) const
{
    return QStringLiteral("%1://%2/classmate/%3.png").arg(webScheme, webHost, uid);
}

ChatServer::Member ChatServer::memberOf(const DemoSchool::Account &account) const
{
    return {account.userId, account.userName, account.realName.isEmpty() ? account.userName : account.realName,
            school.pictureAddress(account, webHost)};
}

bool ChatServer::present(const ChatClass &chatClass, const QString &uid, const QWebSocket *except) const
{
    for (QWebSocket *other : chatClass.sockets) {
        if (other != except && clients.at(other).account->userId == uid)
            return true;
    }
    return false;
}

std::vector<ChatServer::Member> ChatServer::participants(const ChatClass &chatClass) const
{
    std::vector<Member> list = chatClass.scripted;
    for (QWebSocket *socket : chatClass.sockets) {
        const Member member = memberOf(*clients.at(socket).account);
        bool listed = false;
        for (const Member &m : list)
            listed = listed || m.uid == member.uid;
        if (!listed)
            list.push_back(member);
    }
    return list;
}

void ChatServer::join(QWebSocket *socket, const QString &orderId)
{
    leave(socket);
    Client &client = clients[socket];
    ChatClass &chatClass = classOf(orderId);
    const Member me = memberOf(*client.account);
    const bool alreadyThere = present(chatClass, me.uid, socket);
    chatClass.sockets.append(socket);
    client.orderId = orderId;

    QJsonArray list;
    for (const Member &m : participants(chatClass))
        list.append(QJsonObject{{"uid", m.uid}, {"name", m.name}, {"nick_name", m.nickName}, {"photo", m.photo}});
    send(socket, 1, 1, QJsonObject{{"userInfoList", list}});
    if (!alreadyThere)
        broadcast(chatClass, 1, 2, QJsonObject{{"uid", me.uid}, {"nick_name", me.nickName}, {"photo", me.photo}},
                  socket);
}

void ChatServer::leave(QWebSocket *socket)
{
    Client &client = clients[socket];
    if (client.orderId.isEmpty())
        return;
    ChatClass &chatClass = classOf(client.orderId);
    chatClass.sockets.removeAll(socket);
    client.orderId.clear();
    const Member me = memberOf(*client.account);
    if (!present(chatClass, me.uid, nullptr))
        broadcast(chatClass, 1, 3, QJsonObject{{"uid", me.uid}, {"nick_name", me.nickName}, {"photo", me.photo}});
}

void ChatServer::say(const QString &orderId, const Member &who, const QString &info)
{
    // Everyone in the class hears it, the speaker too.
    broadcast(classOf(orderId), 1, 4,
              QJsonObject{{"info", info},
                          {"nick_name", who.nickName},
                          {"user_id", who.uid},
                          {"photo", who.photo},
                          {"time", QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))}});
}

void ChatServer::notice(const QString &orderId, bool courseware, const QJsonValue &id, const QString &title)
{
    QJsonObject content{{"title", title}};
    if (!id.isUndefined())
        content.insert(QStringLiteral("id"), id);
    if (courseware) {
        content.insert(QStringLiteral("type"), QStringLiteral("ppt"));
        content.insert(QStringLiteral("courseware_type"), 1);
    }
    broadcast(classOf(orderId), courseware ? 2 : 3, 1, content);
}

void ChatServer::crowd(const QString &orderId, int total, const QString &photo)
{
    ChatClass &chatClass = classOf(orderId);
    for (int n = int(participants(chatClass).size()); n < total; ++n) {
        const QString uid = QStringLiteral("p%1").arg(n);
        chatClass.scripted.push_back(
            {uid, uid, QStringLiteral("同学%1").arg(n + 1), photo.isNull() ? classmatePicture(uid) : photo});
    }
}

void ChatServer::chatterTick()
{
    const std::vector<Classmate> &mates = demoClassmates();
    const QStringList &lines = classmateLines();
    auto *random = QRandomGenerator::global();
    for (auto &entry : classes) {
        if (entry.second.sockets.isEmpty())
            continue;
        const Classmate &mate = mates[random->bounded(int(mates.size()))];
        say(entry.first, {mate.uid, mate.name, mate.nickName, classmatePicture(mate.uid)},
            lines[random->bounded(lines.size())]);
    }
    if (chatterMs > 0)
        chatterTimer.start(chatterMs / 2 + random->bounded(chatterMs + 1));
}

void ChatServer::noticeTick()
{
    const DemoNotice &next = demoNotices()[nextNotice++ % demoNotices().size()];
    for (auto &entry : classes) {
        if (!entry.second.sockets.isEmpty())
            notice(entry.first, next.courseware, next.id, next.title);
    }
}

void ChatServer::send(QWebSocket *socket, int ptype, int type, const QJsonObject &content)
{
    const QJsonObject message{{"status", 1},
                              {"message", QStringLiteral("success")},
                              {"list", QJsonObject{{"ptype", ptype}, {"type", type}, {"content", content}}}};
    socket->sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}

void ChatServer::broadcast(const ChatClass &chatClass, int ptype, int type, const QJsonObject &content,
                           const QWebSocket *except)
{
    for (QWebSocket *socket : chatClass.sockets) {
        if (socket != except)
            send(socket, ptype, type, content);
    }
}

QByteArray ChatServer::drawnPicture(const std::string &uid)
{
    std::lock_guard<std::mutex> lock(pictureMutex);
    QByteArray &png = pictures[uid];
    if (png.isEmpty()) {
        // A colour of its own for everyone, the same on every run.
        const QByteArray digest = QCryptographicHash::hash(QByteArray::fromStdString(uid), QCryptographicHash::Md5);
        png = drawUserPicture(QColor::fromHsv((uchar(digest[0]) * 256 + uchar(digest[1])) % 360, 150, 215));
    }
    return png;
}

void ChatServer::install(httplib::Server &http)
{
    http.Get(R"(/classmate/([\w-]{1,64})\.png)", [this](const httplib::Request &req, httplib::Response &res) {
        const QByteArray png = drawnPicture(req.matches[1].str());
        res.set_content(png.constData(), size_t(png.size()), "image/png");
    });
    http.Get(R"(/courseware/(\d{1,9})\.html)", [](const httplib::Request &req, httplib::Response &res) {
        const QString id = QString::fromStdString(req.matches[1].str());
        res.set_content(page(QStringLiteral("课件 %1").arg(id),
                             QStringLiteral("<p>这是演示学校的第 %1 号课件。</p>"
                                            "<ol><li>本节要点</li><li>例题讲解</li><li>课后练习</li></ol>")
                                 .arg(id)),
                        kHtml);
    });
    http.Get(R"(/news/(\d{1,9})\.html)", [](const httplib::Request &req, httplib::Response &res) {
        const QString id = QString::fromStdString(req.matches[1].str());
        res.set_content(page(QStringLiteral("新闻 %1").arg(id),
                             QStringLiteral("<p>演示学校第 %1 号通知：详情请咨询班主任。</p>").arg(id)),
                        kHtml);
    });

    // Helpers for tests and benchmarks; the work is done on the chat's thread.
    auto reply = [](httplib::Response &res) { res.set_content("{\"status\":200}", "application/json"); };
    http.Get("/demo/chat/notice", [this, reply](const httplib::Request &req, httplib::Response &res) {
        const QString orderId = param(req, "orderid");
        const bool courseware = param(req, "kind") != QLatin1String("news");
        const QJsonValue id =
            req.has_param("id") ? QJsonValue(param(req, "id").toInt()) : QJsonValue(QJsonValue::Undefined);
        const QString title = param(req, "title");
        QMetaObject::invokeMethod(
            this, [=]() { notice(orderId, courseware, id, title); }, Qt::QueuedConnection);
        reply(res);
    });
    http.Get("/demo/chat/say", [this, reply](const httplib::Request &req, httplib::Response &res) {
        const QString orderId = param(req, "orderid");
        const QString uid = param(req, "uid");
        const QString info = param(req, "info");
        // photo: another picture than the speaker's own.
        const QString photo = req.has_param("photo") ? param(req, "photo") : QString();
        QMetaObject::invokeMethod(
            this,
            [=]() {
                Member who{uid, uid, uid, classmatePicture(uid)};
                for (const Member &m : classOf(orderId).scripted) {
                    if (m.uid == uid)
                        who = m;
                }
                if (!photo.isNull())
                    who.photo = photo;
                say(orderId, who, info);
            },
            Qt::QueuedConnection);
        reply(res);
    });
    http.Get("/demo/chat/crowd", [this, reply](const httplib::Request &req, httplib::Response &res) {
        const QString orderId = param(req, "orderid");
        const int count = qBound(0, param(req, "count").toInt(), hostile ? 100000 : 5000);
        const QString photo = req.has_param("photo") ? param(req, "photo") : QString();
        QMetaObject::invokeMethod(
            this, [=]() { crowd(orderId, count, photo); }, Qt::QueuedConnection);
        reply(res);
    });
    if (!hostile)
        return;
    // A text frame of about BYTES bytes to everyone in the class.
    http.Get("/demo/chat/raw", [this, reply](const httplib::Request &req, httplib::Response &res) {
        const QString orderId = param(req, "orderid");
        const int bytes = qBound(0, param(req, "bytes").toInt(), 64 * 1024 * 1024);
        QMetaObject::invokeMethod(
            this,
            [=]() {
                const QString frame =
                    QStringLiteral("{\"status\":1,\"message\":\"%1\"}").arg(QString(bytes, QLatin1Char('x')));
                for (QWebSocket *socket : classOf(orderId).sockets)
                    socket->sendTextMessage(frame);
            },
            Qt::QueuedConnection);
        reply(res);
    });
}
