// A whole class end to end: the demo school, nginx-rtmp and a teacher's and a student's tavi, each from its own
// copy of the installation, driven through their windows (pointer, keyboard) and checked in screenshots and by
// ear (PulseAudio null sinks). The teacher's window sits bottom left, the student's top right, and windows of
// coloured blocks fill the free corners: the teacher publishes the whole display, so the student sees the blocks.
#include "chatpeer.h"
#include "client.h"
#include "demoschool.h"
#include "nginxrtmp.h"
#include "patternwindow.h"
#include "sound.h"

#include "base/picturefit.h"
#include "ui/label.h"
#include "ui/textbtn.h"

#include <QJsonArray>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSet>
#include <QStandardPaths>
#include <QtTest>

#include <unistd.h>

namespace {

const QColor kInputBorder(230, 230, 230);
const QColor kNameBlue(0x00, 0x55, 0xff); // sender and time of a chat line
const QColor kTextGreen(0x55, 0xaa, 0x7f); // its text
const QColor kLiveColour(170, 20, 50); // the classroom's bar on air
const QColor kWaitColour(52, 73, 110); // and waiting for the class
const QColor kTroubleColour(150, 80, 0); // and when its stream went away
const int kFrequency = 1000;
#if defined(__SANITIZE_ADDRESS__)
const int kFirstPictureMs = 6000; // the sanitizer runs both clients about three times slower (2.5 to 3.2 s seen)
#else
const int kFirstPictureMs = 3000;
#endif

const QList<QColor> kCorner = {QColor(230, 30, 30), QColor(30, 200, 60), QColor(40, 60, 230), QColor(240, 220, 40)};
const QList<QColor> kOtherCorner = {QColor(220, 40, 200), QColor(40, 210, 220)};

QString randomWord()
{
    return QString::number(QRandomGenerator::global()->bounded(1u << 30), 36);
}

QProcessEnvironment pulse(const QString &sink, const QString &source = QString())
{
    QProcessEnvironment env;
    env.insert(QStringLiteral("PULSE_SINK"), sink);
    if (!source.isEmpty())
        env.insert(QStringLiteral("PULSE_SOURCE"), source);
    return env;
}

} // namespace

class TestClassEnd2End : public QObject, public ClientDriver
{
    Q_OBJECT

    testsupport::NginxRtmp nginx;
    testsupport::DemoSchool school;
    std::unique_ptr<testsupport::NullSink> mic;
    std::unique_ptr<testsupport::NullSink> teacherEar;
    std::unique_ptr<testsupport::NullSink> studentEar;
    // The teacher's microphone: nothing plays there.
    std::unique_ptr<testsupport::NullSink> quiet;
    testsupport::Tone tone;
    testsupport::ChatPeer peer;
    std::unique_ptr<PatternWindow> corner;
    std::unique_ptr<PatternWindow> otherCorner;
    QList<QImage> countPictures; // the "学 员" tab with (0) to (9)
    QImage fiveStudents; // "学员 5" on the teacher's live bar
    QSize display;

    QPoint teacherPlace() const { return QPoint(0, display.height() - 600); }
    QPoint studentPlace() const { return QPoint(display.width() - 1180, 0); }

    // --- reading the windows ---

    // The number in "学 员(n)" of the chat panel, read against renderings of the tab; -1 when not found.
    int participants(const QImage &shot, const Client &client) const
    {
        const QRect strip(client.chatPanel().topLeft(), QSize(230, 35));
        double score = 0;
        const QPoint at = Pixels::find(shot, strip, countPictures.first().copy(0, 0, 44, 30), &score);
        if (score > 12)
            return -1;
        const QImage tab = shot.copy(QRect(at, QSize(80, 30)));
        QList<double> scores;
        for (const QImage &count : countPictures)
            scores << Pixels::difference(tab, count);
        const auto best = std::min_element(scores.cbegin(), scores.cend());
        return *best < 10 ? int(best - scores.cbegin()) : -1;
    }

    bool countReads(Client &client, int expected, int timeoutMs = 8000)
    {
        int seen = -2;
        return QTest::qWaitFor([&] { return (seen = participants(Desktop::shot(), client)) == expected; }, timeoutMs) ||
            fail(QStringLiteral("%1's participant count reads %2, not %3").arg(client.name()).arg(seen).arg(expected));
    }

    // The chat input box, found by its border in the panel's middle column.
    static QRect inputBox(const QImage &shot, const Client &client)
    {
        const QRect panel = client.chatPanel();
        const QRect column(panel.left() + 115, panel.top() + 100, 1, panel.height() - 100);
        const QRect border = Pixels::bounds(shot, column, Pixels::near(kInputBorder, 1));
        if (border.height() < 40)
            return QRect();
        return QRect(panel.left() + 10, border.top(), 210, border.height());
    }

    // The control bar's texts at its right: "[结束][录制]" and, in a student's one-to-one class, the dialogue.
    static QRect barTexts(const QImage &shot, const Client &client)
    {
        const QRect screen = client.screenArea();
        const QRect bar(screen.center().x(), screen.bottom() - 59, screen.width() / 2, 60);
        // The bar darkens what lies under it to 58 %; only its texts are lighter.
        return Pixels::bounds(shot, bar, [](QRgb p) { return qRed(p) >= 155 && qGreen(p) >= 155 && qBlue(p) >= 155; });
    }

