// tavi-demo-school [--demo] [--listen ADDRESS] [--port N] [--rtmp rtmp://HOST:PORT/APP]
//                  [--lessons | --no-lessons] [--chat ADDRESS] [--chatter MS] [--notices MS]
//                  [--tls-cert FILE --tls-key FILE] [--hostile] [--edges N] [--low]
// Serves the demo school's web service until SIGINT or SIGTERM, and with
// --chat its chat server on ADDRESS:8282. --demo takes address, port and
// chat host from the stage's etc/sysConfigue.ini when started in the stage
// folder (127.0.0.1:18080 otherwise), publishes demo lessons (see lessons.h)
// as --lessons does, lets the classmates talk, and starts nginx-rtmp for the
// streams (through the tests' own starter) unless a server holds their port.
// With a certificate and its key (PEM) the school serves https and wss
// instead of http and ws. --hostile answers with values a test sets (see
// hostile.h). --edges N starts the streams' server as an origin with N edge
// servers that students are sent to, each class relayed once to each edge;
// --low (implied by --edges) makes the origin add each class's low-rate
// rendition, offered to students as rtmplat_low (see streamservers.h).

#include "chatserver.h"
#include "classes.h"
#include "hostile.h"
#include "lessons.h"
#include "school.h"
#include "streamservers.h"
#include "updates.h"

#include <QCoreApplication>
#include <QFile>
#include <QSettings>
#include <QUrl>

#include <httplib.h>

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <pthread.h>
#include <string>
#include <thread>

namespace {
void usage()
{
    std::cerr << "usage: tavi-demo-school [--demo] [--listen ADDRESS] [--port N] "
                 "[--rtmp rtmp://HOST:PORT/APP]\n"
                 "                        [--lessons | --no-lessons] [--chat ADDRESS] [--chatter MS] [--notices MS]\n"
                 "                        [--tls-cert FILE --tls-key FILE] [--hostile]\n"
                 "  --demo     the stage's settings (etc/sysConfigue.ini in the working folder),\n"
                 "             else 127.0.0.1 port 18080; streams at rtmp://127.0.0.1:1935/live\n"
                 "             on an nginx-rtmp of its own when nothing listens there; demo\n"
                 "             lessons on; the chat on the settings' chat host, with talking\n"
                 "             classmates\n"
                 "  --lessons  publish a demo lesson to every watched class no teacher publishes\n"
                 "             (needs nginx-rtmp's notify callbacks, see lessons.h)\n"
                 "  --chat     the chat server on ADDRESS port 8282\n"
                 "  --chatter  a classmate says something every MS ms on average\n"
                 "  --notices  a courseware or news notice every MS ms\n"
                 "  --tls-cert, --tls-key  https and wss with this certificate and key (PEM)\n"
                 "  --hostile  answer with the hostile values a test sets (see hostile.h)\n"
                 "  --edges N  a larger school: the streams' server as an origin that teachers publish to,\n"
                 "             and N edge servers (nginx-rtmp pull) that students are sent to, the least\n"
                 "             loaded first; implies --low\n"
                 "  --low      the origin makes each class's 640x360 low-rate rendition (\"_low\")\n";
}

struct Options
{
    std::string address = "127.0.0.1";
    int port = 18080;
    std::string rtmp = "rtmp://127.0.0.1:1935/live";
    QString chatAddress;
    int chatter = 0;
    int notices = 0;
    int lessons = -1; // -1: as --demo says
    bool demo = false;
    bool hostile = false;
    int edges = 0;
    bool low = false;
    std::string tlsCert;
    std::string tlsKey;
};

// --demo: the stage's own addresses when started in the stage folder.
void takeDemoSettings(Options &o)
{
    o.demo = true;
    o.chatAddress = QStringLiteral("127.0.0.1");
    o.chatter = 12000;
    o.notices = 150000;
    if (!QFile::exists(QStringLiteral("etc/sysConfigue.ini")))
        return;
    QSettings ini(QStringLiteral("etc/sysConfigue.ini"), QSettings::IniFormat);
    const QUrl url(ini.value(QStringLiteral("/TaviHttp/Url")).toString());
    if (!url.host().isEmpty())
        o.address = url.host().toStdString();
    o.port = url.port(o.port);
    const QString chatHost = ini.value(QStringLiteral("/TaviHttp/chatUrl")).toString();
    if (!chatHost.isEmpty())
        o.chatAddress = chatHost;
}

// False, with the reason on stderr, when the command line is not usable.
bool readOptions(int argc, char **argv, Options &o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--demo") {
            takeDemoSettings(o);
        } else if (arg == "--chat" && hasValue) {
            o.chatAddress = QString::fromLocal8Bit(argv[++i]);
        } else if (arg == "--chatter" && hasValue) {
            o.chatter = std::atoi(argv[++i]);
        } else if (arg == "--notices" && hasValue) {
            o.notices = std::atoi(argv[++i]);
        } else if (arg == "--listen" && hasValue) {
            o.address = argv[++i];
        } else if (arg == "--port" && hasValue) {
            o.port = std::atoi(argv[++i]);
        } else if (arg == "--rtmp" && hasValue) {
            o.rtmp = argv[++i];
        } else if (arg == "--tls-cert" && hasValue) {
            o.tlsCert = argv[++i];
        } else if (arg == "--tls-key" && hasValue) {
            o.tlsKey = argv[++i];
        } else if (arg == "--edges" && hasValue) {
            o.edges = std::atoi(argv[++i]);
            o.low = true;
        } else if (arg == "--low") {
            o.low = true;
        } else if (arg == "--hostile") {
            o.hostile = true;
        } else if (arg == "--lessons" || arg == "--no-lessons") {
            o.lessons = arg == "--lessons" ? 1 : 0;
        } else {
            usage();
            return false;
        }
    }
    if (o.port <= 0 || o.port > 65535) {
        std::cerr << "tavi-demo-school: bad port\n";
        return false;
    }
    if (o.edges < 0 || o.edges > 16) {
        std::cerr << "tavi-demo-school: --edges takes 0 to 16\n";
        return false;
    }
    if (o.tlsCert.empty() != o.tlsKey.empty()) {
        std::cerr << "tavi-demo-school: --tls-cert and --tls-key go together\n";
        return false;
    }
    return true;
}

