#pragma once

#include <QString>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <sys/types.h>
#include <thread>

namespace httplib {
class Server;
struct Request;
} // namespace httplib

// Demo lessons: while someone watches a class that no teacher publishes, an
// ffmpeg command line publishes a moving picture with a clock and a tone
// (H.264/AAC FLV, 25 pictures a second) to it, and starts it again if it
// stops. A teacher who starts publishing takes the class over; the lesson
// comes back when the teacher leaves.
//
// nginx-rtmp tells the school who plays and publishes through its notify
// callbacks (notify_method get), answered under /demo/rtmp/:
//   on_play /demo/rtmp/play;  on_play_done /demo/rtmp/play_done;
//   on_publish /demo/rtmp/publish;  on_publish_done /demo/rtmp/publish_done;
// Without them no lesson is ever published.
class DemoLessons
{
public:
    // rtmpBase: the application the classes live in, e.g.
    // rtmp://127.0.0.1:1935/live; streams: stream name -> title shown.
    DemoLessons(QString rtmpBase, std::map<QString, QString> streams);
    ~DemoLessons();

    // Without enabling, the callbacks are answered and nothing published.
    void setEnabled(bool enabled) { m_enabled = enabled; }
    void install(httplib::Server &server);
    void start();
    // Ends every lesson; waits for the publishers to exit.
    void stop();

    // Marks what the school's own publishers add to their address.
    static constexpr const char *kMarker = "demolesson";

private:
    using Clock = std::chrono::steady_clock;

    struct Lesson
    {
        QString title;
        std::set<std::string> viewers; // nginx client ids
        std::string teacher; // client id of a publishing teacher
        std::string lessonClient; // client id of our own publisher
        pid_t pid = 0;
        Clock::time_point retryAt{};
        Clock::time_point lastViewer{};
        Clock::time_point termSent{};
    };

    bool play(const httplib::Request &req, bool done);
    bool publish(const httplib::Request &req, bool done);
    void run();
    void spawn(const std::string &name, Lesson &lesson);
    QStringList arguments(const std::string &name, const Lesson &lesson) const;

    QString m_rtmpBase;
    std::string m_ffmpeg;
    bool m_enabled = false;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::string, Lesson> m_lessons;
    bool m_stopping = false;
    std::thread m_thread;
};