    // Whether the classroom screen shows the pattern windows' blocks where the whole display, scaled, puts them.
    bool showsPattern(const QImage &shot, const Client &client, QString *detail = nullptr) const
    {
        // The desktop's picture in the screen, in its proportions, centred.
        const QRect area = client.screenArea();
        const QSize size = fittedPictureSize(display, area.size());
        const QRect screen(area.left() + (area.width() - size.width()) / 2,
                           area.top() + (area.height() - size.height()) / 2, size.width(), size.height());
        for (const PatternWindow::Block &block : corner->blocks() + otherCorner->blocks()) {
            const QRect r = block.rect;
            const QRect mapped(screen.left() + r.left() * screen.width() / display.width(),
                               screen.top() + r.top() * screen.height() / display.height(),
                               r.width() * screen.width() / display.width(),
                               r.height() * screen.height() / display.height());
            const QRect inner =
                mapped.adjusted(mapped.width() / 4, mapped.height() / 4, -mapped.width() / 4, -mapped.height() / 4);
            const QColor seen = Pixels::mean(shot, inner);
            if (Pixels::distance(seen, block.colour) > 40) {
                if (detail)
                    *detail = QStringLiteral("block %1 shows %2 instead of %3")
                                  .arg(QString::number(r.x()) + QLatin1Char(',') + QString::number(r.y()), seen.name(),
                                       block.colour.name());
                return false;
            }
        }
        return true;
    }

    // The bar along the top of the classroom screen in this colour: null unless it is there.
    static QRect liveBar(const QImage &shot, const Client &client, const QColor &colour)
    {
        const QRect screen = client.screenArea();
        const QRect bar =
            Pixels::bounds(shot, QRect(screen.topLeft(), QSize(screen.width(), 30)), Pixels::near(colour, 2));
        return bar.width() >= 150 && bar.height() >= 25 ? bar : QRect();
    }

    // The student waits for the class: the waiting bar, and nothing of the teacher's desktop.
    bool studentWaits()
    {
        return QTest::qWaitFor(
                   [&] {
                       const QImage shot = Desktop::shot();
                       return !liveBar(shot, *student, kWaitColour).isNull() && !showsPattern(shot, *student);
                   },
                   8000) ||
            fail(QStringLiteral("the student's screen does not say that the class has not begun"));
    }

    // The teacher's live view: the own desktop, the bar on air and the class's five students counted there.
    bool teacherSeesLiveView()
    {
        QString detail;
        QRect bar;
        double score = 0;
        return QTest::qWaitFor(
                   [&] {
                       const QImage shot = Desktop::shot();
                       bar = liveBar(shot, *teacher, kLiveColour);
                       if (!showsPattern(shot, *teacher, &detail) || bar.isNull())
                           return false;
                       Pixels::find(shot, bar, fiveStudents, &score);
                       return score < 12;
                   },
                   8000) ||
            fail(QStringLiteral("the teacher's live view: %1, bar %2 pixels wide, \"学员 5\" %3")
                     .arg(detail)
                     .arg(bar.width())
                     .arg(score < 12 ? "shown" : "not shown"));
    }

    // With TAVI_E2E_SHOTS set, keeps a half-size picture of the client's window in that folder (the README's).
    void keepShot(const Client &client, const QString &name) { ClientDriver::keepShot(name, client.main().geometry); }

    // --- driving the windows ---

    // Drags the main window by its title bar.
    bool place(Client &client, const QPoint &to)
    {
        const QPoint grip(600, 19); // between the tabs and the window buttons
        const QPoint from = client.main().geometry.topLeft() + grip;
        if (!Desktop::drag(from, to + grip))
            return fail(QStringLiteral("xdotool"));
        if (!QTest::qWaitFor([&] { return client.mainWindow() && client.main().geometry.topLeft() == to; }, 3000))
            return fail(client.name() + QStringLiteral(": the window did not follow the drag"));
        Desktop::moveTo(aside());
        return true;
    }

    bool showsTodaysCourses(Client &client)
    {
        int buttons = 0;
        // The demo school's list: the one-to-one and the group class can be entered, the third counts down.
        return QTest::qWaitFor([&] { return (buttons = courseButtons(Desktop::shot(), client).size()) == 2; }, 10000) ||
            fail(QStringLiteral("%1 sees %2 course buttons").arg(client.name()).arg(buttons));
    }

    bool studentSeesTeacher(int timeoutMs, qint64 *took = nullptr)
    {
        QString detail;
        if (QTest::qWaitFor([&] { return showsPattern(Desktop::shot(), *student, &detail); }, timeoutMs)) {
            if (took)
                *took = clock.elapsed();
            return true;
        }
        return fail(QStringLiteral("the student's screen does not show the teacher's desktop after %1 ms: %2")
                        .arg(clock.elapsed())
                        .arg(detail));
    }

