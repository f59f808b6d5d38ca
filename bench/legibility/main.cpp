// tavi-bench-legibility [--shots N] [--cpu-seconds S] [--joins N] [--x264 "ARGS"]... [--chains-only]
//                       [--keep-shots DIR]
// Can a student read the teacher's code? A teacher's 1920x1080 desktop shows
// program text in a monospace font at 14 and 16 px, dark on light and light
// on dark (four panels). tavi-record publishes it through nginx-rtmp at the
// class's settings; tesseract reads each panel back from the student's
// display, scored as 1 - Levenshtein distance / length of the source text.
// Side by side in one run:
//   (a) the student's client (this process) in full screen (F11 on the
//       classroom screen) on a 1920x1080 display
//   (b) the same stream shown 1:1 by ffplay
//   (c) ffmpeg's own chain: x11grab -> libx264 ultrafast zerolatency held
//       at 1650 kbit/s -> nginx-rtmp -> ffplay (and, a row of its own, with
//       ffmpeg's plain -b:v, an average it overruns)
//   (d) the client in the main window as it opens
//   (e) the source picture (the ceiling)
//   --x264 "ARGS": one more row, ffmpeg's chain with these libx264 arguments
//   (as "-preset superfast -tune zerolatency -b:v 1650k -g 12"), to weigh
//   encoder settings; --chains-only leaves out the client's rows;
//   --keep-shots DIR keeps the screenshots that were read.
// Also: bit rate and time to tavi-play's first picture of each stream, the publisher's
// CPU on a 3840x2160 desktop beside 1920x1080 (and ffmpeg's for the same
// work), and the student's CPU in full screen beside ffplay's on the same
// stream.
// The displays are the bench's own Xvfb servers; the sound server is the
// session's (./run bench).

#include "benchsupport.h"
#include "demoschool.h"
#include "nginxrtmp.h"
#include "testsupport.h"

#include "app/app.h"
#include "app/contentwidget.h"
#include "app/mainwindow.h"
#include "classroom/playaudiovideoctrl.h"
#include "classroom/screen.h"
#include "course/courselist.h"
#include "course/courselistitem.h"
#include "course/coursewidget.h"
#include "net/logindlg.h"
#include "ui/colorbtn.h"
#include "ui/label.h"
#include "ui/messagebox.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

using namespace bench;

