#include "school.h"

#include "classes.h"
#include "hostile.h"
#include "pictures.h"

#include <QColor>
#include <QCryptographicHash>
#include <QJsonDocument>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>

#include <httplib.h>

#include <chrono>
#include <thread>

namespace {

const char *const kJson = "application/json; charset=utf-8";
const char *const kHtml = "text/html; charset=utf-8";

std::string toJson(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

QString param(const httplib::Request &req, const char *name)
{
    return req.has_param(name) ? QString::fromStdString(req.get_param_value(name)) : QString();
}

std::string page(const QString &title, const QString &body)
{
    return QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>%1</title>"
                          "<style>body{font-family:'Microsoft YaHei',sans-serif;background:#eff5ff;"
                          "color:#303e54;margin:0}header{background:#303e54;color:#f5f6f7;padding:18px 32px;"
                          "font-size:22px}main{padding:24px 32px}a{color:#de3120}"
                          "input{padding:6px;margin:4px 0;width:220px}</style></head><body>"
                          "<header>Velin 在线课堂</header><main>%2</main></body></html>")
        .arg(title, body)
        .toStdString();
}

} // namespace

DemoSchool::DemoSchool(QString rtmpBase, QString webScheme)
    : rtmpBase(std::move(rtmpBase)), webScheme(std::move(webScheme))
{
    accounts = {
        {QStringLiteral("student"), QStringLiteral("123456"), QStringLiteral("10001"), QStringLiteral("1"),
         QStringLiteral("王小明"), QStringLiteral("13800000001")},
        {QStringLiteral("teacher"), QStringLiteral("123456"), QStringLiteral("20001"), QStringLiteral("3"),
         QStringLiteral("李老师"), QStringLiteral("13800000002")},
        {QStringLiteral("tutor"), QStringLiteral("123456"), QStringLiteral("30001"), QStringLiteral("2"),
         QStringLiteral("张助教"), QStringLiteral("13800000003")},
        // Answered in the older reply form: status as text, numeric user
        // id, no real name and no picture.
        {QStringLiteral("legacy"), QStringLiteral("123456"), QStringLiteral("1234567"), QStringLiteral("1"), QString(),
         QStringLiteral("13800000004")},
    };
    pictures["10001"] = drawUserPicture(QColor(0xfb, 0xab, 0x43));
    pictures["20001"] = drawUserPicture(QColor(0xde, 0x31, 0x20));
    pictures["30001"] = drawUserPicture(QColor(0x30, 0xa2, 0x54));
}

namespace {
// Sessions are signed rather than stored, so a restarted school (and its
// chat server) still knows the clients signed in before.
const char *const kSessionKey = "tavi demo school sessions";

QString sessionMac(const QString &nonce, const QString &userName)
{
    return QString::fromLatin1(QMessageAuthenticationCode::hash((nonce + QLatin1Char(':') + userName).toUtf8(),
                                                                kSessionKey, QCryptographicHash::Sha256)
                                   .toHex()
                                   .left(16));
}
} // namespace

QString DemoSchool::newToken(const Account &account)
{
    QString nonce;
    for (int i = 0; i < 2; ++i)
        nonce += QString::number(QRandomGenerator::system()->generate(), 16).rightJustified(8, QLatin1Char('0'));
    return nonce + sessionMac(nonce, account.userName);
}

const DemoSchool::Account *DemoSchool::sessionAccount(const QString &token) const
{
    if (token.size() != 32)
        return nullptr;
    const QString nonce = token.left(16);
    const QString mac = token.mid(16);
    for (const Account &account : accounts) {
        if (sessionMac(nonce, account.userName) == mac)
            return &account;
    }
    return nullptr;
}

const DemoSchool::Account *DemoSchool::sessionUser(const httplib::Request &req) const
{
    // Cookie: a=1; marlo=...; b=2
    const QStringList parts = QString::fromStdString(req.get_header_value("Cookie")).split(QLatin1Char(';'));
    for (const QString &part : parts) {
        const QString cookie = part.trimmed();
        if (cookie.startsWith(QLatin1String("marlo=")))
            return sessionAccount(cookie.mid(6));
    }
    return nullptr;
}

QString DemoSchool::pictureAddress(const Account &account, const QString &host) const
{
    if (!pictures.count(account.userId.toStdString()))
        return QString();
    return QStringLiteral("%1://%2/avatar/%3.png").arg(webScheme, host, account.userId);
}