    // Types a line and sends it with "发 言": it must reach the other's transcript and the class (the peer).
    bool say(Client &from, Client &to, const QString &text)
    {
        QImage shot = Desktop::shot();
        const QRect input = inputBox(shot, from);
        const QRect otherInput = inputBox(shot, to);
        if (input.isNull() || otherInput.isNull())
            return fail(QStringLiteral("no chat input box"));
        // The other's transcript: above the input box, under the tabs.
        const QRect seen(to.chatPanel().left() + 10, to.chatPanel().top() + 45, 210,
                         otherInput.top() - 55 - to.chatPanel().top());
        const QImage before = shot.copy(seen);
        peer.clearReceived();
        Desktop::click(input.center());
        Desktop::type(text);
        const QRect send = Pixels::bounds(
            shot, QRect(input.left() + 110, input.bottom() + 3, 105, from.chatPanel().bottom() - input.bottom() - 3),
            [](QRgb p) { return qGray(p) < 200; });
        if (send.isNull())
            return fail(QStringLiteral("no send button"));
        Desktop::click(send.center());
        Desktop::moveTo(aside());
        if (!peer.waitFor(
                1, 4, [&](const QJsonObject &c) { return c.value(QStringLiteral("info")).toString() == text; }, 8000))
            return fail(QStringLiteral("the class never got \"%1\" from %2").arg(text, from.name()));
        int names = 0;
        int words = 0;
        // The line shows the sender and time in blue and the text in green, right of the sender's picture.
        return QTest::qWaitFor(
                   [&] {
                       const QImage after = Desktop::shot().copy(seen);
                       names = Pixels::changed(before, after, Pixels::near(kNameBlue, 60), 24);
                       words = Pixels::changed(before, after, Pixels::near(kTextGreen, 40), 24);
                       return names >= 15 && words >= 15;
                   },
                   5000) ||
            fail(QStringLiteral("%1's transcript did not show the line (%2 name and %3 text pixels)")
                     .arg(to.name())
                     .arg(names)
                     .arg(words));
    }

    // "[结束]" on the control bar, found by name in the client's accessibility tree; its text must show there.
    bool clickEnd(Client &client)
    {
        if (barTexts(Desktop::shot(), client).width() < 40)
            return fail(client.name() + QStringLiteral(": no [结束] on the control bar"));
        Atspi ui(QStringLiteral("tavi"), client.pid());
        Desktop::moveTo(aside());
        return ui.press(QStringLiteral("push button"), QStringLiteral("结束")) ||
            fail(client.name() + QStringLiteral(": ") + ui.lastError());
    }

    // "本地播放" (the tab right of the selected, red "今日课程"), and the file typed into the file dialog.
    bool chooseLocalFile(Client &client, const QString &file)
    {
        const QRect bar(client.main().geometry.topLeft(), QSize(client.main().geometry.width(), client.scaled(38)));
        // The columns red from top to bottom (the user's picture may hold red too).
        const QImage shot = client.shot();
        const auto red = Pixels::near(QColor(0xde, 0x31, 0x20), 3);
        QRect selected;
        for (int x = bar.left(); x <= bar.right(); ++x) {
            int n = 0;
            for (int y = bar.top(); y <= bar.bottom(); ++y)
                n += red(shot.pixel(x, y)) ? 1 : 0;
            if (n >= bar.height() - 2)
                selected |= QRect(x, bar.top(), 1, bar.height());
        }
        if (selected.width() < client.scaled(60))
            return fail(client.name() + QStringLiteral(": no selected tab in the title bar"));
        // The selected tab is "今日课程", or "本地播放" when a text stands left of it.
        const QRect before = selected.translated(-selected.width(), 0);
        const bool second = Pixels::bounds(shot, before, Pixels::near(QColor(0xf5, 0xf6, 0xf7), 30)).width() > 10;
        Desktop::click(second ? selected.center()
                              : QPoint(selected.right() + selected.width() / 2, selected.center().y()));
        Desktop::Window dialog;
        const auto isDialog = [&](const Desktop::Window &w) {
            return !client.is(Client::Main, w) && !client.is(Client::Question, w) && w.geometry.width() > 300;
        };
        if (!client.waitFor(isDialog, 5000, &dialog))
            return fail(client.name() + QStringLiteral(": 本地播放 shows no file dialog"));
        Desktop::xdotool({"windowfocus", "--sync", dialog.id});
        Desktop::type(file);
        Desktop::key(QStringLiteral("Return"));
        return QTest::qWaitFor([&] { return !client.waitFor(isDialog, 0); }, 5000) ||
            fail(client.name() + QStringLiteral(": the file dialog stayed"));
    }

    // Whether the student publishes the voice of the dialogue.
    bool studentTalks()
    {
        const auto streams = nginx.streams();
        return std::any_of(streams.cbegin(), streams.cend(), [](const testsupport::NginxRtmp::StreamStat &s) {
            return s.name == QLatin1String("course101_talk") && s.publishing;
        });
    }

    // Whether nginx holds anything of the class (stream or voice), or the teacher's stream.
    bool onServer(bool teachersStream)
    {
        const auto streams = nginx.streams();
        return std::any_of(streams.cbegin(), streams.cend(), [&](const testsupport::NginxRtmp::StreamStat &s) {
            return teachersStream ? s.name == QLatin1String("course101") && s.publishing
                                  : s.name.startsWith(QLatin1String("course101")) && s.clients > 0;
        });
    }

    // Whether the peer's class holds these users (by the list it got on joining and who came and went since).
    bool peerSees(const QStringList &uids)
    {
        QSet<QString> present;
        for (const QJsonObject &list : peer.received(1, 1))
            for (const QJsonValue &user : list.value(QStringLiteral("userInfoList")).toArray())
                present.insert(user.toObject().value(QStringLiteral("uid")).toString());
        for (const QJsonObject &user : peer.received(1, 2))
            present.insert(user.value(QStringLiteral("uid")).toString());
        for (const QJsonObject &user : peer.received(1, 3))
            present.remove(user.value(QStringLiteral("uid")).toString());
        return present.contains(QSet<QString>(uids.cbegin(), uids.cend()));
    }

