// The road of a class in one process: sign in against the demo school, the
// course list arrives, "进入课堂" and "确定", and the pictures of the class
// that a publisher sends to nginx-rtmp reach the classroom screen.
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
#include "ui/messagebox.h"

#include <QApplication>
#include <QLineEdit>
#include <QProcess>
#include <QtTest>

class TestClassRoad : public QObject
{
    Q_OBJECT

private slots:
    void studentEntersALiveClass()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("needs the PulseAudio session of ./run test");
        testsupport::NginxRtmp nginx;
        QVERIFY(nginx.start());
        const QString base = nginx.url(QString()).chopped(1); // rtmp://127.0.0.1:PORT/live
        testsupport::DemoSchool school;
        QVERIFY(school.start(base));
        QVERIFY(school.writeSysConfig());

        // The teacher's side: the group class 102 is on the air.
        QProcess teacher;
        teacher.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        teacher.start(
            QStringLiteral("ffmpeg"),
            QStringLiteral("-hide_banner -nostdin -loglevel error -re -f lavfi -i testsrc2=size=320x240:rate=25 "
                           "-f lavfi -i sine=sample_rate=44100 -c:v libx264 -preset ultrafast -tune "
                           "zerolatency -g 12 -pix_fmt yuv420p -c:a aac -f flv")
                    .split(' ')
                << base + QStringLiteral("/course102"));
        QVERIFY(teacher.waitForStarted(5000));

        QApplication::setQuitOnLastWindowClosed(false);
        app::trayAvailable = [] { return true; };
        app controller;
        LoginDlg *login = controller.loginDialog();
        login->show();
        QVERIFY(QTest::qWaitForWindowExposed(login));
        login->findChild<QLineEdit *>("userEdit")->setText(QStringLiteral("student"));
        login->findChild<QLineEdit *>("passwordEdit")->setText(QStringLiteral("123456"));
        QTest::mouseClick(login->findChild<ColorBtn *>("loginBtn"), Qt::LeftButton);
        MainWindow *window = controller.mainWnd();
        QTRY_VERIFY(window->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(window));

        // Today's courses arrive.
        CourseList *list = window->contentArea()->coursePanel()->list();
        QTRY_COMPARE_WITH_TIMEOUT(list->count(), 3, 10000);
        QVERIFY(list->isVisible());
        CourseListItem *entry = nullptr;
        for (int i = 0; i < list->count(); ++i)
            if (list->entry(i)->courseInfo().id == QLatin1String("102"))
                entry = list->entry(i);
        QVERIFY(entry);
        QVERIFY(entry->enterButton()->isVisible());

        QTest::mouseClick(entry->enterButton(), Qt::LeftButton);
        MessageBox *box = entry->confirmBox();
        QVERIFY(QTest::qWaitForWindowExposed(box));
        QTest::mouseClick(box->findChild<ColorBtn *>("okBtn"), Qt::LeftButton);

        // The class's pictures are on the screen.
        Screen *screen = window->contentArea()->screen();
        QTRY_COMPARE_WITH_TIMEOUT(screen->shownImage().size(), QSize(320, 240), 30000);
        QCOMPARE(screen->playMode(), 2);
        QCOMPARE(screen->currentCourse().rtmplat, base + QStringLiteral("/course102"));
        const QImage painted = screen->grab().toImage();
        const QImage background =
            QImage(QStringLiteral(":/images/sys/bg")).scaled(screen->size()).convertToFormat(painted.format());
        QVERIFY(painted != background);
        QVERIFY(list->entry(list->currentRow())->courseInfo().id == QLatin1String("102"));

        // Signing out ends the class.
        window->loginOut();
        QTRY_VERIFY_WITH_TIMEOUT(screen->playControl()->isIdle(), 20000);
        teacher.kill();
        teacher.waitForFinished(5000);
    }
};

QTEST_MAIN(TestClassRoad)
#include "tst_classroad.moc"
