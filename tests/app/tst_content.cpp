// The content area inside the main window: its three panels, the order in which an entered course reaches the screen
// and the chat panel, sign-in and sign-out against the demo school, the tray step and the local file dialog.
#include "demoschool.h"
#include "testsupport.h"

#include "app/contentwidget.h"
#include "app/mainwindow.h"
#include "app/titlewidget.h"
#include "chat/DataReceive.h"
#include "chat/conlistwidget.h"
#include "chat/studentwidget.h"
#include "classroom/playaudiovideoctrl.h"
#include "classroom/screen.h"
#include "course/courselist.h"
#include "course/coursewidget.h"
#include "net/tavihttp.h"
#include "net/userinfo.h"
#include "ui/label.h"
#include "ui/playbtn.h"
#include "ui/rebtn.h"
#include "video/videoplayer_thread.h"

#include <QApplication>
#include <QFileDialog>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

class TestContent : public QObject
{
    Q_OBJECT

    testsupport::DemoSchool school;
    MainWindow *window = nullptr;
    ContentWidget *content = nullptr;

private slots:
    void initTestCase()
    {
        // The classes' addresses lead nowhere: nothing here plays a class.
        school.setChatHost(testsupport::freeLoopbackHost());
        QVERIFY(school.start(QStringLiteral("rtmp://127.0.0.1:1/live")) && school.writeSysConfig());
        window = MainWindow::instance();
        content = window->contentArea();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
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

    void signInFillsTheCoursesAndStartsTheChat()
    {
        // The session cookie of a sign-in, as the login dialog gets it.
        auto *login =
            new TaviHttp(QStringLiteral("/ucenter/default/login?username=student&password=123456"), {}, 80, true);
        login->get();
        login->deleteLater();
        UserInfo::instance().type = QStringLiteral("1");
        UserInfo::instance().real_name = QStringLiteral("王小明");

        DataReceive *chat = content->chatPanel()->connection();
        content->screen()->slot_doClass(CourseInfo()); // leaves play mode 2
        window->loginSuccess();
        QTRY_VERIFY(chat->connectedNow());
        QCOMPARE(content->screen()->playMode(), 0);
        QTRY_COMPARE(content->coursePanel()->list()->count(), 3);
        QVERIFY(content->coursePanel()->list()->isVisible());
        // A second sign-in refreshes the list again.
        window->loginSuccess();
        QCOMPARE(content->chatPanel()->connection(), chat);
        QVERIFY(chat->connectedNow());
        QCOMPARE(content->coursePanel()->list()->count(), 0);
        QTRY_COMPARE(content->coursePanel()->list()->count(), 3);
    }

    void enteredCourseReachesScreenFirstThenChat()
    {
        Screen *screen = content->screen();
        CourseInfo info;
        info.id = QStringLiteral("4711");
        info.listType = 0; // nothing to play
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
    }
    void trayStepShowsTheBackground()
    {
        Screen *screen = content->screen();
        playBtn::instance()->setState(1);
        QImage red(8, 8, QImage::Format_RGB32);
        red.fill(Qt::red);
        screen->doOneImage(red);
        QCOMPARE(screen->shownImage(), red);
        window->onTray();
        QCOMPARE(screen->shownImage(), QImage(QStringLiteral(":/images/sys/bg")));
        playBtn::instance()->setState(3);
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
        Screen *screen = content->screen();
        QTRY_COMPARE(screen->playMode(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(screen->shownImage().size(), QSize(160, 120), 15000);

        // Sign-out stops it and leaves the chat.
        QSignalSpy left(content->chatPanel()->conListWidget(), &ConListWidget::s_studentSum);
        window->loginOut();
        QVERIFY(!left.isEmpty());
        QCOMPARE(left.last().at(0).toInt(), 0);
        QCOMPARE(playBtn::instance()->state(), 3);
        QCOMPARE(screen->playControl()->localPlayback()->state(), Stop);
        QTRY_VERIFY_WITH_TIMEOUT(screen->playControl()->isIdle(), 15000);
    }
};

QTEST_MAIN(TestContent)
#include "tst_content.moc"
