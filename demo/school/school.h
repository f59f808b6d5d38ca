#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

class HostileValues;

// The demo school: accounts, sessions, today's courses and the portal.
class DemoSchool
{
public:
    struct Account
    {
        QString userName;
        QString password;
        QString userId;
        QString type; // "1" student, "2" tutor (teaches and studies), "3" teacher
        QString realName;
        QString mobile;
    };

    // rtmpBase: where the classes' streams live, e.g. rtmp://127.0.0.1:1935/live;
    // webScheme: "http" or "https", for the addresses the school hands out.
    explicit DemoSchool(QString rtmpBase, QString webScheme = QStringLiteral("http"));

    // Where a teacher or a student is sent for a class's streams (default:
    // rtmpBase for all, no low rendition); called from the server's threads.
    struct StreamPlaces
    {
        QString origin;
        QString students;
        bool low = false;
    };
    void setStreamPlaces(std::function<StreamPlaces(bool student)> places) { streamPlaces = std::move(places); }

    // Answers with the values a test sets (see hostile.h); not owned.
    void setHostile(HostileValues *values) { hostile = values; }

    void install(httplib::Server &server);
    // Ends the waits of slow answers.
    void stop() { stopping = true; }

    // The account signed in with the session token ("marlo"), or null.
    // Safe from any thread.
    const Account *sessionAccount(const QString &token) const;
    // SCHEME://HOST:PORT/avatar/ID.png for an account with a picture, else empty.
    QString pictureAddress(const Account &account, const QString &host) const;

private:
    void login(const httplib::Request &req, httplib::Response &res);
    void todayCourses(const httplib::Request &req, httplib::Response &res, bool teacherPath);
    const Account *sessionUser(const httplib::Request &req) const;
    QString newToken(const Account &account);

    QString rtmpBase;
    QString webScheme;
    std::function<StreamPlaces(bool student)> streamPlaces;
    HostileValues *hostile = nullptr;
    std::vector<Account> accounts;
    std::map<std::string, QByteArray> pictures; // userId -> PNG
    std::atomic<bool> stopping{false};
};
