#include "lessons.h"

#include <QFile>
#include <QStringList>

#include <httplib.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;

// A lesson keeps running this long after its last viewer left, so a
// student who reconnects finds it still there.
constexpr auto kLinger = 10s;
// A lesson that stopped is started again after this pause.
constexpr auto kRestartPause = 1s;
// How long a teacher's publish waits for the lesson to give way.
constexpr auto kGiveWay = 5s;
constexpr auto kTermGrace = 3s;

const char *const kFont = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc";

std::string findInPath(const char *program)
{
    const char *path = std::getenv("PATH");
    const QStringList dirs = QString::fromLocal8Bit(path ? path : "/usr/bin:/bin").split(QLatin1Char(':'));
    for (const QString &dir : dirs) {
        const std::string candidate = (dir + QLatin1Char('/') + QLatin1String(program)).toStdString();
        if (!dir.isEmpty() && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::string();
}

// Text that drawtext shows as it stands inside a quoted value.
QString plainText(QString text)
{
    text.remove(QLatin1Char('\''));
    text.remove(QLatin1Char('\\'));
    text.remove(QLatin1Char('%'));
    return text;
}

} // namespace

DemoLessons::DemoLessons(QString rtmpBase, std::map<QString, QString> streams)
    : m_rtmpBase(std::move(rtmpBase)), m_ffmpeg(findInPath("ffmpeg"))
{
    for (const auto &stream : streams)
        m_lessons[stream.first.toStdString()].title = stream.second;
}

DemoLessons::~DemoLessons()
{
    stop();
}

void DemoLessons::install(httplib::Server &server)
{
    const auto route = [this, &server](const char *path, bool isPlay, bool done) {
        server.Get(path, [this, isPlay, done](const httplib::Request &req, httplib::Response &res) {
            const bool ok = isPlay ? play(req, done) : publish(req, done);
            res.status = ok ? 200 : 403;
            res.set_content(ok ? "ok" : "refused", "text/plain");
        });
    };
    route("/demo/rtmp/play", true, false);
    route("/demo/rtmp/play_done", true, true);
    route("/demo/rtmp/publish", false, false);
    route("/demo/rtmp/publish_done", false, true);
}

bool DemoLessons::play(const httplib::Request &req, bool done)
{
    const std::string name = req.get_param_value("name");
    const std::string client = req.get_param_value("clientid");
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_lessons.find(name);
    if (it == m_lessons.end())
        return true;
    Lesson &lesson = it->second;
    if (done) {
        lesson.viewers.erase(client);
        if (lesson.viewers.empty())
            lesson.lastViewer = Clock::now();
    } else {
        lesson.viewers.insert(client);
    }
    m_changed.notify_all();
    return true;
}

bool DemoLessons::publish(const httplib::Request &req, bool done)
{
    const std::string name = req.get_param_value("name");
    const std::string client = req.get_param_value("clientid");
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto it = m_lessons.find(name);
    if (it == m_lessons.end())
        return true;
    Lesson &lesson = it->second;
    if (done) {
        if (client == lesson.lessonClient)
            lesson.lessonClient.clear();
        if (client == lesson.teacher) {
            lesson.teacher.clear();
            lesson.retryAt = Clock::now() + kRestartPause;
        }
        m_changed.notify_all();
        return true;
    }
    if (req.has_param(kMarker)) {
        lesson.lessonClient = client;
        return true;
    }
    // A teacher: nginx admits one publisher per stream, so the lesson leaves
    // before this answer lets the teacher in.
    lesson.teacher = client;
    m_changed.notify_all();
    m_changed.wait_for(lock, kGiveWay, [&] { return m_stopping || (lesson.pid == 0 && lesson.lessonClient.empty()); });
    return true;
}

void DemoLessons::start()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_thread.joinable())
        return;
    m_stopping = false;
    m_thread = std::thread([this] { run(); });
}

void DemoLessons::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

