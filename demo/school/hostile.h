#pragma once

// --hostile: the school answers with the values a test sets, as an attacker
// between the client and its school could: markup and local paths in its
// texts and addresses, huge or endless pictures, oversized replies, a slow
// sign-in. Off unless asked for; a normal demo school never serves these.
//
//   /demo/hostile/set?login=JSON&courses=JSON&pad=BYTES&delay=MS
//       login: members merged into every sign-in reply's "list";
//       courses: members merged into every course of today's lists;
//       pad: the course lists grow to at least BYTES; delay: sign-in answers
//       after MS ms. Each call replaces what the last one set.
//   /demo/hostile/hits?path=PATH    how often PATH was asked for
//   /hostile/picture/NAME.png       huge (a PNG header of 30000 x 30000
//       pixels), endless (a PNG that never ends), slow (no answer for 10 s)

#include <QByteArray>
#include <QJsonObject>

#include <atomic>
#include <map>
#include <mutex>
#include <string>

namespace httplib {
class Server;
}

class HostileValues
{
public:
    void install(httplib::Server &server);
    void stop() { stopping = true; }

    QJsonObject loginOverride() const;
    QJsonObject courseOverride() const;
    int coursePadding() const;
    int loginDelayMs() const;
    // Counts one request for path.
    void hit(const std::string &path);

private:
    mutable std::mutex mutex;
    QJsonObject login;
    QJsonObject courses;
    int pad = 0;
    int delay = 0;
    std::map<std::string, int> hits;
    std::atomic<bool> stopping{false};
};

// A PNG whose header says width x height (8-bit grey) but whose data holds
// only a few rows.
QByteArray pngHeaderOnly(int width, int height);
