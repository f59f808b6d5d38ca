// tavi-demo-school [--demo] [--listen ADDRESS] [--port N] [--rtmp rtmp://HOST:PORT/APP]
//                  [--lessons | --no-lessons]
// Serves the demo school's web service until SIGINT or SIGTERM. --demo
// takes address and port from the stage's etc/sysConfigue.ini when started
// in the stage folder (127.0.0.1:18080 otherwise) and publishes demo lessons
// (see lessons.h), as --lessons does.

#include "classes.h"
#include "lessons.h"
#include "school.h"
#include "updates.h"

#include <QFile>
#include <QSettings>
#include <QUrl>

#include <httplib.h>

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <pthread.h>
#include <string>
#include <thread>

namespace {
void usage()
{
    std::cerr << "usage: tavi-demo-school [--demo] [--listen ADDRESS] [--port N] "
                 "[--rtmp rtmp://HOST:PORT/APP] [--lessons | --no-lessons]\n"
                 "  --demo     the stage's settings (etc/sysConfigue.ini in the working folder),\n"
                 "             else 127.0.0.1 port 18080; streams at rtmp://127.0.0.1:1935/live;\n"
                 "             demo lessons on\n"
                 "  --lessons  publish a demo lesson to every watched class no teacher publishes\n"
                 "             (needs nginx-rtmp's notify callbacks, see lessons.h)\n";
}
} // namespace

int main(int argc, char **argv)
{
    std::string address = "127.0.0.1";
    int port = 18080;
    std::string rtmp = "rtmp://127.0.0.1:1935/live";
    int lessons = -1; // -1: as --demo says
    bool demo = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--demo") {
            demo = true;
            if (QFile::exists(QStringLiteral("etc/sysConfigue.ini"))) {
                QSettings ini(QStringLiteral("etc/sysConfigue.ini"), QSettings::IniFormat);
                const QUrl url(ini.value(QStringLiteral("/TaviHttp/Url")).toString());
                if (!url.host().isEmpty())
                    address = url.host().toStdString();
                port = url.port(port);
            }
        } else if (arg == "--listen" && hasValue) {
            address = argv[++i];
        } else if (arg == "--port" && hasValue) {
            port = std::atoi(argv[++i]);
        } else if (arg == "--rtmp" && hasValue) {
            rtmp = argv[++i];
        } else if (arg == "--lessons" || arg == "--no-lessons") {
            lessons = arg == "--lessons" ? 1 : 0;
        } else {
            usage();
            return 2;
        }
    }
    if (port <= 0 || port > 65535) {
        std::cerr << "tavi-demo-school: bad port\n";
        return 2;
    }

    // Signals are taken by one thread that stops the server.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    DemoSchool school(QString::fromStdString(rtmp));
    httplib::Server server;
    // Idle keep-alive connections hold up stopping; keep them short.
    server.set_keep_alive_timeout(1);
    school.install(server);
    DemoUpdates updates(QStringLiteral(TAVI_VERSION));
    updates.install(server);
    DemoLessons demoLessons(QString::fromStdString(rtmp), democlasses::watchedStreams());
    demoLessons.setEnabled(lessons == 1 || (lessons == -1 && demo));
    demoLessons.install(server);
    if (!server.bind_to_port(address.c_str(), port)) {
        std::cerr << "tavi-demo-school: cannot listen on " << address << ":" << port << "\n";
        return 1;
    }
    std::thread waiter([&]() {
        int received = 0;
        sigwait(&stopSignals, &received);
        school.stop();
        demoLessons.stop();
        server.stop();
    });
    demoLessons.start();
    std::cout << "tavi-demo-school: http://" << address << ":" << port << "/ (streams " << rtmp << ")"
              << std::endl;
    const bool served = server.listen_after_bind();
    // Wakes the waiter if the server ended by itself.
    pthread_kill(waiter.native_handle(), SIGTERM);
    waiter.join();
    return served ? 0 : 1;
}
