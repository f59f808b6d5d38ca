// The application shell through its real windows against the demo school: sign-in, the window's place, the tray and
// sign-out; the content area inside the main window: its three panels, the order in which an entered course reaches the
// screen and the chat panel, and the local file dialog. The classroom screen there against real peers (nginx-rtmp,
// classes published with the ffmpeg command line, the test display captured): its play states, local files with the
// progress slider, the dialogue button, replacing one class or file by another; the play control beneath it for teacher
// and student, one-to-one and group classes; and the installation's recording and playing tools.
#include "demoschool.h"
#include "movingdesktop.h"
#include "nginxrtmp.h"
#include "publisher.h"
#include "signin.h"

#include "app/app.h"
#include "app/contentwidget.h"
#include "app/mainwindow.h"
#include "app/titlewidget.h"
#include "app/trayicon.h"
#include "app/traymenu.h"
#include "base/picturefit.h"
#include "chat/DataReceive.h"
#include "chat/conlistwidget.h"
#include "chat/studentwidget.h"
#include "classroom/playaudiovideoctrl.h"
#include "classroom/screen.h"
#include "course/courselist.h"
#include "course/coursewidget.h"
#include "net/bitmaplabel.h"
#include "net/flash.h"
#include "record/audioctrl.h"
#include "record/recordctrl.h"
#include "record/recordnotice.h"
#include "ui/builtinpicture.h"
#include "ui/iconbtn.h"
#include "ui/label.h"
#include "ui/levelmeter.h"
#include "ui/messagebox.h"
#include "ui/playbtn.h"
#include "ui/popwidget.h"
#include "ui/rebtn.h"
#include "ui/tempheader.h"
#include "ui/videoslider.h"
#include "video/audio_play.h"
#include "video/audiooutput.h"
#include "video/videoplayer_thread.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QProcess>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

using testsupport::Publisher;

namespace {

QAction *trayAction(Trayicon *tray, const QString &text)
{
    for (QAction *action : tray->menu()->actions())
        if (action->text() == text)
            return action;
    return nullptr;
}

ColorBtn *buttonWithText(QWidget *window, const QString &text)
{
    for (ColorBtn *button : window->findChildren<ColorBtn *>())
        if (button->style().text == text)
            return button;
    return nullptr;
}

CourseInfo course(int listType, const QString &teachingType, const QString &rtmp, const QString &rtmplat,
                  const QString &id = QStringLiteral("101"))
{
    CourseInfo info;
    info.listType = listType;
    info.role = CourseInfo::roleOfList(listType);
    info.teaching_type = teachingType;
    info.rtmp = rtmp;
    info.rtmplat = rtmplat;
    info.id = id;
    info.name = QStringLiteral("course ") + id;
    return info;
}

QImage red()
{
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::red);
    return image;
}

QImage background()
{
    return builtinPicture(QStringLiteral(":/images/sys/bg"), 1).toImage();
}

// How long a call took, in milliseconds.
template<class F> qint64 timed(F call)
{
    QElapsedTimer timer;
    timer.start();
    call();
    return timer.elapsed();
}

} // namespace

class TestShell : public QObject
{
    Q_OBJECT

    testsupport::DemoSchool school;
    app *controller = nullptr;
    LoginDlg *login = nullptr;
    MainWindow *window = nullptr;
    ContentWidget *content = nullptr;
    QTemporaryDir config;
    testsupport::NginxRtmp nginx;
    Publisher classA; // 320x240
    Publisher classB; // 160x120
    QString fileName;
    QStringList notices;
    Screen *screen = nullptr;
    playAudioVideoCtrl *ctrl = nullptr;

    int courses() const { return content->coursePanel()->list()->count(); }
    PlayerState state() const { return screen->playButton()->state(); }
    QSize shownSize() const { return screen->shownImage().size(); }

