// The application shell through its real windows against the demo school: sign-in, the window's place, the tray and
// sign-out; and the content area inside the main window: its three panels, the order in which an entered course reaches
// the screen and the chat panel, and the local file dialog.
#include "demoschool.h"
#include "signin.h"
#include "testsupport.h"

#include "app/app.h"
#include "app/contentwidget.h"
#include "app/mainwindow.h"
#include "app/titlewidget.h"
#include "app/trayicon.h"
#include "app/traymenu.h"
#include "chat/DataReceive.h"
#include "chat/conlistwidget.h"
#include "chat/studentwidget.h"
#include "classroom/playaudiovideoctrl.h"
#include "classroom/screen.h"
#include "course/courselist.h"
#include "course/coursewidget.h"
#include "net/bitmaplabel.h"
#include "ui/iconbtn.h"
#include "ui/label.h"
#include "ui/messagebox.h"
#include "ui/playbtn.h"
#include "ui/popwidget.h"
#include "ui/rebtn.h"
#include "ui/tempheader.h"
#include "video/videoplayer_thread.h"

#include "record/audioctrl.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

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

// Drags handle by delta with the left button, from the point at.
void drag(QWidget *handle, const QPoint &at, const QPoint &delta)
{
    const QPoint global = handle->mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(handle, &press);
    QMouseEvent move(QEvent::MouseMove, at + delta, global + delta, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(handle, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, at + delta, global + delta, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(handle, &release);
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

    int courses() const { return content->coursePanel()->list()->count(); }

private slots:
    void initTestCase()
    {
        // The user's settings start empty.
        QVERIFY(config.isValid());
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
        // The classes' addresses lead nowhere: nothing here plays a class.
        school.setChatHost(testsupport::freeLoopbackHost());
        QVERIFY(school.start(QStringLiteral("rtmp://127.0.0.1:1/live")) && school.writeSysConfig());
        // Windows are closed and reopened here; the test ends on its own.
        QApplication::setQuitOnLastWindowClosed(false);
        app::trayAvailable = [] { return true; }; // Xvfb has no tray of its own
        controller = new app();
        login = controller->loginDialog();
        window = controller->mainWnd();
        content = window->contentArea();
        QVERIFY(!controller->trayIcon()->isVisible());
        login->show();
        QVERIFY(QTest::qWaitForWindowExposed(login));
        QVERIFY(!window->isVisible());
    }

    // The user's name and picture, and a screen that plays nothing (the end-to-end class sees the window come, centred
    // the first time, with the courses and the chat).
    void signInShowsUser()
    {
        TitleWidget *title = window->title();
        content->screen()->slot_doClass(CourseInfo()); // leaves play mode 2
        QVERIFY(testsupport::signIn(login, "student"));
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCOMPARE(title->userNameLabel()->text(), QStringLiteral("王小明"));
        QTRY_COMPARE(title->userPhotoLabel()->currentPixmap().size(), QSize(20, 20));
        QCOMPARE(content->screen()->playMode(), 0);
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
        drag(handle, at, QPoint(37, 23));
        QTRY_COMPARE(moved->pos(), before + QPoint(37, 23));
    }

    // Courses, screen and chat side by side; the screen's arrows fold the panels and the screen takes their room.
    void arrowsFoldAndUnfoldThePanels()
    {
        Screen *screen = content->screen();
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
        Screen *screen = content->screen();
        CourseInfo info;
        info.id = QStringLiteral("4711");
        info.listType = 0; // of no role of ours: nothing plays, though there are addresses
        info.rtmp = info.rtmplat = QStringLiteral("rtmp://127.0.0.1:1/live/x");
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
        QCOMPARE(screen->playMode(), 2);
        playAudioVideoCtrl *play = screen->playControl();
        play->dialogueStart();
        QVERIFY(play->isIdle());
        QCOMPARE(play->classPlayback()->state(), Stop);
        QCOMPARE(play->dialogueState(), int(AudioCtrl::Idle));
    }

    void maximiseAndRestore()
    {
        const QSize screen = QGuiApplication::primaryScreen()->availableGeometry().size();
        const int w = screen.width(), h = screen.height();
        QTest::mouseClick(window->title()->maxButton(), Qt::LeftButton);
        QVERIFY(controller->isMaximised());
        QTRY_COMPARE(window->geometry(), QRect(0, 0, w, h));

        // A double click on the bar toggles back to the centred normal size.
        QTest::mouseDClick(window->title(), Qt::LeftButton, Qt::NoModifier, QPoint(700, 19));
        QVERIFY(!controller->isMaximised());
        QTRY_COMPARE(window->geometry(), QRect((w - 1180) / 2, (h - 600) / 2, 1180, 600));
        QVERIFY(!window->isMaximized()); // layout by geometry only
    }
    // To the tray: the screen shows its background.
    void trayAndBack()
    {
        Screen *screen = content->screen();
        playBtn::instance()->setState(1);
        QImage red(8, 8, QImage::Format_RGB32);
        red.fill(Qt::red);
        screen->doOneImage(red);
        QCOMPARE(screen->shownImage(), red);
        QTest::mouseClick(window->title()->closeButton(), Qt::LeftButton);
        QVERIFY(!window->isVisible() && !login->isVisible());
        QVERIFY(controller->trayIcon()->isVisible());
        QCOMPARE(screen->shownImage(), QImage(QStringLiteral(":/images/sys/bg")));
        playBtn::instance()->setState(3);

        QAction *show = trayAction(controller->trayIcon(), QStringLiteral("显示"));
        QVERIFY(show);
        show->trigger();
        QVERIFY(window->isVisible());
        QVERIFY(!controller->trayIcon()->isVisible());
        QCOMPARE(TrayMenu::portalUrl(), QStringLiteral("http://127.0.0.1:%1/").arg(school.port()));
    }

    void noTrayMinimises()
    {
        const auto previous = app::trayAvailable;
        app::trayAvailable = [] { return false; };
        QTest::mouseClick(window->title()->closeButton(), Qt::LeftButton);
        app::trayAvailable = previous;
        QVERIFY(window->isVisible());
        QTRY_VERIFY(window->isMinimized());
        QVERIFY(!controller->trayIcon()->isVisible());
        window->showNormal();
        QTRY_VERIFY(!window->isMinimized());
    }

    void localFileFromTheTitleBar()
    {
        const QString file = QDir::current().absoluteFilePath(QStringLiteral("clip.MP4"));
        QVERIFY(testsupport::makeMedia(file,
                                       QStringLiteral("-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i "
                                                      "sine=sample_rate=44100 -t 3 -c:v libx264 -preset "
                                                      "ultrafast -pix_fmt yuv420p -c:a aac -f mp4")
                                           .split(' ')));
        QString directory;
        QStringList filters;
        QTimer::singleShot(0, this, [&]() {
            QFileDialog *dialog = nullptr;
            QTRY_VERIFY((dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())));
            directory = dialog->directory().absolutePath();
            filters = dialog->nameFilters();
            dialog->selectFile(file);
            QMetaObject::invokeMethod(dialog, "accept");
        });
        QSignalSpy chosen(window->title(), SIGNAL(local_play(QString)));
        window->title()->doJump(QStringLiteral("1"));
        QCOMPARE(directory, QDir::homePath());
        QVERIFY(filters.first().contains("*.mp4") && filters.last() == QStringLiteral("所有文件 (*)"));
        QCOMPARE(chosen.count(), 1);
        QCOMPARE(chosen.first().at(0).toString(), file);
        QTRY_COMPARE(content->screen()->playMode(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(content->screen()->shownImage().size(), QSize(160, 120), 15000);
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
        QCOMPARE(box->text(), QStringLiteral("您，确定退出登录吗？"));
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
        QCOMPARE(playBtn::instance()->state(), 3);
        playAudioVideoCtrl *play = content->screen()->playControl();
        QCOMPARE(play->localPlayback()->state(), Stop);
        QTRY_VERIFY_WITH_TIMEOUT(play->isIdle(), 15000);

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