    // --- the recorder window ---

    // Opens the recorder window with "[录制]", the rightmost text of the teacher's control bar.
    bool openRecorder(Client &client, Desktop::Window *recorder)
    {
        const QRect texts = barTexts(Desktop::shot(), client);
        if (texts.width() < 40)
            return fail(client.name() + QStringLiteral(": no [录制] on the control bar"));
        Desktop::click(QPoint(texts.right() - 10, texts.center().y()));
        return client.waitFor(Client::Recorder, 5000, recorder) ||
            fail(client.name() + QStringLiteral(": [录制] shows no recorder window"));
    }

    bool recorderHides(Client &client)
    {
        return QTest::qWaitFor([&] { return !client.waitFor(Client::Recorder, 0); }, 5000) ||
            fail(client.name() + QStringLiteral(": the recorder window stayed"));
    }

    // The grey cross at the recorder window's top right.
    static QRect recorderClose(const QImage &shot, const QRect &window)
    {
        return Pixels::bounds(shot, QRect(window.right() - 60, window.top(), 60, 50),
                              Pixels::near(QColor(0x8a, 0x94, 0xa6), 30));
    }

    // The text of the recorder's nth button of five (开始 暂停 停止 设置 回放), in the row under the blue time (pure
    // blue: the settings' divider is a lighter one); null while the button is disabled (its text grey).
    static QRect recorderButton(const QImage &shot, const QRect &window, int n)
    {
        const QRect time = Pixels::bounds(shot, window, Pixels::near(QColor(0, 0, 255), 10));
        if (time.isNull())
            return QRect();
        const int column = window.width() / 5;
        return Pixels::bounds(shot, QRect(window.left() + n * column, time.bottom() + 4, column, 40),
                              [](QRgb p) { return qGray(p) < 90; });
    }

    // Processor use of a client over a second, in per cent of one core.
    static double cpuUse(const Client &client)
    {
        const auto seconds = [&] {
            const QByteArray stat = testsupport::readFile(QStringLiteral("/proc/%1/stat").arg(client.pid()));
            // Fields after the command name in parentheses: state is 3rd, utime 14th, stime 15th (in clock ticks).
            const QList<QByteArray> f = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
            return f.size() > 12 ? double(f.at(11).toLongLong() + f.at(12).toLongLong()) / sysconf(_SC_CLK_TCK) : -1;
        };
        const double before = seconds();
        QElapsedTimer timer;
        timer.start();
        QTest::qWait(1000); // the span measured, not a wait for an event
        return 100.0 * (seconds() - before) / (timer.elapsed() / 1000.0);
    }

private slots:
    void initTestCase()
    {
        const QString missing = sessionMissing(&display);
        if (!missing.isEmpty())
            QSKIP(qPrintable(missing));
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty(), "needs xdotool");

        const QString tag = QString::number(QCoreApplication::applicationPid());
        mic.reset(new testsupport::NullSink(QStringLiteral("tavi_e2e_mic_") + tag));
        teacherEar.reset(new testsupport::NullSink(QStringLiteral("tavi_e2e_teacher_") + tag));
        studentEar.reset(new testsupport::NullSink(QStringLiteral("tavi_e2e_student_") + tag));
        quiet.reset(new testsupport::NullSink(QStringLiteral("tavi_e2e_quiet_") + tag));
        QVERIFY(mic->isLoaded() && teacherEar->isLoaded() && studentEar->isLoaded() && quiet->isLoaded());
        // The student speaks all along; the teacher hears it only through the dialogue.
        QVERIFY(tone.start(mic->name(), kFrequency));
        QVERIFY(testsupport::waitForTone(mic->monitor(), kFrequency, 10000));

        nginx.setStatPage(true);
        QVERIFY(nginx.start());
        school.setChatHost(testsupport::freeLoopbackHost());
        QVERIFY(!school.chatHost().isEmpty());
        QVERIFY(school.start(nginx.url(QString()).chopped(1)));

        // The corners that the two main windows leave free.
        const int freeWidth = display.width() - 1180;
        const int freeHeight = display.height() - 600;
        corner.reset(new PatternWindow(QRect(40, 60, freeWidth - 100, freeHeight - 120), 2, 2, kCorner));
        otherCorner.reset(
            new PatternWindow(QRect(1180 + 40, 600 + 40, freeWidth - 80, freeHeight - 200), 2, 1, kOtherCorner));
        corner->show();
        otherCorner->show();
        QVERIFY(QTest::qWaitForWindowExposed(corner.get()) && QTest::qWaitForWindowExposed(otherCorner.get()));
        Desktop::moveTo(aside());

        // The participant tab as the chat panel paints it, on its white.
        for (int n = 0; n <= 9; ++n) {
            QWidget holder;
            holder.setFixedSize(80, 30);
            QPalette palette = holder.palette();
            palette.setColor(QPalette::Window, Qt::white);
            holder.setPalette(palette);
            holder.setAutoFillBackground(true);
            TextBtn tab(QStringLiteral("学 员"), QStringLiteral("(%1)").arg(n), 14, 10, 80, 30, &holder);
            countPictures.append(holder.grab().toImage().convertToFormat(QImage::Format_RGB32));
        }
        // The teacher's count of students as the live bar paints it.
        QWidget holder;
        QPalette palette = holder.palette();
        palette.setColor(QPalette::Window, kLiveColour);
        holder.setPalette(palette);
        holder.setAutoFillBackground(true);
        Label label(QStringLiteral("学员 5"), Qt::white, false, &holder);
        label.adjustSize();
        label.resize(label.width(), 30);
        holder.setFixedSize(label.size());
        fiveStudents = holder.grab().toImage().convertToFormat(QImage::Format_RGB32);