QStringList DemoLessons::arguments(const std::string &name, const Lesson &lesson) const
{
    QStringList args = {"-hide_banner",
                        "-nostdin",
                        "-loglevel",
                        "error",
                        "-re",
                        "-f",
                        "lavfi",
                        "-i",
                        "testsrc2=size=1280x720:rate=25",
                        "-f",
                        "lavfi",
                        "-i",
                        "sine=frequency=440:beep_factor=4:sample_rate=44100"};
    if (QFile::exists(QString::fromLatin1(kFont))) {
        const QString font = QString::fromLatin1(kFont);
        const QString box = QStringLiteral(":fontcolor=white:box=1:boxcolor=black@0.5");
        args << "-vf"
             << QStringLiteral("drawtext=fontfile=%1:text='%2':fontsize=44%3:boxborderw=12:x=40:y=40,"
                               "drawtext=fontfile=%1:text='%{localtime\\:%X}':fontsize=96%3:boxborderw=16:"
                               "x=(w-tw)/2:y=h-th-80")
                    .arg(font, plainText(QStringLiteral("演示课堂 · ") + lesson.title), box);
    }
    args << "-af"
         << "volume=0.25"
         << "-c:v"
         << "libx264"
         << "-preset"
         << "ultrafast"
         << "-tune"
         << "zerolatency"
         << "-g"
         << "12"
         << "-pix_fmt"
         << "yuv420p"
         << "-c:a"
         << "aac"
         << "-b:a"
         << "96k"
         << "-ar"
         << "44100"
         << "-f"
         << "flv" << QStringLiteral("%1/%2?%3=1").arg(m_rtmpBase, QString::fromStdString(name), QLatin1String(kMarker));
    return args;
}

void DemoLessons::spawn(const std::string &name, Lesson &lesson)
{
    const QStringList args = arguments(name, lesson);
    std::vector<std::string> owned;
    owned.push_back(m_ffmpeg);
    for (const QString &arg : args)
        owned.push_back(arg.toStdString());
    std::vector<char *> argv;
    for (std::string &arg : owned)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here on.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr); // the school blocks SIGTERM
        const int null = ::open("/dev/null", O_RDONLY);
        if (null >= 0)
            ::dup2(null, 0);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    lesson.retryAt = Clock::now() + kRestartPause;
    if (pid < 0)
        return;
    lesson.pid = pid;
    lesson.termSent = Clock::time_point{};
}

void DemoLessons::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopping) {
        const auto now = Clock::now();
        bool changed = false;
        for (auto &entry : m_lessons) {
            Lesson &lesson = entry.second;
            if (lesson.pid != 0) {
                int status = 0;
                const pid_t ended = ::waitpid(lesson.pid, &status, WNOHANG);
                if (ended == lesson.pid || (ended < 0 && errno == ECHILD)) {
                    lesson.pid = 0;
                    lesson.retryAt = now + kRestartPause;
                    changed = true;
                }
            }
            const bool watched = !lesson.viewers.empty() || now - lesson.lastViewer < kLinger;
            const bool wanted = m_enabled && !m_ffmpeg.empty() && lesson.teacher.empty() && watched;
            if (lesson.pid != 0 && !wanted) {
                if (lesson.termSent == Clock::time_point{}) {
                    ::kill(lesson.pid, SIGTERM);
                    lesson.termSent = now;
                } else if (now - lesson.termSent > kTermGrace) {
                    ::kill(lesson.pid, SIGKILL);
                }
            }
            if (lesson.pid == 0 && wanted && now >= lesson.retryAt)
                spawn(entry.first, lesson);
        }
        if (changed)
            m_changed.notify_all();
        // Teachers waiting to publish are woken by a lesson that ended.
        m_changed.wait_for(lock, changed ? 10ms : 100ms);
    }
    for (auto &entry : m_lessons) {
        if (entry.second.pid != 0)
            ::kill(entry.second.pid, SIGTERM);
    }
    for (auto &entry : m_lessons) {
        Lesson &lesson = entry.second;
        if (lesson.pid == 0)
            continue;
        const auto deadline = Clock::now() + kTermGrace;
        while (::waitpid(lesson.pid, nullptr, WNOHANG) == 0 && Clock::now() < deadline)
            std::this_thread::sleep_for(20ms);
        if (::waitpid(lesson.pid, nullptr, WNOHANG) == 0) {
            ::kill(lesson.pid, SIGKILL);
            ::waitpid(lesson.pid, nullptr, 0);
        }
        lesson.pid = 0;
    }
    m_changed.notify_all();
}