// The web server, https when a certificate is given; null if it cannot be used.
std::unique_ptr<httplib::Server> makeServer(const Options &o)
{
    std::unique_ptr<httplib::Server> server;
    if (!o.tlsCert.empty()) {
        auto secure = std::make_unique<httplib::SSLServer>(o.tlsCert.c_str(), o.tlsKey.c_str());
        if (!secure->is_valid()) {
            std::cerr << "tavi-demo-school: cannot use " << o.tlsCert << " and " << o.tlsKey << "\n";
            return nullptr;
        }
        server = std::move(secure);
    } else {
        server = std::make_unique<httplib::Server>();
    }
    // Idle keep-alive connections hold up stopping; keep them short.
    server->set_keep_alive_timeout(1);
    // Headers and body go out in separate writes: without this, every
    // answer on a reused connection waits for the client's delayed ACK.
    server->set_tcp_nodelay(true);
    return server;
}

// The chat on its address; false when the program should end.
bool startChat(ChatServer &chat, const Options &o, bool tls)
{
    if (o.chatAddress.isEmpty())
        return true;
    if (chat.listen(o.chatAddress)) {
        chat.setChatter(o.chatter);
        chat.setNoticeInterval(o.notices);
        std::cout << "tavi-demo-school: chat " << (tls ? "wss://" : "ws://") << o.chatAddress.toStdString() << ":8282"
                  << std::endl;
        return true;
    }
    if (o.demo) {
        std::cerr << "tavi-demo-school: chat port " << o.chatAddress.toStdString() << ":8282 is taken; no chat\n";
        return true;
    }
    std::cerr << "tavi-demo-school: cannot listen on " << o.chatAddress.toStdString() << ":8282\n";
    return false;
}
} // namespace

int main(int argc, char **argv)
{
    // Signals are taken by one thread that stops the server; every thread
    // started from here on inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    QCoreApplication app(argc, argv);

    Options o;
    if (!readOptions(argc, argv, o))
        return 2;
    const bool tls = !o.tlsCert.empty();
    const QString scheme = tls ? QStringLiteral("https") : QStringLiteral("http");
    DemoSchool school(QString::fromStdString(o.rtmp), scheme);
    HostileValues hostileValues;
    if (o.hostile)
        school.setHostile(&hostileValues);
    const std::unique_ptr<httplib::Server> servedBy = makeServer(o);
    if (!servedBy)
        return 2;
    httplib::Server &server = *servedBy;
    school.install(server);
    const std::string webHost =
        (o.address == "0.0.0.0" ? std::string("127.0.0.1") : o.address) + ":" + std::to_string(o.port);
    ChatServer chat(school, QString::fromStdString(webHost), scheme);
    chat.setHostile(o.hostile);
    if (tls && !chat.useTls(QString::fromStdString(o.tlsCert), QString::fromStdString(o.tlsKey))) {
        std::cerr << "tavi-demo-school: the chat cannot use " << o.tlsCert << " and " << o.tlsKey << "\n";
        return 2;
    }
    chat.install(server);
    if (o.hostile)
        hostileValues.install(server);
    DemoUpdates updates(QStringLiteral(TAVI_VERSION), QStringLiteral(TAVI_DEMO_UPDATE_SECRET));
    updates.install(server);
    DemoLessons demoLessons(QString::fromStdString(o.rtmp), democlasses::watchedStreams());
    demoLessons.setEnabled(o.lessons == 1 || (o.lessons == -1 && o.demo));
    demoLessons.install(server);
    if (!server.bind_to_port(o.address.c_str(), o.port)) {
        std::cerr << "tavi-demo-school: cannot listen on " << o.address << ":" << o.port << "\n";
        return 1;
    }
    StreamServers streams;
    if ((o.demo || o.edges > 0 || o.low) &&
        !streams.start(QUrl(QString::fromStdString(o.rtmp)), o.edges, o.low,
                       QStringLiteral("http://%1/demo/rtmp").arg(QString::fromStdString(webHost))) &&
        !o.demo)
        return 1;
    if (o.edges > 0 || o.low)
        school.setStreamPlaces([&streams](bool student) {
            const StreamServers::Places p = student ? streams.placesForStudent() : streams.placesForTeacher();
            return DemoSchool::StreamPlaces{p.origin, p.students, p.low};
        });
    if (!startChat(chat, o, tls))
        return 1;
    bool served = false;
    std::thread web([&]() {
        served = server.listen_after_bind();
        QMetaObject::invokeMethod(&app, "quit", Qt::QueuedConnection);
    });
    std::thread waiter([&]() {
        int received = 0;
        sigwait(&stopSignals, &received);
        school.stop();
        hostileValues.stop();
        demoLessons.stop();
        server.stop();
        QMetaObject::invokeMethod(&app, "quit", Qt::QueuedConnection);
    });
    demoLessons.start();
    std::cout << "tavi-demo-school: " << scheme.toStdString() << "://" << o.address << ":" << o.port << "/ (streams "
              << o.rtmp << ")" << std::endl;
    app.exec();
    server.stop();
    web.join();
    // Wakes the waiter if the server ended by itself.
    pthread_kill(waiter.native_handle(), SIGTERM);
    waiter.join();
    return served ? 0 : 1;
}