    template<class T> T *findNamed(const QString &name)
    {
        for (T *widget : screen->findChildren<T *>())
            if (widget->accessibleName() == name)
                return widget;
        return nullptr;
    }
    // The text of a notice on screen now, if any; a text cut off by the notice's edges is not shown whole.
    static QString noticeShown()
    {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *flash = qobject_cast<Flash *>(widget); flash && flash->isVisible()) {
                const auto *label = flash->findChild<QLabel *>();
                return label && label->width() >= label->sizeHint().width() ? flash->text() : QString();
            }
        return QString();
    }
    // Every notice on screen now, whole or not.
    static QStringList noticesShown()
    {
        QStringList texts;
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *flash = qobject_cast<Flash *>(widget); flash && flash->isVisible())
                texts << flash->text();
        return texts;
    }
    void end()
    {
        QTest::mouseClick(screen->endButton(), Qt::LeftButton);
        if (screen->endQuestion()->isVisible())
            answerEnd(true);
        QTRY_VERIFY_WITH_TIMEOUT(ctrl->isIdle(), 20000);
    }

    // Answers the question before a live class ends.
    void answerEnd(bool end)
    {
        QVERIFY(screen->endQuestion()->isVisible());
        QTest::mouseClick(screen->endQuestion()->findChild<QWidget *>(end ? "okBtn" : "cancelBtn"), Qt::LeftButton);
        QVERIFY(!screen->endQuestion()->isVisible());
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("needs the PulseAudio session of ./run test");
        qRegisterMetaType<CourseInfo>("CourseInfo");
        // The user's settings start empty.
        QVERIFY(config.isValid());
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
        // The school's classes lead nowhere: the classes played here are the test's own.
        school.setChatHost(testsupport::freeLoopbackHost());
        QVERIFY(school.start(QStringLiteral("rtmp://127.0.0.1:1/live")) && school.writeSysConfig());
        QVERIFY(nginx.start());
        QVERIFY(classA.start(nginx.url("classA")));
        QVERIFY(classB.start(nginx.url("classB"), QStringLiteral("160x120")));
        fileName = QDir::current().absoluteFilePath(QStringLiteral("lesson.mp4"));
        QVERIFY(testsupport::makeMedia(fileName,
                                       QStringLiteral("-f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi "
                                                      "-i sine=sample_rate=44100 -t 10 -c:v libx264 -preset "
                                                      "ultrafast -g 25 -pix_fmt yuv420p -c:a aac")
                                           .split(' ')));
        QVERIFY(testsupport::waitForCodecs(nginx.url("classA"), {"aac", "h264"}));
        QVERIFY(testsupport::waitForCodecs(nginx.url("classB"), {"aac", "h264"}));

        // Windows are closed and reopened here; the test ends on its own.
        QApplication::setQuitOnLastWindowClosed(false);
        app::trayAvailable = [] { return true; }; // Xvfb has no tray of its own
        controller = new app();
        // After the application's own message boxes.
        recordNotice::setHandler([this](const QString &text) { notices << text; });
        login = controller->loginDialog();
        window = controller->mainWnd();
        content = window->contentArea();
        screen = content->screen();
        ctrl = screen->playControl();
        QVERIFY(!controller->trayIcon()->isVisible());
        login->show();
        QVERIFY(QTest::qWaitForWindowExposed(login));
        QVERIFY(!window->isVisible());
    }

    void cleanup() { QVERIFY2(notices.isEmpty(), qPrintable(notices.join('\n'))); }

    // The user's name and picture, and a screen that plays nothing (the end-to-end class sees the window come, centred
    // the first time, with the courses and the chat).
    void signInShowsUser()
    {
        screen->slot_doClass(CourseInfo()); // leaves play mode 2
        QVERIFY(testsupport::signIn(login, "student"));
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCOMPARE(window->title()->userNameLabel()->text(), QStringLiteral("王小明"));
        QTRY_COMPARE(window->title()->userPhotoLabel()->currentPixmap().size(), QSize(20, 20));
        QCOMPARE(screen->playMode(), Screen::PlayMode::None);
        QTRY_COMPARE(courses(), 3);
    }

    // The next start finds the window where, and as large as, it was left;
    // a place off every screen is not kept.
    void placeIsKept_data()
    {
        QTest::addColumn<QRect>("left");
        QTest::addColumn<bool>("kept");
        QTest::newRow("on the screen") << QRect(123, 77, 1300, 700) << true;
        QTest::newRow("off every screen") << QRect(4000, 3000, 1180, 600) << false;
    }
    void placeIsKept()
    {
        QFETCH(QRect, left);
        QFETCH(bool, kept);
        window->setGeometry(left);
        const QByteArray saved = QStringLiteral("@Rect(%1 %2 %3 %4)")
                                     .arg(left.x())
                                     .arg(left.y())
                                     .arg(left.width())
                                     .arg(left.height())
                                     .toLatin1();
        QTRY_VERIFY(testsupport::readFile(MainWindow::settingsPath()).contains(saved));
        QCOMPARE(testsupport::fileMode(MainWindow::settingsPath()), 0600);
        // What the next start does.
        window->move(10, 10);
        window->placeOnScreen();
        QRect centred(QPoint(0, 0), QSize(1180, 600));
        centred.moveCenter(QGuiApplication::primaryScreen()->availableGeometry().center());
        QCOMPARE(window->geometry(), kept ? left : centred);
    }

    // Every frameless window follows a drag of its own strip, or of itself (the main window's and the recorder's are
    // dragged end to end).
    void framelessWindowsFollowADrag_data()
    {
        QTest::addColumn<QPoint>("at"); // where the drag starts on the handle
        QTest::newRow("sign-in dialog") << QPoint(215, 60);
        QTest::newRow("notice by its header") << QPoint(60, 10);
    }
    void framelessWindowsFollowADrag()
    {
        QFETCH(QPoint, at);
        std::unique_ptr<popWidget> notice;
        QWidget *handle = login;
        if (QByteArray(QTest::currentDataTag()).startsWith("notice")) {
            notice = std::make_unique<popWidget>();
            handle = notice->findChild<tempHeader *>();
        }
        QWidget *moved = handle->window();
        const auto hideAgain = qScopeGuard([moved, shown = moved->isVisible()] {
            if (!shown)
                moved->hide();
        });
        moved->move(100, 100);
        moved->show();
        QVERIFY(QTest::qWaitForWindowExposed(moved));
        const QPoint before = moved->pos();
        // Pressed at, moved by (37, 23), released.
        const QPoint delta(37, 23), global = handle->mapToGlobal(at);
        QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(handle, &press);
        QMouseEvent move(QEvent::MouseMove, at + delta, global + delta, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(handle, &move);
        QMouseEvent release(QEvent::MouseButtonRelease, at + delta, global + delta, Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(handle, &release);
        QTRY_COMPARE(moved->pos(), before + delta);
    }

    // Courses, screen and chat side by side; the screen's arrows fold the panels and the screen takes their room.
    void arrowsFoldAndUnfoldThePanels()
    {
        QVERIFY(content->coursePanel()->geometry().right() < screen->geometry().left());
        QVERIFY(screen->geometry().right() < content->chatPanel()->geometry().left());
        const int width = screen->width();
        QTest::mouseClick(screen->courseArrow(), Qt::LeftButton);
        QVERIFY(!content->coursePanel()->isVisible() && !content->isCourseShown());
        QTest::mouseClick(screen->studentArrow(), Qt::LeftButton);
        QVERIFY(!content->chatPanel()->isVisible());
        QTRY_COMPARE(screen->width(), width + content->coursePanel()->width() + content->chatPanel()->width());
        QTest::mouseClick(screen->courseArrow(), Qt::LeftButton);
        QTest::mouseClick(screen->studentArrow(), Qt::LeftButton);
        QVERIFY(content->coursePanel()->isVisible() && content->chatPanel()->isVisible());
        QTRY_COMPARE(screen->width(), width);
    }

    void enteredCourseReachesScreenFirstThenChat()
    {
        // Of no role of ours (list type 0): nothing plays, though there are addresses.
        const CourseInfo info = course(0, "1", nginx.url("x"), nginx.url("x"), "4711");
        QStringList order;
        // Joining a class empties the participant list first.
        StudentWidget *chat = content->chatPanel();
        const auto joining = connect(chat->conListWidget(), &ConListWidget::s_studentSum, this, [&] {
            order << QStringLiteral("chat:") + chat->currentCourse().id;
            // The screen had it already.
            order << QStringLiteral("screen had:") + screen->currentCourse().id;
        });
        QVERIFY(QMetaObject::invokeMethod(content->coursePanel(), "s_doClass", Q_ARG(CourseInfo, info)));
        disconnect(joining);
        QCOMPARE(order, QStringList({"chat:4711", "screen had:4711"}));
        QCOMPARE(screen->playMode(), Screen::PlayMode::Class);
        ctrl->dialogueStart();
        QVERIFY(ctrl->isIdle());
        QCOMPARE(ctrl->classPlayback()->state(), Stop);
        QVERIFY(!ctrl->isDialogueOn());
    }

    void maximiseAndRestore()
    {
        const QSize area = QGuiApplication::primaryScreen()->availableGeometry().size();
        QTest::mouseClick(window->title()->maxButton(), Qt::LeftButton);
        QVERIFY(controller->isMaximised());
        QTRY_COMPARE(window->geometry(), QRect(QPoint(0, 0), area));

        // A double click on the bar toggles back to the centred normal size.
        QTest::mouseDClick(window->title(), Qt::LeftButton, Qt::NoModifier, QPoint(700, 19));
        QVERIFY(!controller->isMaximised());
        QTRY_COMPARE(window->geometry(), QRect((area.width() - 1180) / 2, (area.height() - 600) / 2, 1180, 600));
        QVERIFY(!window->isMaximized()); // layout by geometry only
    }
    // To the tray: the screen shows its background.
    void trayAndBack()
    {
        screen->local_play(fileName);
        QTRY_COMPARE(state(), Playing);
        screen->doOneImage(red());
        QCOMPARE(screen->shownImage(), red());
        QTest::mouseClick(window->title()->closeButton(), Qt::LeftButton);
        QVERIFY(!window->isVisible() && !login->isVisible());
        QVERIFY(controller->trayIcon()->isVisible());
        QCOMPARE(screen->shownImage(), background());
        end();

        QAction *show = trayAction(controller->trayIcon(), QStringLiteral("显示"));
        QVERIFY(show);
        show->trigger();
        QVERIFY(window->isVisible());
        QVERIFY(!controller->trayIcon()->isVisible());
        QCOMPARE(TrayMenu::portalUrl(), QStringLiteral("http://127.0.0.1:%1/").arg(school.port()));
    }

    // A teacher's one-to-one class on a server that is down at first and restarts mid-class: the desktop and microphone
    // go to rtmp once it is there, and again by themselves after the restart, without a word to the user; the teacher
    // sees it all (connecting, on air, reconnecting, on air again). The student's voice plays and the teacher is told;
    // on air, a preview of the desktop at the size asked for, a few pictures a second. (A student's class: the screen's
    // cases below; a teacher's group class: replacingATeacherClass.)
    void teacherOneToOne()
    {
        testsupport::NginxRtmp server;
        QVERIFY(server.start());
        const QString classUrl = server.url(QStringLiteral("class"));
        const QString talkUrl = server.url(QStringLiteral("talk"));
        server.stop();
        playAudioVideoCtrl ctrl;
        // The volume: clamped, and set on every player that sounds.
        for (const QPair<int, int> &set : {qMakePair(-5, 0), qMakePair(150, 100), qMakePair(50, 50)}) {
            ctrl.setVolume(set.first);
            for (int volume : {ctrl.volume(), ctrl.localPlayback()->volume(), ctrl.classPlayback()->volume(),
                               ctrl.talkPlayback()->volume()})
                QCOMPARE(volume, set.second);
        }
        QSignalSpy pictures(&ctrl, &playAudioVideoCtrl::sig_GetOneFrame);
        QSignalSpy states(&ctrl, &playAudioVideoCtrl::sig_liveState);
        ctrl.setCourse(course(1, "1", classUrl, talkUrl));
        ctrl.setPreviewSize(QSize(192, 108));
        QVERIFY(ctrl.isIdle());
        ctrl.classStart();
        QVERIFY(server.restart());
        Publisher student;
        QVERIFY(student.start(talkUrl, QString(), Publisher::SoundOnly));
        QVERIFY(testsupport::waitForCodecs(classUrl, {"aac", "h264"}));
        QVERIFY(!ctrl.recorder()->isIdle());
        QCOMPARE(ctrl.recorder()->currentUrl(), classUrl);
        QCOMPARE(ctrl.classPlayback()->state(), Stop);
        // The student's voice player tries again every 2 s until the voice is there.
        QTRY_VERIFY_WITH_TIMEOUT(ctrl.talkPlayback()->isRunning(), 10000);
        const double clock = ctrl.talkPlayback()->playbackState().audioClock;
        QTRY_VERIFY_WITH_TIMEOUT(ctrl.talkPlayback()->playbackState().audioClock > clock + 0.5, 20000);
        QVERIFY(ctrl.studentVoice());
        // The student's voice shows as a level; the class's publisher has the microphone that is heard.
        QTRY_VERIFY_WITH_TIMEOUT(ctrl.studentVoiceLevel() > 0.5, 5000);
        QCOMPARE(ctrl.microphone(), ctrl.recorder());
        QCOMPARE(ctrl.liveState(), playAudioVideoCtrl::Live);
        QTRY_VERIFY_WITH_TIMEOUT(pictures.count() >= 3, 10000);
        QCOMPARE(pictures.last().at(0).value<QImage>().size(), QSize(192, 108));
        QTRY_VERIFY(ctrl.onAirMs() >= 1000);

        // Pause and resume reach the student's voice; the dialogue is a student's.
        ctrl.classPause();
        QCOMPARE(ctrl.talkPlayback()->state(), Pause);
        ctrl.classResume();
        QCOMPARE(ctrl.talkPlayback()->state(), Playing);
        ctrl.dialogueStart();
        QVERIFY(!ctrl.isDialogueOn());

        QVERIFY(server.restart());
        QVERIFY(testsupport::waitForCodecs(classUrl, {"aac", "h264"}, 20000));
        QList<int> seen;
        for (const QList<QVariant> &args : states)
            seen << args.at(0).toInt();
        QCOMPARE(seen.first(), int(playAudioVideoCtrl::Connecting));
        QVERIFY(seen.contains(int(playAudioVideoCtrl::Reconnecting)));
        QCOMPARE(seen.last(), int(playAudioVideoCtrl::Live));

        QSignalSpy idle(&ctrl, &playAudioVideoCtrl::idle);
        ctrl.classStop();
        QCOMPARE(ctrl.classPlayback()->state(), Stop);
        QCOMPARE(ctrl.talkPlayback()->state(), Stop);
        QCOMPARE(ctrl.liveState(), playAudioVideoCtrl::Off);
        QVERIFY(!ctrl.studentVoice());
        // The end of the last thread is told, which is when the screen may start the next class; nothing comes back.
        QTRY_VERIFY_WITH_TIMEOUT(!idle.isEmpty(), 20000);
        QVERIFY(testsupport::codecs(classUrl, 3000).isEmpty());
        QVERIFY(ctrl.isIdle());
    }

    void volumeScalesSamples_data()
    {
        QTest::addColumn<int>("volume");
        QTest::addColumn<QVector<int>>("expected");
        const QVector<int> in = {10000, -10000, 32767, -32768, 0, 1};
        QTest::newRow("100 keeps the sound") << 100 << in;
        QTest::newRow("0 is silent") << 0 << QVector<int>{0, 0, 0, 0, 0, 0};
        QTest::newRow("50 is a quarter") << 50 << QVector<int>{2500, -2500, 8191, -8192, 0, 0};
    }

    void volumeScalesSamples()
    {
        QFETCH(int, volume);
        QFETCH(QVector<int>, expected);
        QVector<int16_t> samples = {10000, -10000, 32767, -32768, 0, 1};
        applyVolume(reinterpret_cast<Uint8 *>(samples.data()), samples.size() * 2, volume);
        QVector<int> out;
        for (int16_t s : samples)
            out << s;
        QCOMPARE(out, expected);
    }

    // The installation's two command-line tools: tavi-record publishes a moving desktop, tavi-play shows it.
    void toolsPublishAndPlay()
    {
        MovingDesktop desktop;
        QVERIFY(QTest::qWaitForWindowExposed(&desktop));
        const QString stage = testsupport::stageDir();
        const QString address = nginx.url(QStringLiteral("course2"));
        QProcess record;
        record.setWorkingDirectory(stage);
        // Long enough for tavi-play's pictures when the first one is slow to come (a loaded machine, the sanitizer).
        record.start(stage + QStringLiteral("/tavi-record"),
                     {address, QStringLiteral("--seconds"), QStringLiteral("30")});
        QVERIFY(record.waitForStarted());
        QVERIFY(testsupport::waitForCodecs(address, {"aac", "h264"}, 20000));

        QProcess play;
        play.setWorkingDirectory(stage);
        play.start(stage + QStringLiteral("/tavi-play"),
                   {address, QStringLiteral("--frames"), QStringLiteral("50"), QStringLiteral("--stats")});
        // The GUI thread keeps painting the moving desktop meanwhile.
        QTRY_VERIFY_WITH_TIMEOUT(play.state() == QProcess::NotRunning, 30000);
        const QString stats = QString::fromUtf8(play.readAllStandardOutput());
        QCOMPARE(play.exitStatus(), QProcess::NormalExit);
        QVERIFY2(play.exitCode() == 0, qPrintable(stats + play.readAllStandardError()));
        QVERIFY2(stats.contains(QLatin1String("pictures: 50\n")), qPrintable(stats));

        QTRY_VERIFY_WITH_TIMEOUT(record.state() == QProcess::NotRunning, 45000);
        QCOMPARE(record.exitCode(), 0);
    }

    // A file chosen in the title bar's dialog (at home, for videos or any file) plays with a slider that spans it and
    // follows the player. Stopped before, the play button does nothing, and a picture that still comes is not shown.
    void localFileFromTheTitleBar()
    {
        QTest::mouseClick(screen->playButton(), Qt::LeftButton);
        QCOMPARE(state(), Stop);
        QCOMPARE(ctrl->localPlayback()->state(), Stop);
        QCOMPARE(ctrl->classPlayback()->state(), Stop);
        screen->doOneImage(red());
        QCOMPARE(screen->shownImage(), background());

        // The dialog has no event loop of its own: the title bar returns at once.
        QSignalSpy chosen(window->title(), SIGNAL(local_play(QString)));
        window->title()->doJump(QStringLiteral("1"));
        QFileDialog *dialog = nullptr;
        QTRY_VERIFY((dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())));
        QCOMPARE(dialog->directory().absolutePath(), QDir::homePath());
        const QStringList filters = dialog->nameFilters();
        QVERIFY(filters.first().contains("*.mp4") && filters.last() == QStringLiteral("所有文件 (*)"));
        dialog->selectFile(fileName);
        QMetaObject::invokeMethod(dialog, "accept");
        QCOMPARE(chosen.count(), 1);
        QCOMPARE(chosen.first().at(0).toString(), fileName);
        QTRY_COMPARE(state(), Playing);
        QCOMPARE(screen->playMode(), Screen::PlayMode::File);
        QTRY_COMPARE_WITH_TIMEOUT(shownSize(), QSize(320, 240), 15000);
        // The slider spans the file and follows the player.
        QTRY_VERIFY(screen->progress()->isVisible());
        QCOMPARE(screen->progress()->maximum(), 10);
        QTRY_VERIFY_WITH_TIMEOUT(screen->progress()->value() >= 2, 15000);
        QVERIFY(!screen->dialogueButton()->isVisible());

        // A click near the slider's start seeks back.
        QTest::mouseClick(screen->progress(), Qt::LeftButton, Qt::NoModifier, QPoint(1, 3));
        QTRY_VERIFY_WITH_TIMEOUT(ctrl->localPosition() < 1.5, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(screen->progress()->value() <= 1, 5000);

        // Paused: pictures are dropped, the last one stays.
        QTest::mouseClick(screen->playButton(), Qt::LeftButton);
        QCOMPARE(state(), Pause);
        QCOMPARE(ctrl->localPlayback()->state(), Pause);
        const QImage last = screen->shownImage();
        screen->doOneImage(red());
        QCOMPARE(screen->shownImage(), last);
        QTest::mouseClick(screen->playButton(), Qt::LeftButton);
        QCOMPARE(ctrl->localPlayback()->state(), Playing);
        const qint64 key = screen->shownImage().cacheKey();
        QTRY_VERIFY(screen->shownImage().cacheKey() != key);

        // At its end the button shows stopped; play starts the file from the beginning, and the slider seeks.
        QTest::mouseClick(screen->progress(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(screen->progress()->width() - 1, 3));
        QTRY_COMPARE_WITH_TIMEOUT(state(), Stop, 15000);
        QVERIFY(screen->progress()->isVisible());
        QTest::mouseClick(screen->playButton(), Qt::LeftButton);
        QCOMPARE(state(), Playing);
        QTRY_VERIFY_WITH_TIMEOUT(ctrl->localPosition() > 0.2 && ctrl->localPosition() < 5, 10000);
        QTest::mouseClick(screen->progress(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(screen->progress()->width() - 1, 3));
        QTRY_COMPARE_WITH_TIMEOUT(state(), Stop, 15000);
        QTest::mouseClick(screen->progress(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(screen->progress()->width() / 2, 3));
        QCOMPARE(state(), Playing);
        QTRY_VERIFY_WITH_TIMEOUT(ctrl->localPosition() >= 4, 10000);

        // Full screen and back: the file plays on, 1:1 where it has room, and the screen returns to its place; [结束]
        // in full screen also leaves it.
        const QRect placed = screen->geometry();
        QTest::mouseClick(screen->fullScreenButton(), Qt::LeftButton);
        QVERIFY(screen->isFullScreenView() && screen->isWindow());
        QTRY_COMPARE(screen->geometry(), QGuiApplication::primaryScreen()->geometry());
        const qint64 shown = screen->shownImage().cacheKey();
        QTRY_VERIFY(screen->shownImage().cacheKey() != shown);
        QCOMPARE(shownSize(), QSize(320, 240));
        screen->toggleFullScreen();
        QVERIFY(!screen->isFullScreenView() && !screen->isWindow());
        QTRY_COMPARE(screen->geometry(), placed);
        QVERIFY(screen->isVisible() && screen->fullScreenButton()->isVisible());
        screen->enterFullScreen();
        QVERIFY(screen->isWindow());

        // The end: background, also when late pictures come.
        QSignalSpy chatOut(screen, SIGNAL(s_chatOut()));
        end();
        QVERIFY(!screen->isFullScreenView() && !screen->isWindow());
        QCOMPARE(chatOut.count(), 1);
        QCOMPARE(state(), Stop);
        QCOMPARE(screen->playMode(), Screen::PlayMode::None);
        QVERIFY(!screen->progress()->isVisible());
        QCOMPARE(screen->shownImage(), background());
        screen->doOneImage(red());
        QCOMPARE(screen->shownImage(), background());
    }

    // A student's one-to-one class has the dialogue button: it follows the dialogue and hides while paused. A dialogue
    // whose server restarts comes back by itself (one that gives up: tst_classroom_sessions).
    void studentDialogueButton()
    {
        testsupport::NginxRtmp voice;
        QVERIFY(voice.start());
        const QString talk = voice.url(QStringLiteral("talk"));
        screen->slot_doClass(course(2, "1", talk, nginx.url("classA")));
        QTRY_COMPARE_WITH_TIMEOUT(shownSize(), QSize(320, 240), 20000);
        QCOMPARE(state(), Playing);
        // A student plays the class: no voice of the other side, nothing published but the dialogue.
        QVERIFY(!ctrl->talkPlayback()->isRunning() && ctrl->recorder()->isIdle());
        Label *button = screen->dialogueButton();
        QVERIFY(button->isVisible());
        QCOMPARE(button->text(), QStringLiteral("[开启对话]"));
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(ctrl->isDialogueOn());
        QCOMPARE(button->text(), QStringLiteral("[关闭对话]"));
        QVERIFY(testsupport::waitForCodecs(talk, {"aac"}));
        // Paused (the class's player too): no button; back: it tells the dialogue runs.
        QTest::mouseClick(screen->playButton(), Qt::LeftButton);
        QCOMPARE(ctrl->classPlayback()->state(), Pause);
        QVERIFY(!button->isVisible());
        QTest::mouseClick(screen->playButton(), Qt::LeftButton);
        QCOMPARE(ctrl->classPlayback()->state(), Playing);
        QVERIFY(button->isVisible());
        QCOMPARE(button->text(), QStringLiteral("[关闭对话]"));
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(!ctrl->isDialogueOn());
        QCOMPARE(button->text(), QStringLiteral("[开启对话]"));
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(ctrl->isDialogueOn());
        // Its server restarts: the dialogue comes back by itself, without a word to the user.
        QVERIFY(testsupport::waitForCodecs(talk, {"aac"}));
        QVERIFY(voice.restart());
        QVERIFY(testsupport::waitForCodecs(talk, {"aac"}, 20000));
        QVERIFY(ctrl->isDialogueOn());

        // It ends with the class, and nothing comes back.
        end();
        QVERIFY(!button->isVisible());
        QVERIFY(!ctrl->isDialogueOn());
        QVERIFY(testsupport::codecs(talk, 3000).isEmpty());
    }

    // A student early for class waits with a word and nothing that claims to play, while the server is down (the player
    // tries again every 2 s) and while it holds the player until somebody publishes; the class appears by itself. A
    // stream that goes away mid-class comes back the same way.
    void studentWaitsForTheTeacher()
    {
        testsupport::NginxRtmp server;
        server.setStatPage(true);
        QVERIFY(server.start());
        const QString url = server.url("later");
        server.stop();
        QSignalSpy pictures(ctrl, &playAudioVideoCtrl::sig_GetOneFrame);
        screen->slot_doClass(course(2, "1", server.url("later_talk"), url));
        QTRY_VERIFY(!screen->isStarting());
        // The first try failed; the next ones too while the server is down.
        QSignalSpy ended(ctrl->classPlayback(), &QThread::finished);
        QVERIFY(ended.wait(10000) && ended.wait(10000));
        QCOMPARE(ctrl->liveState(), playAudioVideoCtrl::Waiting);
        QCOMPARE(state(), Stop);
        QVERIFY(server.restart());
        // The player's stream, held with nobody publishing.
        QTRY_VERIFY_WITH_TIMEOUT(server.streams().value(0).clients > 0, 10000);
        QCOMPARE(ctrl->liveState(), playAudioVideoCtrl::Waiting);
        QCOMPARE(screen->liveText(), QStringLiteral("等待老师开始上课…"));
        QCOMPARE(state(), Stop);
        QVERIFY(pictures.isEmpty());
        // The dialogue belongs to the class, not to its picture.
        QVERIFY(screen->dialogueButton()->isVisible());
        Publisher teacher;
        QVERIFY(teacher.start(url));
        QTRY_COMPARE_WITH_TIMEOUT(shownSize(), QSize(320, 240), 20000);
        QCOMPARE(state(), Playing);
        QCOMPARE(ctrl->liveState(), playAudioVideoCtrl::Live);
        QVERIFY(!screen->liveBar()->isVisible());
        QVERIFY(screen->dialogueButton()->isVisible());
        teacher.stop();
        QTRY_COMPARE_WITH_TIMEOUT(screen->liveText(), QStringLiteral("连接中断，正在重连…"), 10000);
        QCOMPARE(ctrl->liveState(), playAudioVideoCtrl::Reconnecting);
        QCOMPARE(state(), Stop);
        QVERIFY(teacher.start(url));
        QTRY_COMPARE_WITH_TIMEOUT(ctrl->liveState(), playAudioVideoCtrl::Live, 20000);
        pictures.clear();
        QTRY_VERIFY_WITH_TIMEOUT(pictures.count() >= 5, 10000);
        // Signing out stops everything; the screen keeps its mode.
        screen->loginOut();
        QCOMPARE(state(), Stop);
        QCOMPARE(screen->playMode(), Screen::PlayMode::Class);
        QCOMPARE(screen->shownImage(), background());
        QCOMPARE(ctrl->classPlayback()->state(), Stop);
        QTRY_VERIFY_WITH_TIMEOUT(ctrl->isIdle(), 20000);
        QCOMPARE(ctrl->liveState(), playAudioVideoCtrl::Off);
        QVERIFY(!screen->liveBar()->isVisible());
    }

    // A class on its low rendition says so over the picture, with why in its tooltip, and stops saying so when it
    // goes back.
    void lowRenditionMark()
    {
        QVERIFY(screen->lowRenditionText().isEmpty());
        emit ctrl->sig_lowRendition(true);
        QCOMPARE(screen->lowRenditionText(), QStringLiteral("流畅"));
        QVERIFY(screen->lowRenditionWhy().contains(QStringLiteral("640x360")));
        emit ctrl->sig_lowRendition(false);
        QVERIFY(screen->lowRenditionText().isEmpty());
    }

    // A class or file replacing another never blocks the event loop for
    // the old players, and never leaves two of them running.
    void replacingATeacherClass()
    {
        const QString first = nginx.url("lesson1");
        const QString second = nginx.url("lesson2");
        screen->slot_doClass(course(1, "3", first, nginx.url("lesson1_talk"), "1"));
        QVERIFY(testsupport::waitForCodecs(first, {"aac", "h264"}));
        QVERIFY(!ctrl->talkPlayback()->isRunning()); // no student's voice in a group class
        // On air, another class is entered only when the teacher says so; "取消" changes nothing, and neither does
        // closing the window where the desktop has no tray.
        screen->slot_doClass(course(1, "1", second, nginx.url("y"), "2"));
        answerEnd(false);
        const auto tray = app::trayAvailable;
        app::trayAvailable = [] { return false; };
        QTest::mouseClick(window->title()->closeButton(), Qt::LeftButton);
        app::trayAvailable = tray;
        answerEnd(false);
        QVERIFY(window->isVisible() && ctrl->isTeaching());
        QCOMPARE(ctrl->recorder()->currentUrl(), first);
        QVERIFY(timed([&] { screen->slot_doClass(course(1, "3", first, nginx.url("x"), "1")); }) < 1000);
        answerEnd(true);
        // The second a one-to-one class: no dialogue button for its teacher either.
        QTRY_VERIFY(ctrl->isTeaching());
        QVERIFY(timed([&] { screen->slot_doClass(course(1, "1", second, nginx.url("y"), "2")); }) < 1000);
        answerEnd(true);
        QTRY_VERIFY_WITH_TIMEOUT(!screen->isStarting(), 30000);
        QCOMPARE(ctrl->recorder()->currentUrl(), second);
        QVERIFY(!ctrl->recorder()->isIdle());
        QVERIFY(testsupport::waitForCodecs(second, {"aac", "h264"}));
        QVERIFY(testsupport::codecs(first, 3000).isEmpty());
        // The teacher sees what is published, scaled to the screen in its proportions, and how the class stands.
        QTRY_COMPARE(state(), Playing);
        QVERIFY(!screen->dialogueButton()->isVisible());
        const qreal dpr = screen->devicePixelRatioF();
        const QSize desktop = QGuiApplication::primaryScreen()->size() * dpr;
        QTRY_COMPARE_WITH_TIMEOUT(shownSize(), fittedPictureSize(desktop, screen->size() * dpr), 10000);
        QVERIFY(screen->liveText().startsWith(QStringLiteral("● 直播中 00:00:")));
        QCOMPARE(screen->voiceText(), QStringLiteral("学生语音：关"));
        // The microphone (this session's silent null sink) shows its level beside its symbol; silent for 10 s, it
        // is told once, with the source it reads. Its symbol mutes it, and the class's end unmutes.
        auto *meter = findNamed<LevelMeter>(QStringLiteral("麦克风音量"));
        QTRY_VERIFY(meter && meter->isVisible());
        QVERIFY(meter->level() < 0.05);
        QTRY_VERIFY_WITH_TIMEOUT(noticeShown().startsWith(QStringLiteral("麦克风没有声音，请检查麦克风")), 15000);
        QVERIFY(noticeShown().contains(ctrl->recorder()->microphoneName()));
        auto *microphone = findNamed<IconBtn>(QStringLiteral("麦克风"));
        QTest::mouseClick(microphone, Qt::LeftButton);
        QVERIFY(ctrl->isMuted() && ctrl->recorder()->isMuted());
        QCOMPARE(microphone->picture(), QStringLiteral(":/images/sys/radio_muted"));
        // This machine has no camera: its control says so and stays off, and the class goes on.
        auto *camera = findNamed<Label>(QStringLiteral("摄像头"));
        QVERIFY(camera && camera->isVisible());
        if (QDir(QStringLiteral("/dev")).entryList({QStringLiteral("video*")}, QDir::System).isEmpty()) {
            QTest::mouseClick(camera, Qt::LeftButton);
            QTRY_VERIFY2_WITH_TIMEOUT(noticesShown().contains(QStringLiteral("未找到摄像头")),
                                      qPrintable(noticesShown().join('|')), 10000);
            QCOMPARE(camera->text(), QStringLiteral("[摄像头]"));
            QCOMPARE(camera->toolTip(), QStringLiteral("未找到摄像头"));
            QVERIFY(ctrl->isTeaching());
        }
        end();
        QVERIFY(!camera->isVisible());
        QVERIFY(!ctrl->isMuted() && !meter->isVisible());
        QCOMPARE(microphone->picture(), QStringLiteral(":/images/sys/radio"));
        QVERIFY(!screen->liveBar()->isVisible());
        QCOMPARE(screen->shownImage(), builtinPicture(QStringLiteral(":/images/sys/ended"), 1).toImage());
    }

    void replacingAStudentClass()
    {
        const CourseInfo a = course(2, "3", nginx.url("talkA"), nginx.url("classA"), "1");
        const CourseInfo b = course(2, "3", nginx.url("talkB"), nginx.url("classB"), "2");
        screen->slot_doClass(a);
        QTRY_COMPARE_WITH_TIMEOUT(shownSize(), QSize(320, 240), 20000);
        // A group class: no dialogue button, no progress slider, and the play control refuses a dialogue.
        QCOMPARE(screen->playMode(), Screen::PlayMode::Class);
        QVERIFY(!screen->dialogueButton()->isVisible() && !screen->progress()->isVisible());
        QVERIFY(!findNamed<Label>(QStringLiteral("摄像头"))->isVisible()); // the teacher's alone
        ctrl->dialogueStart();
        QVERIFY(!ctrl->isDialogueOn());

        // The same class twice, then another, in quick succession.
        QVERIFY(timed([&] { screen->slot_doClass(a); }) < 1000);
        QVERIFY(timed([&] { screen->slot_doClass(a); }) < 1000);
        QVERIFY(timed([&] { screen->slot_doClass(b); }) < 1000);
        QTRY_VERIFY_WITH_TIMEOUT(!screen->isStarting(), 20000);
        QCOMPARE(ctrl->courseInfo().id, QStringLiteral("2"));
        QCOMPARE(ctrl->classPlayback()->state(), Playing);
        QTRY_COMPARE_WITH_TIMEOUT(shownSize(), QSize(160, 120), 20000);

        // Entering while the last class is still stopping.
        QTest::mouseClick(screen->endButton(), Qt::LeftButton);
        QVERIFY(timed([&] { screen->slot_doClass(a); }) < 1000);
        QTRY_VERIFY_WITH_TIMEOUT(!screen->isStarting(), 20000);
        // Playing once the stream comes.
        QTRY_COMPARE_WITH_TIMEOUT(state(), Playing, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(shownSize(), QSize(320, 240), 20000);

        // A local file replaces the class; it plays on until the sign-out.
        QVERIFY(timed([&] { screen->local_play(fileName); }) < 1000);
        QTRY_COMPARE_WITH_TIMEOUT(ctrl->localPlayback()->state(), Playing, 20000);
        QCOMPARE(ctrl->classPlayback()->state(), Stop);
        QCOMPARE(screen->playMode(), Screen::PlayMode::File);
    }

    // Sign-out stops the file and leaves the chat; signing in again refreshes the courses on the same connection.
    void signOutAndInReusesWindows()
    {
        TitleWidget *title = window->title();
        DataReceive *chat = content->chatPanel()->connection();
        QSignalSpy left(content->chatPanel()->conListWidget(), &ConListWidget::s_studentSum);
        QTest::mouseClick(title->logoutLink(), Qt::LeftButton);
        // The confirmation box asks first.
        MessageBox *box = title->logoutConfirm();
        QTRY_VERIFY(box->isVisible());
        QVERIFY(box->isWindow());
        QVERIFY(QTest::qWaitForWindowExposed(box));
        // "取消" keeps the user signed in.
        QTest::mouseClick(buttonWithText(box, QStringLiteral("取消")), Qt::LeftButton);
        QTRY_VERIFY(!box->isVisible());
        QVERIFY(window->isVisible());

        QTest::mouseClick(title->logoutLink(), Qt::LeftButton);
        QTRY_VERIFY(box->isVisible());
        ColorBtn *ok = buttonWithText(box, QStringLiteral("确定"));
        QVERIFY(ok);
        QTest::mouseClick(ok, Qt::LeftButton);
        QTRY_VERIFY(!box->isVisible());
        QVERIFY(!window->isVisible() && login->isVisible());
        QCOMPARE(title->userNameLabel()->text(), QStringLiteral("未登录"));
        QVERIFY(!left.isEmpty());
        QCOMPARE(left.last().at(0).toInt(), 0);
        QCOMPARE(state(), Stop);
        QCOMPARE(ctrl->localPlayback()->state(), Stop);
        QTRY_VERIFY_WITH_TIMEOUT(ctrl->isIdle(), 15000);

        QVERIFY(testsupport::signIn(login, "teacher"));
        QVERIFY(window->isVisible());
        QCOMPARE(MainWindow::instance(), window);
        QCOMPARE(LoginDlg::instance(), login);
        QCOMPARE(title->userNameLabel()->text(), QStringLiteral("李老师"));
        QVERIFY(!controller->isMaximised());
        QCOMPARE(content->chatPanel()->connection(), chat);
        QVERIFY(chat->connectedNow());
        QTRY_COMPARE(courses(), 3);
    }

    void exitFromTray()
    {
        QTest::mouseClick(window->title()->closeButton(), Qt::LeftButton);
        QVERIFY(controller->trayIcon()->isVisible());
        QAction *exit = trayAction(controller->trayIcon(), QStringLiteral("退出"));
        QVERIFY(exit);
        exit->trigger();
        for (QWidget *widget : QApplication::topLevelWidgets())
            QVERIFY2(!widget->isVisible(), widget->metaObject()->className());
    }

    void closingLoginDialogEnds()
    {
        // As in the launcher: the event loop ends when the last window closes.
        QApplication::setQuitOnLastWindowClosed(true);
        login->show();
        QVERIFY(QTest::qWaitForWindowExposed(login));
        QTimer::singleShot(0, login,
                           [this]() { QTest::mouseClick(login->findChild<IconBtn *>("closeBtn"), Qt::LeftButton); });
        QTimer::singleShot(10000, qApp, []() { QCoreApplication::exit(7); }); // safety net
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!login->isVisible());
    }
};

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