void DemoSchool::login(const httplib::Request &req, httplib::Response &res)
{
    if (hostile) {
        hostile->hit(req.path);
        const int delay = hostile->loginDelayMs();
        for (int waited = 0; waited < delay && !stopping; waited += 20)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const QString user = param(req, "username");
    const QString password = param(req, "password");
    for (const Account &account : accounts) {
        if (account.userName != user || account.password != password)
            continue;
        const QString token = newToken(account);
        std::string host = req.get_header_value("Host");
        if (host.empty())
            host = "127.0.0.1";
        QJsonObject list{
            {"userId", account.userId},
            {"userName", account.userName},
            {"type", account.type},
            {"real_name", account.realName},
            {"photo",
             QStringLiteral("%1://%2/avatar/%3.png").arg(webScheme, QString::fromStdString(host), account.userId)},
            {"mobile", account.mobile}};
        QJsonObject reply{{"status", 200}, {"msg", QStringLiteral("登录成功")}, {"list", list}};
        if (account.userName == QLatin1String("legacy")) {
            list.insert("userId", account.userId.toDouble());
            list.insert("real_name", QString());
            list.insert("photo", QString());
            reply.insert("status", "200");
            reply.insert("list", list);
        }
        if (hostile) {
            const QJsonObject values = hostile->loginOverride();
            for (auto it = values.begin(); it != values.end(); ++it)
                list.insert(it.key(), it.value());
            reply.insert("list", list);
        }
        res.set_header("Set-Cookie", "marlo=" + token.toStdString() + "; Path=/; HttpOnly");
        res.set_content(toJson(reply), kJson);
        return;
    }
    res.set_content(toJson({{"status", 401}, {"msg", QStringLiteral("用户名或密码错误")}}), kJson);
}

void DemoSchool::todayCourses(const httplib::Request &req, httplib::Response &res, bool teacherPath)
{
    const Account *user = sessionUser(req);
    if (!user) {
        res.set_content(toJson({{"status", 401}, {"msg", QStringLiteral("请先登录")}}), kJson);
        return;
    }
    const QString type = param(req, "type");
    int listType = 0;
    if (teacherPath && type == QLatin1String("teacher") && (user->type == "2" || user->type == "3"))
        listType = 1;
    else if (teacherPath && type == QLatin1String("student") && user->type == "2")
        listType = 2;
    else if (!teacherPath && type == QLatin1String("student") && user->type != "2" && user->type != "3")
        listType = 2;
    if (listType == 0) {
        res.set_content(toJson({{"status", 403}, {"msg", QStringLiteral("无权查看")}}), kJson);
        return;
    }
    const StreamPlaces places = streamPlaces ? streamPlaces(listType == 2) : StreamPlaces{rtmpBase, rtmpBase, false};
    QJsonArray list = democlasses::todays(user->userName, listType, QDateTime::currentDateTime(), places.origin,
                                          places.students, places.low);
    QJsonObject reply{{"status", 200}};
    if (hostile) {
        const QJsonObject values = hostile->courseOverride();
        for (int i = 0; i < list.size(); ++i) {
            QJsonObject course = list.at(i).toObject();
            for (auto it = values.begin(); it != values.end(); ++it)
                course.insert(it.key(), it.value());
            list.replace(i, course);
        }
        const int pad = hostile->coursePadding();
        if (pad > 0)
            reply.insert("padding", QString(pad, QLatin1Char('x')));
    }
    reply.insert("list", list);
    res.set_content(toJson(reply), kJson);
}

void DemoSchool::install(httplib::Server &server)
{
    server.Get("/ucenter/default/login",
               [this](const httplib::Request &req, httplib::Response &res) { login(req, res); });
    server.Get("/teacher/courseall/todaycourse",
               [this](const httplib::Request &req, httplib::Response &res) { todayCourses(req, res, true); });
    server.Get("/student/courseall/todaycourse",
               [this](const httplib::Request &req, httplib::Response &res) { todayCourses(req, res, false); });
    server.Get(R"(/avatar/(\w+)\.png)", [this](const httplib::Request &req, httplib::Response &res) {
        const auto it = pictures.find(req.matches[1].str());
        if (it == pictures.end()) {
            res.status = 404;
            return;
        }
        res.set_content(it->second.constData(), size_t(it->second.size()), "image/png");
    });
    server.Get("/ucenter/default/register", [](const httplib::Request &, httplib::Response &res) {
        res.set_content(page(QStringLiteral("免费注册"),
                             QStringLiteral("<h2>免费注册</h2><form onsubmit=\"return false\">"
                                            "<div><input placeholder=\"用户名\"></div>"
                                            "<div><input type=\"password\" placeholder=\"密码\"></div>"
                                            "<div><input placeholder=\"手机号\"></div>"
                                            "<button>注册</button></form>"
                                            "<p>演示学校不接受新的注册，请使用 README 中的演示账号。</p>")),
                        kHtml);
    });
    server.Get("/", [](const httplib::Request &, httplib::Response &res) {
        res.set_content(page(QStringLiteral("Velin 在线课堂"),
                             QStringLiteral("<h2>欢迎来到演示学校</h2><p>今日课程请在客户端中查看。</p>"
                                            "<p><a href=\"/ucenter/default/register\">免费注册</a></p>")),
                        kHtml);
    });

    // Helpers for checking the client against awkward answers.
    server.Get("/demo/cookies", [](const httplib::Request &req, httplib::Response &res) {
        // /demo/cookies?set=a=1,b=2 sets each cookie
        const QStringList pairs = param(req, "set").split(QLatin1Char(','), Qt::SkipEmptyParts);
        for (const QString &pair : pairs)
            res.set_header("Set-Cookie", pair.toStdString() + "; Path=/");
        res.set_content(toJson({{"status", 200}}), kJson);
    });
    server.Get("/demo/status", [](const httplib::Request &req, httplib::Response &res) {
        res.status = param(req, "code").toInt();
        if (res.status < 100 || res.status > 599)
            res.status = 500;
        res.set_content(toJson({{"status", res.status}}), kJson);
    });
    server.Get("/demo/echo", [](const httplib::Request &req, httplib::Response &res) {
        const std::string target = req.target;
        const size_t mark = target.find('?');
        QJsonObject echo{
            {"status", 200},
            {"path", QString::fromStdString(req.path)},
            {"query", QString::fromStdString(mark == std::string::npos ? std::string() : target.substr(mark + 1))},
            {"cookie", QString::fromStdString(req.get_header_value("Cookie"))},
            {"host", QString::fromStdString(req.get_header_value("Host"))}};
        res.set_content(toJson(echo), kJson);
    });
    server.Get("/demo/slow", [this](const httplib::Request &req, httplib::Response &res) {
        const int ms = qBound(0, param(req, "ms").toInt(), 60000);
        for (int waited = 0; waited < ms && !stopping; waited += 20)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        res.set_content(toJson({{"status", 200}}), kJson);
    });
}