        // A third member of the class hears what the server passes on.
        QVERIFY(peer.signIn(school.baseUrl(), QStringLiteral("tutor")));
        QVERIFY(peer.open(school.chatHost()));
        peer.join(QStringLiteral("101"));
        QVERIFY(peer.waitFor(1, 1, [](const QJsonObject &) { return true; }));
    }

    void bothSignIn()
    {
        teacher.reset(new Client(QStringLiteral("teacher")));
        student.reset(new Client(QStringLiteral("student")));
        QVERIFY(teacher->install(school.baseUrl(), school.chatHost()));
        QVERIFY(student->install(school.baseUrl(), school.chatHost()));

        QVERIFY(teacher->start(pulse(teacherEar->name(), quiet->monitor())));
        QVERIFY2(signIn(*teacher, QStringLiteral("teacher"), true, false), qPrintable(why));
        QVERIFY2(place(*teacher, teacherPlace()), qPrintable(why));

        QVERIFY(student->start(pulse(studentEar->name(), mic->monitor())));
        QVERIFY2(signIn(*student, QStringLiteral("student"), true), qPrintable(why));
        QVERIFY2(place(*student, studentPlace()), qPrintable(why));
        // The teacher's window to the front, as a window manager would on a click: its chat tabs lie under the student's.
        QVERIFY(Desktop::raise(teacher->main().id));

        QVERIFY2(showsTodaysCourses(*teacher), qPrintable(why));
        QVERIFY2(showsTodaysCourses(*student), qPrintable(why));
    }

    void classBegins()
    {
        // The student comes early, alone with the scripted classmates and the peer: the class has not begun.
        QVERIFY2(enterClass(*student), qPrintable(why));
        QElapsedTimer early;
        early.start();
        QVERIFY2(countReads(*student, 5), qPrintable(why));
        QVERIFY2(studentWaits(), qPrintable(why));
        keepShot(*student, QStringLiteral("student-waiting.png"));
        // The teacher begins 10 s after the student came: a span of the story, not a wait for an event.
        QTest::qWait(int(qMax<qint64>(0, 10000 - early.elapsed())));
        QVERIFY2(studentWaits(), qPrintable(why));
        QVERIFY2(enterClass(*teacher), qPrintable(why));
        qint64 took = 0;
        // Without a click: the student's class appears by itself.
        QVERIFY2(studentSeesTeacher(kFirstPictureMs, &took), qPrintable(why));
        qInfo("the waiting student saw the teacher's desktop %lld ms after the teacher's 确定", took);
        // Both lists count both; the teacher's live view counts the students (all but the teacher).
        QVERIFY2(countReads(*teacher, 6), qPrintable(why));
        QVERIFY2(countReads(*student, 6), qPrintable(why));
        QVERIFY2(teacherSeesLiveView(), qPrintable(why));
        keepShot(*teacher, QStringLiteral("teacher-live.png"));
    }

    void chatBothWays()
    {
        QVERIFY2(say(*student, *teacher, QStringLiteral("student-") + randomWord()), qPrintable(why));
        QVERIFY2(say(*teacher, *student, QStringLiteral("teacher-") + randomWord()), qPrintable(why));
    }

    void dialogue()
    {
        QVERIFY2(testsupport::toneShare(testsupport::recordSource(teacherEar->monitor(), 500), kFrequency) < 0.3,
                 "the teacher hears the student before the dialogue");
        const QImage shot = Desktop::shot();
        const QRect texts = barTexts(shot, *student);
        // "[结束][录制]" alone are about 60 pixels wide.
        QVERIFY2(texts.width() > 85,
                 qPrintable(QStringLiteral("no dialogue button on the student's control bar (%1 pixels of texts)")
                                .arg(texts.width())));
        // "[开启对话]" is the rightmost text.
        const QRect label(texts.right() - 50, texts.top() - 2, 52, texts.height() + 4);
        const QImage before = shot.copy(label);
        Desktop::click(QPoint(texts.right() - 10, texts.center().y()));
        Desktop::moveTo(aside());
        clock.start();
        QVERIFY2(QTest::qWaitFor([&] { return Pixels::difference(Desktop::shot().copy(label), before) > 3; }, 3000),
                 "the dialogue button did not change to [关闭对话]");
        QVERIFY2(testsupport::waitForTone(teacherEar->monitor(), kFrequency, 15000),
                 "the teacher does not hear the student's microphone");
        qInfo("the teacher heard the student %lld ms after [开启对话]", clock.elapsed());
        // The student's meter beside the microphone symbol moves with the voice; so does the teacher's level of it
        // on the live bar.
        const auto lit = Pixels::near(QColor(0x4c, 0xc2, 0x7a), 12);
        const auto meterLit = [&](const Client &client, bool liveBar) {
            const QRect area = client.screenArea();
            const QRect band = liveBar ? QRect(area.left(), area.top(), area.width(), 30)
                                       : QRect(area.left(), area.bottom() - 59, area.width() / 2, 60);
            return Pixels::count(Desktop::shot(), band, lit) > 60;
        };
        QVERIFY2(QTest::qWaitFor([&] { return meterLit(*teacher, true); }, 5000),
                 "the teacher's live bar does not show the student's voice");
        // The teacher's own microphone is silent: its meter is there, at rest.
        const QRect area = teacher->screenArea();
        const QRect teacherBar(area.left(), area.bottom() - 59, area.width() / 2, 60);
        const auto unlit = Pixels::near(QColor(0x4a, 0x51, 0x63), 12);
        QVERIFY2(Pixels::count(Desktop::shot(), teacherBar, unlit) > 200 && !meterLit(*teacher, false),
                 "the teacher's silent microphone does not show a meter at rest");
        keepShot(*teacher, QStringLiteral("teacher-voice.png"));
        QVERIFY(Desktop::raise(student->main().id));
        QVERIFY2(QTest::qWaitFor([&] { return meterLit(*student, false); }, 5000),
                 "the student's microphone meter does not move with the voice");
        QVERIFY(Desktop::raise(teacher->main().id));
    }

    // A live class ends only when its teacher says so: "本地播放" asks, and "取消" leaves the class on air; "确定" ends
    // it, the student is told, and the student's dialogue stops with it. The student's [结束] leaves the class.
    void classEnds()
    {
        const QString lesson = teacher->home() + QStringLiteral("/lesson.mp4");
        QVERIFY(testsupport::makeMedia(lesson, {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25", "-t", "10"}));
        QVERIFY(studentTalks());
        QVERIFY2(chooseLocalFile(*teacher, lesson), qPrintable(why));
        QVERIFY2(answer(*teacher, false), qPrintable(why));
        QVERIFY2(teacherSeesLiveView(), qPrintable(why));
        QVERIFY2(studentSeesTeacher(3000), qPrintable(why));
        QVERIFY(onServer(true));
        QVERIFY2(chooseLocalFile(*teacher, lesson), qPrintable(why));
        QVERIFY2(answer(*teacher, true), qPrintable(why));
        QElapsedTimer ended;
        ended.start();
        QVERIFY2(QTest::qWaitFor([&] { return !onServer(true); }, 5000), "the teacher's class stayed on air");
        QVERIFY2(QTest::qWaitFor([&] { return !liveBar(Desktop::shot(), *student, kTroubleColour).isNull(); }, 8000),
                 "the student's screen does not say that the class went away");
        QVERIFY2(QTest::qWaitFor([&] { return !studentTalks(); }, int(qMax<qint64>(0, 12000 - ended.elapsed()))),
                 "the student's voice outlived the class by more than 12 s");
        qInfo("the student's voice stopped %lld ms after the teacher ended the class", ended.elapsed());

        QVERIFY2(clickEnd(*student), qPrintable(why));
        // The student left the chat: the teacher's count drops, the student's list empties, the screen shows no class.
        QVERIFY2(countReads(*teacher, 5), qPrintable(why));
        QVERIFY2(countReads(*student, 0), qPrintable(why));
        QVERIFY2(QTest::qWaitFor([&] { return !showsPattern(Desktop::shot(), *student); }, 5000),
                 "the student's screen still shows the class");
        // The teacher's file ends without a question: no class is on air.
        QVERIFY2(clickEnd(*teacher), qPrintable(why));
        QVERIFY2(countReads(*teacher, 0), qPrintable(why));
        // Nothing of the class is left on the server, and neither client keeps working.
        QVERIFY2(QTest::qWaitFor([&] { return !onServer(false); }, 15000), nginx.stat().constData());
        for (Client *client : {teacher.get(), student.get()}) {
            const double use = cpuUse(*client);
            qInfo("%s uses %.1f %% of a core after the class", qPrintable(client->name()), use);
            QVERIFY2(use < 15, qPrintable(client->name()));
        }
    }

    // A teacher whose camera is on (tavi-record, with FFmpeg's colour bars as the camera, in the top right corner):
    // the student sees the bars there, a fifth of the picture's width in the camera's proportions, and the desktop
    // around them.
    void teachersCamera()
    {
        QVERIFY2(enterClass(*student), qPrintable(why));
        const QString stage = testsupport::stageDir();
        QProcess record;
        record.setWorkingDirectory(stage);
        record.start(stage + QStringLiteral("/tavi-record"),
                     {nginx.url(QStringLiteral("course101")), "--seconds", "60", "--camera",
                      "lavfi:smptebars=size=640x480:rate=30", "--camera-corner", "top-right"});
        QVERIFY(record.waitForStarted());
        const auto stop = qScopeGuard([&] {
            record.terminate();
            record.waitForFinished(20000);
        });
        QVERIFY2(studentSeesTeacher(20000), qPrintable(why));
        // Where the inset falls on the student's screen: a fifth of the width, off the corner by a 60th.
        const QRect area = student->screenArea();
        const QSize size = fittedPictureSize(display, area.size());
        const QRect screen(area.left() + (area.width() - size.width()) / 2,
                           area.top() + (area.height() - size.height()) / 2, size.width(), size.height());
        const int w = (display.width() / 5) & ~1, h = (w * 3 / 4) & ~1, margin = qMax(8, display.width() / 60) & ~1;
        const QRectF inset(screen.left() + double(display.width() - margin - w) * screen.width() / display.width(),
                           screen.top() + double(margin) * screen.height() / display.height(),
                           double(w) * screen.width() / display.width(),
                           double(h) * screen.height() / display.height());
        // The top two thirds of the bars: grey, yellow, cyan, green, magenta, red, blue.
        const QVector<QColor> bars{QColor(191, 191, 191), QColor(191, 191, 0), QColor(0, 191, 191), QColor(0, 191, 0),
                                   QColor(191, 0, 191),   QColor(191, 0, 0),   QColor(0, 0, 191)};
        QString seen;
        const auto showsBars = [&](const QImage &shot) {
            seen.clear();
            bool all = true;
            for (int i = 0; i < bars.size(); ++i) {
                const QRectF bar(inset.left() + inset.width() * (i + 0.3) / 7, inset.top() + inset.height() * 0.2,
                                 inset.width() * 0.4 / 7, inset.height() * 0.3);
                const QColor mean = Pixels::mean(shot, bar.toAlignedRect());
                seen += mean.name() + QLatin1Char(' ');
                all = all && Pixels::distance(mean, bars[i]) <= 60;
            }
            return all;
        };
        QVERIFY2(QTest::qWaitFor([&] { return showsBars(Desktop::shot()); }, 10000),
                 qPrintable(QStringLiteral("the bars read ") + seen));
        QVERIFY2(showsPattern(Desktop::shot(), *student), "the desktop around the camera is not shown");
        keepShot(*student, QStringLiteral("teacher-camera.png"));
        record.terminate();
        QVERIFY(record.waitForFinished(20000));
        QCOMPARE(record.exitCode(), 0);
        QVERIFY2(clickEnd(*student), qPrintable(why));
        QVERIFY2(countReads(*student, 0), qPrintable(why));
    }

    // The teacher's recorder window: closed with its button and with Escape; a recording played back with "回放" in
    // the main window's player shows the recorded desktop (the blocks).
    void recorderWindow()
    {
        Desktop::Window recorder;
        QVERIFY2(openRecorder(*teacher, &recorder), qPrintable(why));
        // Dragged up, whole on the display, with its settings open: the picture for the README.
        const QPoint grip = recorder.geometry.topLeft() + QPoint(30, 20);
        QVERIFY(Desktop::drag(grip, grip - QPoint(0, 300)));
        QVERIFY(teacher->waitFor(
            [&](const Desktop::Window &w) {
                return teacher->is(Client::Recorder, w) && w.geometry.top() == recorder.geometry.top() - 300;
            },
            3000, &recorder));
        const QRect settings = recorderButton(Desktop::shot(), recorder.geometry, 3);
        QVERIFY2(!settings.isNull(), "no 设置 on the recorder window");
        Desktop::click(settings.center());
        Desktop::moveTo(aside());
        QImage shot;
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         shot = Desktop::shot();
                         // The microphone list's divider, blue, under the buttons.
                         return Pixels::count(shot, recorder.geometry, Pixels::near(QColor(11, 47, 255), 20)) > 100;
                     },
                     3000),
                 "设置 does not open the settings");
        shot.copy(recorder.geometry).save(QStringLiteral("recorder.png"));
        const QRect close = recorderClose(shot, recorder.geometry);
        QVERIFY2(close.width() >= 6, "no close button on the recorder window");
        Desktop::click(close.center());
        QVERIFY2(recorderHides(*teacher), qPrintable(why));

        QVERIFY2(openRecorder(*teacher, &recorder), qPrintable(why));
        Desktop::click(recorder.geometry.topLeft() + QPoint(30, 20)); // the keyboard to the window
        Desktop::key(QStringLiteral("Escape"));
        QVERIFY2(recorderHides(*teacher), qPrintable(why));

        QVERIFY2(openRecorder(*teacher, &recorder), qPrintable(why));
        const QRect g = recorder.geometry;
        QRect start; // once painted
        QVERIFY2(QTest::qWaitFor([&] { return !(start = recorderButton(Desktop::shot(), g, 0)).isNull(); }, 5000),
                 "no 开始 on the recorder window");
        const QRect time = Pixels::bounds(Desktop::shot(), g, Pixels::near(QColor(0, 0, 255), 10));
        Desktop::click(start.center());
        Desktop::moveTo(aside());
        // Six seconds on the clock: the playback checked below still runs.
        QList<QImage> shown{Desktop::shot().copy(time)};
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         const QImage now = Desktop::shot().copy(time);
                         if (Pixels::difference(now, shown.last()) > 1)
                             shown << now;
                         return shown.size() >= 7;
                     },
                     20000),
                 "the recorder's clock does not run");
        QRect stop = recorderButton(Desktop::shot(), g, 2);
        QVERIFY2(!stop.isNull(), "停止 is not enabled while recording");
        Desktop::click(stop.center());
        QRect playBack;
        QVERIFY2(QTest::qWaitFor([&] { return !(playBack = recorderButton(Desktop::shot(), g, 4)).isNull(); }, 15000),
                 "回放 is not enabled after the recording");
        // A file of its own, named by its start.
        const QFileInfoList saved =
            QDir(teacher->home() + QStringLiteral("/Videos")).entryInfoList({QStringLiteral("tavi-*.mp4")});
        QVERIFY(saved.size() == 1 && saved.first().size() > 0);
        Desktop::click(playBack.center());
        // The main window comes to the front (over the recorder: no window manager keeps that on top here). The
        // recorder is raised again once it has, or the main window would come up after the raise and take the click.
        (void)QTest::qWaitFor([&] { return recorderClose(Desktop::shot(), g).width() < 6; }, 5000);
        QVERIFY(Desktop::raise(recorder.id));
        QRect close2;
        QVERIFY(QTest::qWaitFor([&] { return (close2 = recorderClose(Desktop::shot(), g)).width() >= 6; }, 3000));
        Desktop::click(close2.center());
        QVERIFY2(recorderHides(*teacher), qPrintable(why));
        Desktop::moveTo(aside());
        QString detail;
        QVERIFY2(QTest::qWaitFor([&] { return showsPattern(Desktop::shot(), *teacher, &detail); }, 5000),
                 qPrintable("回放 does not show the recording in the main window: " + detail));
    }

    void nginxRestarts()
    {
        QVERIFY2(enterClass(*teacher), qPrintable(why));
        QVERIFY2(enterClass(*student), qPrintable(why));
        QVERIFY2(studentSeesTeacher(5000), qPrintable(why));
        QVERIFY(nginx.restart());
        clock.start();
        // New colours: only a picture that came back shows them.
        corner->setColours(kCorner.mid(1) << kCorner.first());
        otherCorner->setColours(kOtherCorner.mid(1) << kOtherCorner.first());
        QVERIFY2(studentSeesTeacher(10000), qPrintable(why));
        const qint64 picture = clock.elapsed();
        QVERIFY2(QTest::qWaitFor([&] { return onServer(true); }, 10000 - int(clock.elapsed())),
                 "the teacher does not publish again");
        qInfo("after nginx restarted: the student's picture came back after %lld ms, the teacher published "
              "again within %lld ms",
              picture, clock.elapsed());
    }

    void schoolRestarts()
    {
        QVERIFY(school.restart());
        clock.start();
        peer.close();
        peer.clearReceived();
        QVERIFY(QTest::qWaitFor([&] { return peer.open(school.chatHost(), 1000); }, 10000));
        peer.join(QStringLiteral("101"));
        // Both clients come back by themselves: the server seats them again, their lists count the class anew.
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         return peerSees({"10001", "20001"});
                     },
                     15000),
                 "the clients did not come back to the chat");
        qInfo("the chat came back %lld ms after the school restarted", clock.elapsed());
        QVERIFY2(countReads(*teacher, 6), qPrintable(why));
        QVERIFY2(countReads(*student, 6), qPrintable(why));
        QVERIFY2(say(*student, *teacher, QStringLiteral("again-") + randomWord()), qPrintable(why));
    }

    void studentCrashes()
    {
        student->kill();
        QVERIFY2(countReads(*teacher, 5), qPrintable(why));
        QVERIFY(student->start(pulse(studentEar->name(), mic->monitor())));
        // Not a fresh installation any more: straight to the sign-in.
        QVERIFY2(signIn(*student, QStringLiteral("student"), false), qPrintable(why));
        // Where the student left it.
        QCOMPARE(student->main().geometry, QRect(studentPlace(), QSize(1180, 600)));
        QVERIFY(Desktop::raise(teacher->main().id));
        QVERIFY2(showsTodaysCourses(*student), qPrintable(why));
        QVERIFY2(enterClass(*student), qPrintable(why));
        QVERIFY2(studentSeesTeacher(5000), qPrintable(why));
        QVERIFY2(countReads(*teacher, 6), qPrintable(why));
        QVERIFY2(countReads(*student, 6), qPrintable(why));
    }

    // The sign-in dialog and the main window follow the desktop's scale (Xft.dpi) on a screen of matching size:
    // sizes scaled, the main window centred, the sign-in button's text scaled and whole. (At 100 %: the teacher's
    // sign-in, its text checked, and the windows placed in bothSignIn.)
    void highDensityScreens_data()
    {
        QTest::addColumn<int>("dpi");
        QTest::addColumn<QSize>("screen");
        QTest::newRow("150 %") << 144 << QSize(2880, 1620);
        QTest::newRow("200 %") << 192 << QSize(3840, 2160);
    }
    void highDensityScreens()
    {
        QFETCH(int, dpi);
        QFETCH(QSize, screen);
        Desktop::Private display;
        QVERIFY(display.start(screen, dpi));
        const auto back = qScopeGuard([] { Desktop::setDisplay(QString()); });
        Client client(QStringLiteral("scaled-%1").arg(dpi), dpi / 96.0);
        QVERIFY(client.install(school.baseUrl(), school.chatHost()));
        QProcessEnvironment env;
        env.insert(QStringLiteral("DISPLAY"), display.name());
        QVERIFY(client.start(env));
        QVERIFY2(signIn(client, QStringLiteral("student"), true, false), qPrintable(why));
        if (dpi == 192)
            signInShot.save(QStringLiteral("signin-200.png"));
        QCOMPARE(client.main().geometry.size(), QSize(client.scaled(1180), client.scaled(600)));
        QVERIFY2((client.main().geometry.center() - QRect(QPoint(0, 0), screen).center()).manhattanLength() <= 2,
                 "the main window is not centred on its screen");
    }

    void cleanupTestCase()
    {
        endClients();
        peer.close();
        tone.stop();
    }
};

QTEST_MAIN(TestClassEnd2End)
#include "tst_classend2end.moc"