namespace {

const QSize kDesktop(1920, 1080);
// The magenta frame around the desktop's picture, by which a screenshot
// shows where the picture lies and how large it is drawn.
constexpr int kFrame = 12;
constexpr int kMargin = 14;
// A terminal along the bottom prints a line every picture: a desktop that
// lives, whose changes take their share of the bit rate.
constexpr int kLogHeight = 150;

QRect logStrip()
{
    return QRect(kFrame, kDesktop.height() - kFrame - kLogHeight, kDesktop.width() - 2 * kFrame, kLogHeight);
}

// Plausible code of our own, a few screens of it.
const char *const kProgram[] = {
    "#include <algorithm>",
    "#include <map>",
    "#include <string>",
    "#include <vector>",
    "",
    "// Counts the words of each lesson and keeps the ten most frequent.",
    "struct WordCount {",
    "    std::string word;",
    "    int count = 0;",
    "};",
    "",
    "static bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }",
    "",
    "std::vector<std::string> splitWords(const std::string &text)",
    "{",
    "    std::vector<std::string> words;",
    "    std::string current;",
    "    for (char c : text) {",
    "        if (isLetter(c)) {",
    "            current.push_back(char(c | 0x20));",
    "        } else if (!current.empty()) {",
    "            words.push_back(current);",
    "            current.clear();",
    "        }",
    "    }",
    "    if (!current.empty())",
    "        words.push_back(current);",
    "    return words;",
    "}",
    "",
    "std::vector<WordCount> topWords(const std::vector<std::string> &words, size_t limit = 10)",
    "{",
    "    std::map<std::string, int> seen;",
    "    for (const auto &w : words)",
    "        ++seen[w];",
    "    std::vector<WordCount> ranked;",
    "    ranked.reserve(seen.size());",
    "    for (const auto &[word, count] : seen)",
    "        ranked.push_back({word, count});",
    "    std::sort(ranked.begin(), ranked.end(), [](const WordCount &a, const WordCount &b) {",
    "        return a.count != b.count ? a.count > b.count : a.word < b.word;",
    "    });",
    "    if (ranked.size() > limit)",
    "        ranked.resize(limit);",
    "    return ranked;",
    "}",
    "",
    "int main(int argc, char **argv)",
    "{",
    "    if (argc < 2) {",
    "        std::fprintf(stderr, \"usage: %s LESSON.txt\\n\", argv[0]);",
    "        return 2;",
    "    }",
    "    std::FILE *file = std::fopen(argv[1], \"r\");",
    "    if (!file)",
    "        return 1;",
    "    std::string text;",
    "    char buffer[4096];",
    "    size_t got = 0;",
    "    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)",
    "        text.append(buffer, got);",
    "    std::fclose(file);",
    "    const auto ranked = topWords(splitWords(text));",
    "    for (size_t i = 0; i < ranked.size(); ++i)",
    "        std::printf(\"%2zu. %-16s %5d\\n\", i + 1, ranked[i].word.c_str(), ranked[i].count);",
    "    return ranked.empty() ? 3 : 0;",
    "}",
};
constexpr int kProgramLines = int(sizeof kProgram / sizeof *kProgram);

struct Panel
{
    QRect rect; // in the 1920x1080 desktop
    int pixels;
    bool dark;
    QString text;
    QString name() const { return QStringLiteral("%1px %2").arg(pixels).arg(dark ? "light on dark" : "dark on light"); }
};

// The teacher's desktop, drawn at scale times 1920x1080 (2: the same desktop
// on a 3840x2160 screen at twice the size).
QImage drawDesktop(int scale, QVector<Panel> *panels)
{
    QImage image(kDesktop * scale, QImage::Format_RGB32);
    image.fill(QColor(255, 0, 255));
    QPainter painter(&image);
    painter.scale(scale, scale);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QRect inner(kFrame, kFrame, kDesktop.width() - 2 * kFrame, kDesktop.height() - 2 * kFrame - kLogHeight);
    const QSize half(inner.width() / 2, inner.height() / 2);
    QVector<Panel> drawn;
    int first = 0;
    for (int i = 0; i < 4; ++i) {
        Panel panel;
        panel.pixels = i % 2 ? 16 : 14;
        panel.dark = i >= 2;
        panel.rect = QRect(inner.topLeft() + QPoint(i % 2 * half.width(), i / 2 * half.height()), half);
        painter.fillRect(panel.rect, panel.dark ? QColor(0x1e, 0x1e, 0x24) : QColor(0xfa, 0xfa, 0xf5));
        QFont font(QStringLiteral("DejaVu Sans Mono"));
        font.setStyleHint(QFont::Monospace);
        font.setPixelSize(panel.pixels);
        painter.setFont(font);
        painter.setPen(panel.dark ? QColor(0xdc, 0xdc, 0xd2) : QColor(0x20, 0x20, 0x28));
        const QFontMetrics metrics(font);
        QStringList lines;
        int y = panel.rect.top() + kMargin + metrics.ascent();
        for (int n = first; y + metrics.descent() < panel.rect.bottom() - kMargin; ++n) {
            const QString text = QString::fromLatin1(kProgram[n % kProgramLines]);
            painter.drawText(panel.rect.left() + kMargin, y, text);
            lines << text;
            y += metrics.lineSpacing();
        }
        first += 17;
        panel.text = lines.join(QLatin1Char('\n'));
        drawn << panel;
    }
    painter.fillRect(logStrip(), Qt::black);
    if (panels)
        *panels = drawn;
    return image;
}

// Lines without their indentation or doubled spaces, empty ones left out:
// the OCR keeps neither.
QString normalized(const QString &text)
{
    QStringList lines;
    for (const QString &l : text.split(QLatin1Char('\n'))) {
        const QString s = l.simplified();
        if (!s.isEmpty())
            lines << s;
    }
    return lines.join(QLatin1Char('\n'));
}

int levenshtein(const QString &a, const QString &b)
{
    QVector<int> row(b.size() + 1);
    for (int j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (int i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = i;
        for (int j = 1; j <= b.size(); ++j) {
            const int up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[b.size()];
}

double charactersRecovered(const QString &read, const QString &source)
{
    const QString truth = normalized(source);
    return std::max(0.0, 1.0 - double(levenshtein(normalized(read), truth)) / truth.size());
}

// Where the framed picture lies in a screenshot: the bounds of the columns and
// rows that are mostly magenta. Empty when there is none.
QRect findPicture(const QImage &shot)
{
    if (shot.isNull())
        return {};
    QVector<int> columns(shot.width()), rows(shot.height());
    for (int y = 0; y < shot.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(shot.constScanLine(y));
        for (int x = 0; x < shot.width(); ++x) {
            const QRgb p = line[x];
            // Also under the control bar's shade, which halves it.
            if (qRed(p) > 90 && qBlue(p) > 90 && 2 * qGreen(p) < std::min(qRed(p), qBlue(p)) &&
                std::abs(qRed(p) - qBlue(p)) < 50) {
                ++columns[x];
                ++rows[y];
            }
        }
    }
    const auto bounds = [](const QVector<int> &counts, int *low, int *high) {
        const int most = *std::max_element(counts.begin(), counts.end());
        *low = -1;
        for (int i = 0; i < counts.size(); ++i)
            if (most >= 40 && counts[i] >= most / 2) {
                if (*low < 0)
                    *low = i;
                *high = i;
            }
        return *low >= 0;
    };
    int left, right, top, bottom;
    if (!bounds(columns, &left, &right) || !bounds(rows, &top, &bottom) || right - left < 100 || bottom - top < 60)
        return {};
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

QString g_tesseract = QStringLiteral("tesseract");
QString g_work;
QString g_keepShots;

// The panel as shown in a screenshot, brought to twice its size on the
// source, in grey, dark text on light: every view reaches the OCR alike.
QString readPanel(const QImage &shot, const QRect &picture, const Panel &panel)
{
    const double sx = (picture.width() + 1) / double(kDesktop.width());
    const double sy = (picture.height() + 1) / double(kDesktop.height());
    const QRect where(picture.left() + int(panel.rect.left() * sx), picture.top() + int(panel.rect.top() * sy),
                      int(panel.rect.width() * sx), int(panel.rect.height() * sy));
    QImage crop = shot.copy(where)
                      .scaled(panel.rect.size() * 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                      .convertToFormat(QImage::Format_Grayscale8);
    if (panel.dark)
        crop.invertPixels();
    static int count = 0;
    const QString file = QStringLiteral("%1/panel-%2.png").arg(g_work).arg(++count);
    crop.save(file);
    QByteArray text;
    testsupport::run(g_tesseract, {file, "-", "--psm", "6", "-l", "eng", "--dpi", "150"}, 120000, &text);
    QFile::remove(file);
    return QString::fromUtf8(text);
}

struct Reading
{
    QVector<double> panel = QVector<double>(4, 0.0);
    // Squared error of the panels' grey against the source's, where the
    // picture is drawn 1:1: finer than the OCR, which forgives a little blur.
    double squaredError = 0;
    qint64 errorSamples = 0;
    int shots = 0;
    int missed = 0;
    QSize drawn;
    double mean() const { return shots ? bench::mean(panel) / shots : NAN; }
    double psnr() const
    {
        if (!errorSamples)
            return NAN;
        return squaredError > 0 ? 10 * std::log10(255.0 * 255.0 * errorSamples / squaredError) : INFINITY;
    }
};

void addError(Reading &r, const QImage &shot, const QRect &picture, const QImage &source, const QVector<Panel> &panels)
{
    if (picture.size() != source.size() || source.size() != kDesktop)
        return;
    for (const Panel &panel : panels)
        for (int y = panel.rect.top(); y <= panel.rect.bottom(); ++y) {
            const QRgb *a = reinterpret_cast<const QRgb *>(shot.constScanLine(picture.top() + y)) + picture.left();
            const QRgb *b = reinterpret_cast<const QRgb *>(source.constScanLine(y));
            for (int x = panel.rect.left(); x <= panel.rect.right(); ++x) {
                const double d = qGray(a[x]) - qGray(b[x]);
                r.squaredError += d * d;
                ++r.errorSamples;
            }
        }
}

// Screenshots to read later: OCR runs once every figure of CPU is taken.
struct View
{
    QString name;
    QVector<QImage> shots;
    QVector<Panel> panels;
    Reading reading;
    QString note;
    QImage source;
    double cpu = NAN;
};

void readView(View &view)
{
    int n = 0;
    for (const QImage &shot : view.shots) {
        if (!g_keepShots.isEmpty())
            shot.save(
                QStringLiteral("%1/%2-%3.png").arg(g_keepShots, view.name.section(QLatin1Char(','), 0, 0)).arg(++n));
        const QRect picture = findPicture(shot);
        if (picture.isEmpty()) {
            ++view.reading.missed;
            continue;
        }
        view.reading.drawn = picture.size();
        addError(view.reading, shot, picture, view.source, view.panels);
        for (int i = 0; i < view.panels.size(); ++i)
            view.reading.panel[i] += charactersRecovered(readPanel(shot, picture, view.panels[i]), view.panels[i].text);
        ++view.reading.shots;
    }
}

// One X display of this bench (Xvfb); started before the application exists,
// so without QProcess.
class Xvfb
{
public:
    ~Xvfb() { stop(); }
    bool start(const QSize &size)
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return false;
        const std::string fd = std::to_string(fds[1]);
        const std::string screen = std::to_string(size.width()) + 'x' + std::to_string(size.height()) + "x24";
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(fds[0]);
            const int quiet = ::open("/dev/null", O_WRONLY);
            ::dup2(quiet, 1);
            ::dup2(quiet, 2);
            // -noreset: without it the server resets when its last client leaves.
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp",
                     "-noreset", static_cast<char *>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        char c = 0;
        while (m_pid > 0 && ::poll(&p, 1, 10000) == 1 && ::read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        ::close(fds[0]);
        if (number.empty())
            return false;
        m_name = QStringLiteral(":%1").arg(QString::fromStdString(number));
        return true;
    }
    void stop()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
        m_pid = -1;
    }
    QString name() const { return m_name; }

private:
    pid_t m_pid = -1;
    QString m_name;
};

QProcessEnvironment onDisplay(const QString &display)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    return env;
}

QImage grab(const QString &display)
{
    QByteArray png;
    if (!testsupport::run(QStringLiteral("ffmpeg"),
                          {"-v", "error", "-f", "x11grab", "-draw_mouse", "0", "-i", display, "-frames:v", "1", "-f",
                           "image2pipe", "-c:v", "png", "-"},
                          20000, &png))
        return {};
    return QImage::fromData(png).convertToFormat(QImage::Format_RGB32);
}

QImage grabSelf()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32) : QImage();
}

// A program of its own started with QProcess, killed when destroyed.
class Child
{
public:
    ~Child() { stop(); }
    bool start(const QString &program, const QStringList &args, const QString &display = QString())
    {
        stop();
        if (!display.isEmpty())
            m_process.setProcessEnvironment(onDisplay(display));
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.start(program, args);
        return m_process.waitForStarted(5000);
    }
    // Ends it as a user would (SIGTERM), then for good.
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    qint64 pid() const { return m_process.processId(); }
    bool running() const { return m_process.state() != QProcess::NotRunning; }

private:
    QProcess m_process;
};

bool published(const QString &url)
{
    return QTest::qWaitFor(
        [&] {
            for (const auto &s : testsupport::probe(url, 6000).value(QStringLiteral("streams")).toArray())
                if (s.toObject().value(QStringLiteral("codec_type")).toString() == QLatin1String("video"))
                    return true;
            return false;
        },
        30000);
}

struct Options
{
    int shots = 3;
    int cpuSeconds = 15;
    int joins = 5;
    QStringList candidates;
    bool chainsOnly = false;
};

// Screenshots of a display once its picture shows: a few seconds to settle,
// then one every 1.5 s (paced: the encoder's rate control moves with time).
QVector<QImage> shots(const std::function<QImage()> &take, const Options &o, QString *note)
{
    QVector<QImage> taken;
    QElapsedTimer waited;
    waited.start();
    if (!QTest::qWaitFor([&] { return !findPicture(take()).isEmpty(); }, 30000)) {
        *note = QStringLiteral("no picture within 30 s");
        taken << take(); // kept to be looked at (--keep-shots)
        return taken;
    }
    QTest::qWait(4000);
    for (int i = 0; i < o.shots; ++i) {
        if (i)
            QTest::qWait(1500);
        taken << take();
    }
    return taken;
}

// Bit rate of the stream's video as it arrives, in kbit/s.
double videoRate(const QString &url, int seconds)
{
    const QString file = g_work + QStringLiteral("/rate.flv");
    QFile::remove(file);
    if (!testsupport::run(QStringLiteral("ffmpeg"),
                          {"-v", "error", "-i", url, "-map", "0:v:0", "-c", "copy", "-t", QString::number(seconds),
                           "-f", "flv", "-y", file},
                          (seconds + 30) * 1000))
        return NAN;
    const double size = QFileInfo(file).size();
    QFile::remove(file);
    return size * 8 / 1000 / seconds;
}

QString g_taviPlay;

// Time to the first picture of the stream as the client's player tells it
// (tavi-play, its engine): the wait for a key picture is most of it.
double joinTime(const QString &url, int joins)
{
    QVector<double> each;
    for (int i = 0; i < joins; ++i) {
        QByteArray out;
        testsupport::run(g_taviPlay, {url, "--frames", "1", "--stats"}, 30000, &out);
        each << statValue(out, "first picture");
    }
    return median(each);
}

// ffmpeg publishing a display at 25 pictures a second, 1920x1080 at most
// (scaled with the area filter, as tavi-record does).
QStringList chainArgs(const QString &display, const QString &encoder, const QString &url)
{
    // With a sound track as the class has: players wait for one they are told of.
    QStringList args{"-v",      "error",      "-f",
                     "x11grab", "-framerate", "25",
                     "-i",      display,      "-f",
                     "lavfi",   "-i",         "sine=frequency=440:sample_rate=44100",
                     "-c:a",    "aac",        "-b:a",
                     "64k",     "-vf",        "scale=w=1920:h=1080:force_original_aspect_ratio=decrease:flags=area",
                     "-c:v",    "libx264",    "-pix_fmt",
                     "yuv420p"};
    return args << encoder.split(QLatin1Char(' '), Qt::SkipEmptyParts) << QStringList{"-f", "flv", url};
}

// The client's encoder settings (src/record/flvoutput.cpp) as ffmpeg's arguments.
const char *const kClientX264 =
    "-preset superfast -tune zerolatency,stillimage -b:v 1650k -maxrate 1650k -bufsize 3300k -g 12";

QStringList ffplayArgs(const QString &url)
{
    return {"-hide_banner", "-loglevel", "error",         "-nostats",  "-noborder", "-left", "0",
            "-top",         "0",         "-window_title", "reference", url};
}

double cpuOver(qint64 pid, int seconds)
{
    const double start = cpuSeconds(pid);
    QElapsedTimer wall;
    wall.start();
    QTest::qWait(seconds * 1000);
    return (cpuSeconds(pid) - start) / (wall.nsecsElapsed() / 1e9);
}

struct Client
{
    MainWindow *window = nullptr;
    Screen *screen = nullptr;
    CourseList *list = nullptr;

    CourseListItem *entry(const QString &id) const
    {
        for (int i = 0; i < list->count(); ++i)
            if (list->entry(i)->courseInfo().id == id)
                return list->entry(i);
        return nullptr;
    }
    bool enter(const QString &id) const
    {
        CourseListItem *item = entry(id);
        if (!item)
            return false;
        QTest::mouseClick(item->enterButton(), Qt::LeftButton);
        MessageBox *box = item->confirmBox();
        if (!QTest::qWaitForWindowExposed(box))
            return false;
        ColorBtn *ok = box->findChild<ColorBtn *>(QStringLiteral("okBtn"));
        if (!ok)
            return false;
        QTest::mouseClick(ok, Qt::LeftButton);
        return true;
    }
    bool end() const
    {
        QTest::mouseClick(screen->endButton(), Qt::LeftButton);
        // On air, [结束] asks first.
        if (screen->endQuestion()->isVisible())
            QTest::mouseClick(screen->endQuestion()->findChild<QWidget *>(QStringLiteral("okBtn")), Qt::LeftButton);
        return QTest::qWaitFor([&] { return screen->playControl()->isIdle(); }, 20000);
    }
};

bool signIn(app &controller, Client *client)
{
    LoginDlg *login = controller.loginDialog();
    login->show();
    if (!QTest::qWaitForWindowExposed(login))
        return false;
    login->findChild<QLineEdit *>(QStringLiteral("userEdit"))->setText(QStringLiteral("student"));
    login->findChild<QLineEdit *>(QStringLiteral("passwordEdit"))->setText(QStringLiteral("123456"));
    QTest::mouseClick(login->findChild<ColorBtn *>(QStringLiteral("loginBtn")), Qt::LeftButton);
    client->window = controller.mainWnd();
    if (!QTest::qWaitFor([&] { return client->window->isVisible(); }, 10000) ||
        !QTest::qWaitForWindowExposed(client->window))
        return false;
    client->screen = client->window->contentArea()->screen();
    client->list = client->window->contentArea()->coursePanel()->list();
    return QTest::qWaitFor([&] { return client->list->count() > 0; }, 10000);
}

bool isFullScreen(const Client &client)
{
    const QWidget *top = client.screen->window();
    const QScreen *screen = QGuiApplication::primaryScreen();
    return top->isFullScreen() && screen && top->geometry() == screen->geometry();
}

// The teacher's side: a display showing the code full screen, published by
// tavi-record (the client's engine) or by ffmpeg's own chain.
struct Teacher
{
    Xvfb display;
    Child picture;
    QVector<Panel> panels;
    QImage source;

    bool start(int scale, const QString &self)
    {
        source = drawDesktop(scale, &panels);
        const QString file = QStringLiteral("%1/desktop-%2.png").arg(g_work).arg(scale);
        if (!source.save(file) || !display.start(source.size()) ||
            !picture.start(self, {"--show", file, QString::number(scale)}, display.name()))
            return false;
        // The pointer out of the text's way.
        testsupport::run(QStringLiteral("env"),
                         {"DISPLAY=" + display.name(), "xdotool", "mousemove", QString::number(source.width() - 1),
                          QString::number(source.height() - 1)});
        return QTest::qWaitFor([&] { return findPicture(grab(display.name())).size() == source.size(); }, 20000);
    }
};

class Terminal : public QWidget
{
public:
    Terminal(QWidget *parent, int scale) : QWidget(parent), m_scale(scale)
    {
        setGeometry(QRect(logStrip().topLeft() * scale, logStrip().size() * scale));
        m_timer.callOnTimeout([this] {
            ++m_step;
            update();
        });
        m_timer.start(40);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.fillRect(rect(), Qt::black);
        p.scale(m_scale, m_scale);
        QFont font(QStringLiteral("DejaVu Sans Mono"));
        font.setPixelSize(14);
        p.setFont(font);
        p.setPen(QColor(0x9c, 0xe0, 0x9c));
        const int spacing = QFontMetrics(font).lineSpacing();
        for (int i = 0, n = m_step; i < 7; ++i, --n)
            p.drawText(kMargin, kLogHeight - 10 - i * spacing,
                       QStringLiteral("[%1/2400] compiling lesson/unit%2/part%3.cpp -> obj/%4.o  %5 ms  (0x%6)")
                           .arg(n, 4)
                           .arg(n % 37)
                           .arg(n * 7 % 101)
                           .arg(n * 2654435761u % 100000)
                           .arg(n * 37 % 500)
                           .arg(n * 2246822519u, 8, 16, QLatin1Char('0')));
    }

private:
    QTimer m_timer;
    int m_step = 0;
    int m_scale;
};

// The child that shows the desktop's picture over the whole screen, with its
// terminal at work.
int showPicture(int argc, char **argv, const QString &file, int scale)
{
    QApplication application(argc, argv);
    QLabel label;
    label.setWindowFlags(Qt::FramelessWindowHint);
    label.setPixmap(QPixmap(file));
    label.setGeometry(QGuiApplication::primaryScreen()->geometry());
    Terminal terminal(&label, scale);
    label.show();
    return application.exec();
}

void printView(const char *key, const View &v, double ceiling)
{
    const double m = v.reading.mean();
    QStringList each;
    for (int i = 0; i < v.panels.size(); ++i)
        each << QStringLiteral("%1 %2")
                    .arg(v.panels[i].name())
                    .arg(v.reading.shots ? v.reading.panel[i] / v.reading.shots : NAN, 0, 'f', 3);
    line("  (%s) %-58s %.3f | ratio to (e) %.3f", key, qPrintable(v.name), m, m / ceiling);
    const QString psnr = std::isnan(v.reading.psnr()) ? QString()
        : std::isinf(v.reading.psnr())                ? QStringLiteral("; panels' PSNR inf")
                                       : QStringLiteral("; panels' PSNR %1 dB").arg(v.reading.psnr(), 0, 'f', 2);
    const QString cpu = std::isnan(v.cpu) ? QString() : QStringLiteral("; ffmpeg %1 cores").arg(v.cpu, 0, 'f', 3);
    line("      (%s; drawn %dx%d%s%s; %d shots read%s%s)", qPrintable(each.join(QStringLiteral(", "))),
         v.reading.drawn.width(), v.reading.drawn.height(), qPrintable(psnr), qPrintable(cpu), v.reading.shots,
         v.reading.missed ? qPrintable(QStringLiteral(", %1 without the picture").arg(v.reading.missed)) : "",
         v.note.isEmpty() ? "" : qPrintable(QStringLiteral("; ") + v.note));
}

Options readOptions(const QStringList &args)
{
    Options o;
    for (int i = 1; i < args.size(); ++i) {
        const QString &a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == QLatin1String("--shots") && hasValue)
            o.shots = std::max(1, args[++i].toInt());
        else if (a == QLatin1String("--cpu-seconds") && hasValue)
            o.cpuSeconds = std::max(1, args[++i].toInt());
        else if (a == QLatin1String("--joins") && hasValue)
            o.joins = std::max(1, args[++i].toInt());
        else if (a == QLatin1String("--x264") && hasValue)
            o.candidates << args[++i];
        else if (a == QLatin1String("--chains-only"))
            o.chainsOnly = true;
        else if (a == QLatin1String("--keep-shots") && hasValue)
            g_keepShots = QDir(args[++i]).absolutePath();
    }
    return o;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 4 && std::string(argv[1]) == "--show")
        return showPicture(argc, argv, QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]));

    // The student's display, of this process.
    Xvfb studentDisplay;
    if (!studentDisplay.start(kDesktop)) {
        std::printf("Xvfb did not start\n");
        return 1;
    }
    qputenv("DISPLAY", studentDisplay.name().toLocal8Bit());
    qunsetenv("WAYLAND_DISPLAY");
    QApplication application(argc, argv);
    const Options o = readOptions(QCoreApplication::arguments());
    const QString self = QCoreApplication::applicationFilePath();
    // ./run bench starts benchmarks in the stage folder.
    const QString stage =
        qEnvironmentVariableIsEmpty("TAVI_STAGE_DIR") ? QDir::currentPath() : qEnvironmentVariable("TAVI_STAGE_DIR");
    qputenv("TAVI_STAGE_DIR", stage.toLocal8Bit());
    const QString taviRecord = stage + QStringLiteral("/tavi-record");
    g_taviPlay = stage + QStringLiteral("/tavi-play");
    QTemporaryDir work;
    g_work = work.path();
    QDir::setCurrent(work.path());
    if (!testsupport::run(g_tesseract, {"--version"}, 10000)) {
        line("tesseract is missing (./run bench installs tesseract-ocr)");
        return 1;
    }

    testsupport::NginxRtmp nginx;
    if (!nginx.start()) {
        line("nginx-rtmp did not start");
        return 1;
    }
    const QString base = nginx.url(QString()).chopped(1);
    Teacher teacher;
    if (!teacher.start(1, self)) {
        line("the teacher's desktop did not show");
        return 1;
    }
    Xvfb referenceDisplay;
    if (!referenceDisplay.start(kDesktop)) {
        line("the reference display did not start");
        return 1;
    }
    const QString ref = referenceDisplay.name();

    View a{QStringLiteral("tavi full screen on 1920x1080"), {}, teacher.panels, {}, {}, teacher.source, NAN};
    View b{QStringLiteral("ffplay 1:1, same stream"), {}, teacher.panels, {}, {}, teacher.source, NAN};
    View d{QStringLiteral("tavi in the main window as it opens"), {}, teacher.panels, {}, {}, teacher.source, NAN};
    View e{QStringLiteral("the source picture"), {teacher.source}, teacher.panels, {}, {}, teacher.source, NAN};
    QVector<View> chains;
    double studentCpu = NAN, ffplayCpu = NAN, taviRate = NAN, taviJoin = NAN;
    QVector<double> chainRate, chainJoin;

    testsupport::DemoSchool school;
    app *controller = nullptr;
    Client client;
    Child publisher;
    const QString classUrl = base + QStringLiteral("/course102");
    if (!o.chainsOnly) {
        if (!school.start(base) || !school.writeSysConfig()) {
            line("the demo school did not start");
            return 1;
        }
        QApplication::setQuitOnLastWindowClosed(false);
        controller = new app;
        if (!signIn(*controller, &client)) {
            line("signing in as student did not work");
            return 1;
        }
        if (!publisher.start(taviRecord, {classUrl}, teacher.display.name()) || !published(classUrl)) {
            line("tavi-record did not publish the teacher's desktop");
            return 1;
        }
        if (!client.enter(QStringLiteral("102"))) {
            line("the student could not enter the class");
            return 1;
        }
        d.shots = shots(grabSelf, o, &d.note);
        d.note += QStringLiteral("window %1x%2, screen %3x%4")
                      .arg(client.window->width())
                      .arg(client.window->height())
                      .arg(client.screen->width())
                      .arg(client.screen->height())
                      .prepend(d.note.isEmpty() ? QString() : QStringLiteral("; "));
        // Keys reach the window that has the keyboard, as a window manager would give it.
        client.window->activateWindow();
        (void)QTest::qWaitForWindowActive(client.window, 5000);
        QTest::keyClick(client.screen, Qt::Key_F11);
        if (!QTest::qWaitFor([&] { return isFullScreen(client); }, 5000))
            a.note = QStringLiteral("NOT full screen: F11 on the classroom screen did nothing");
        a.shots = shots(grabSelf, o, &a.note);
        studentCpu = cpuOver(0, o.cpuSeconds);
        if (isFullScreen(client))
            QTest::keyClick(client.screen, Qt::Key_F11);
        client.end();

        Child ffplay;
        if (ffplay.start(QStringLiteral("ffplay"), ffplayArgs(classUrl), ref)) {
            b.shots = shots([&] { return grab(ref); }, o, &b.note);
            ffplayCpu = cpuOver(ffplay.pid(), o.cpuSeconds);
        }
        ffplay.stop();
        taviRate = videoRate(classUrl, 12);
        taviJoin = joinTime(classUrl, o.joins);
        publisher.stop();
    }

    // (c) at the class's rate, as the client publishes: ffmpeg's plain -b:v
    // is an average that a still desktop's key pictures overrun by a fifth.
    // The plain one follows as a row of its own.
    QStringList encoders{
        QStringLiteral("-preset ultrafast -tune zerolatency -b:v 1650k -maxrate 1650k -bufsize 3300k -g 12"),
        QStringLiteral("-preset ultrafast -tune zerolatency -b:v 1650k -g 12")};
    encoders << o.candidates;
    for (int i = 0; i < encoders.size(); ++i) {
        const QString url = base + QStringLiteral("/chain%1").arg(i);
        View chain{i ? QStringLiteral("ffmpeg chain, %1").arg(encoders[i])
                     : QStringLiteral("ffmpeg chain, x264 ultrafast zerolatency held at 1650k"),
                   {},
                   teacher.panels,
                   {},
                   {},
                   teacher.source,
                   NAN};
        Child ffmpeg;
        if (!ffmpeg.start(QStringLiteral("ffmpeg"), chainArgs(teacher.display.name(), encoders[i], url)) ||
            !published(url)) {
            chain.note = QStringLiteral("did not publish");
        } else {
            Child ffplay;
            if (ffplay.start(QStringLiteral("ffplay"), ffplayArgs(url), ref)) {
                const double start = cpuSeconds(ffmpeg.pid());
                QElapsedTimer wall;
                wall.start();
                chain.shots = shots([&] { return grab(ref); }, o, &chain.note);
                chain.cpu = (cpuSeconds(ffmpeg.pid()) - start) / (wall.nsecsElapsed() / 1e9);
            }
            ffplay.stop();
        }
        chainRate << videoRate(url, 12);
        chainJoin << joinTime(url, o.joins);
        chains << chain;
    }

    // The publisher on a 3840x2160 desktop (the same picture at twice the
    // size) beside 1920x1080, each alone.
    double cpu1080 = NAN, cpu2160 = NAN, ref1080 = NAN, ref2160 = NAN;
    // ffmpeg doing the same work on the same display, measured alone.
    const auto reference = [&](const QString &display, const QString &url) {
        Child ffmpeg;
        if (!ffmpeg.start(QStringLiteral("ffmpeg"), chainArgs(display, QLatin1String(kClientX264), url)) ||
            !published(url))
            return double(NAN);
        QTest::qWait(3000);
        return cpuOver(ffmpeg.pid(), o.cpuSeconds);
    };
    View f{QStringLiteral("ffplay 1:1, tavi publishing a 3840x2160 desktop"),
           {},
           teacher.panels,
           {},
           {},
           teacher.source,
           NAN};
    if (!o.chainsOnly) {
        const QString url = base + QStringLiteral("/cpu");
        if (publisher.start(taviRecord, {url}, teacher.display.name()) && published(url)) {
            QTest::qWait(3000);
            cpu1080 = cpuOver(publisher.pid(), o.cpuSeconds);
        }
        publisher.stop();
        ref1080 = reference(teacher.display.name(), url + QStringLiteral("ref"));
        Teacher large;
        if (large.start(2, self) && publisher.start(taviRecord, {url}, large.display.name()) && published(url)) {
            QTest::qWait(3000);
            cpu2160 = cpuOver(publisher.pid(), o.cpuSeconds);
            Child ffplay;
            if (ffplay.start(QStringLiteral("ffplay"), ffplayArgs(url), ref))
                f.shots = shots([&] { return grab(ref); }, o, &f.note);
        } else {
            f.note = QStringLiteral("the 3840x2160 desktop was not published");
        }
        publisher.stop();
        ref2160 = reference(large.display.name(), url + QStringLiteral("ref"));
    }

    for (View *v : {&a, &b, &d, &e, &f})
        readView(*v);
    for (View &c : chains)
        readView(c);

    const double ceiling = e.reading.mean();
    line("1. legibility of 14/16 px code on a 1920x1080 desktop at 1650 kbit/s: share of the source's characters "
         "read back by tesseract (mean of 4 panels, %d shots each)",
         o.shots);
    if (!o.chainsOnly) {
        printView("a", a, ceiling);
        printView("b", b, ceiling);
    }
    for (int i = 0; i < chains.size(); ++i)
        printView(i ? qPrintable(QStringLiteral("c%1").arg(i)) : "c", chains[i], ceiling);
    if (!o.chainsOnly) {
        printView("d", d, ceiling);
        printView("f", f, ceiling);
    }
    printView("e", e, ceiling);
    const double fa = a.reading.mean(), fc = chains[0].reading.mean();
    if (!o.chainsOnly)
        line("   goal (a) >= 0.95 of (e) and >= (c): %.3f of (e), %.3f of (c): %s", fa / ceiling, fa / fc,
             fa >= 0.95 * ceiling && fa >= fc ? "met" : "NOT met");

    line("2. the streams' video as it arrives (12 s) and time to tavi-play's first picture (median of %d):", o.joins);
    if (!o.chainsOnly)
        line("   tavi-record: %.0f kbit/s, first picture %.3f s", taviRate, taviJoin);
    for (int i = 0; i < chains.size(); ++i)
        line("   (%s) %s: %.0f kbit/s, first picture %.3f s", i ? qPrintable(QStringLiteral("c%1").arg(i)) : "c",
             qPrintable(encoders[i]), chainRate[i], chainJoin[i]);

    if (!o.chainsOnly) {
        line("3. publisher's CPU: tavi-record on a 3840x2160 desktop %.3f cores | on 1920x1080 %.3f cores | ratio "
             "%.2f | goal <= 1.3 (%d s each)",
             cpu2160, cpu1080, cpu2160 / cpu1080, o.cpuSeconds);
        line("   (ffmpeg x11grab -> area scale to 1920x1080 -> libx264 with the client's settings: %.3f | %.3f cores | "
             "ratio %.2f; tavi-record beside it %.2f at 3840x2160, %.2f at 1920x1080)",
             ref2160, ref1080, ref2160 / ref1080, cpu2160 / ref2160, cpu1080 / ref1080);
        line("4. student's CPU on the same stream: tavi full screen %.3f cores | ffplay 1:1 %.3f cores | ratio %.2f | "
             "goal <= 1.0 (%d s each, alone)",
             studentCpu, ffplayCpu, studentCpu / ffplayCpu, o.cpuSeconds);
    }
    delete controller;
    return 0;
}
