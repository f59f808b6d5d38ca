// The question box's three buttons and the notice's slide, stay and fade,
// with the notice's timers driven by hand instead of waited for.
#include "app/messagebox.h"
#include "app/popwidget.h"
#include "app/tempheader.h"
#include "ui/colorbtn.h"
#include "ui/iconbtn.h"
#include "ui/pixbutton.h"

#include <QDesktopServices>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUrl>

// Receives the addresses QDesktopServices would hand to a browser.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

namespace {
void flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
QTimer* timer(popWidget* pop, const char* name)
{
    return pop->findChild<QTimer*>(name);
}
}

class AppWidgetsTest : public QObject
{
    Q_OBJECT
private slots:
    void messageBoxLooks();
    void messageBoxButtons_data();
    void messageBoxButtons();
    void noticeSlidesStaysAndFades();
    void noticeOnScreenWithTopTaskBar();
    void noticeClosedDuringSlideStopsTimers();
    void noticeLookOpensAddress();
    void headerDragReportsWindowPosition();
};

void AppWidgetsTest::messageBoxLooks()
{
    MessageBox box(nullptr);
    QCOMPARE(box.size(), QSize(430, 160));
    QCOMPARE(box.windowModality(), Qt::ApplicationModal);
    QVERIFY(box.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(box.text(), QString("亲，您要进入此课堂吗?"));
    box.setText("您，确定退出登录吗？");
    QCOMPARE(box.text(), QString("您，确定退出登录吗？"));
    QCOMPARE(box.palette().color(QPalette::Window), QColor(239, 245, 255));
}

void AppWidgetsTest::messageBoxButtons_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("accepts");
    QTest::newRow("确定") << "okBtn" << 1;
    QTest::newRow("取消") << "cancelBtn" << 0;
    QTest::newRow("close icon") << "closeBtn" << 0;
}

void AppWidgetsTest::messageBoxButtons()
{
    QFETCH(QString, button);
    QFETCH(int, accepts);
    MessageBox box(nullptr);
    QSignalSpy accepted(&box, SIGNAL(doAccept()));
    // shown twice: the box is reused by its owner
    for (int round = 1; round <= 2; ++round) {
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QAbstractButton* btn = box.findChild<QAbstractButton*>(button);
        QVERIFY(btn);
        QTest::mouseClick(btn, Qt::LeftButton);
        QVERIFY(!box.isVisible());
        QCOMPARE(accepted.count(), accepts * round);
    }
}

void AppWidgetsTest::noticeSlidesStaysAndFades()
{
    QPointer<popWidget> pop = new popWidget(nullptr);
    pop->setMsg("课件", "新课件已上传", "http://127.0.0.1/course/1");
    QCOMPARE(pop->title(), QString("课件"));
    QCOMPARE(pop->content(), QString("   新课件已上传"));
    QVERIFY(pop->testAttribute(Qt::WA_DeleteOnClose));

    const QRect available(0, 0, 1920, 1040);
    pop->showPopOn(available, 1080);
    QVERIFY(pop->isVisible());
    QCOMPARE(pop->targetTop(), 1040 - pop->height());
    QVERIFY(timer(pop, "moveTimer")->isActive());
    QCOMPARE(timer(pop, "moveTimer")->interval(), 5);

    // rises one pixel per step from the screen's bottom edge
    pop->myMove();
    QCOMPARE(pop->pos(), QPoint(1920 - pop->width(), 1079));
    int steps = 1;
    while (timer(pop, "moveTimer")->isActive() && steps < 2000) {
        pop->myMove();
        ++steps;
    }
    QCOMPARE(steps, 1080 - pop->targetTop());
    QCOMPARE(pop->pos(), QPoint(1920 - pop->width(), 1040 - pop->height()));
    QVERIFY(timer(pop, "stayTimer")->isActive());
    QCOMPARE(timer(pop, "stayTimer")->interval(), 1000);

    // stays nine ticks of a second
    for (int i = 0; i < 8; ++i)
        pop->myStay();
    QVERIFY(timer(pop, "stayTimer")->isActive());
    QVERIFY(!timer(pop, "closeTimer")->isActive());
    pop->myStay();
    QCOMPARE(pop->stayedSeconds(), 9);
    QVERIFY(!timer(pop, "stayTimer")->isActive());
    QVERIFY(timer(pop, "closeTimer")->isActive());
    QCOMPARE(timer(pop, "closeTimer")->interval(), 200);

    // fades in ten steps of a tenth, then closes and deletes itself
    for (int i = 1; i <= 9; ++i) {
        pop->myClose();
        QVERIFY(pop->isVisible());
        QCOMPARE(qRound(pop->windowOpacity() * 10), 10 - i);
    }
    pop->myClose();
    QVERIFY(!pop->isVisible());
    flushDeletes();
    QVERIFY(pop.isNull());
}

void AppWidgetsTest::noticeOnScreenWithTopTaskBar()
{
    // A task bar at the top shrinks the available height; the notice stops
    // at that height measured from the screen's top.
    auto* pop = new popWidget(nullptr);
    pop->showPopOn(QRect(0, 40, 1920, 1040), 1080);
    QCOMPARE(pop->targetTop(), 1040 - pop->height());
    while (timer(pop, "moveTimer")->isActive())
        pop->myMove();
    QCOMPARE(pop->y(), 1040 - pop->height());
    pop->close();
    flushDeletes();
}

void AppWidgetsTest::noticeClosedDuringSlideStopsTimers()
{
    QPointer<popWidget> pop = new popWidget(nullptr);
    pop->setMsg("t", "c", "http://127.0.0.1/");
    pop->showPop();
    QVERIFY(QTest::qWaitForWindowExposed(pop));
    for (int i = 0; i < 5; ++i)
        pop->myMove();
    QTimer* move = timer(pop, "moveTimer");
    QVERIFY(move->isActive());
    IconBtn* close = pop->findChild<tempHeader*>()->findChild<IconBtn*>("closeBtn");
    QVERIFY(close);
    QTest::mouseClick(close, Qt::LeftButton);
    QVERIFY(!pop->isVisible());
    QVERIFY(!move->isActive());
    QVERIFY(!timer(pop, "stayTimer")->isActive());
    QVERIFY(!timer(pop, "closeTimer")->isActive());
    flushDeletes();
    QVERIFY(pop.isNull());
}

void AppWidgetsTest::noticeLookOpensAddress()
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("http", &catcher, "open");
    auto* pop = new popWidget(nullptr);
    pop->setMsg("新闻", "校园新闻", "http://127.0.0.1:18080/news/7");
    pixButton* look = pop->findChild<pixButton*>("lookBtn");
    QVERIFY(look);
    QTest::mousePress(look, Qt::LeftButton);
    QCOMPARE(catcher.urls.size(), 1);
    QCOMPARE(catcher.urls.at(0), QUrl("http://127.0.0.1:18080/news/7"));
    QDesktopServices::unsetUrlHandler("http");
    pop->close();
    flushDeletes();
}

void AppWidgetsTest::headerDragReportsWindowPosition()
{
    QWidget window;
    window.setWindowFlags(Qt::FramelessWindowHint);
    window.resize(300, 200);
    window.move(100, 100);
    auto* header = new tempHeader(&window, &window);
    header->setTitle("标题");
    QCOMPARE(header->title(), QString("标题"));
    QCOMPARE(header->height(), 45);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QSignalSpy moved(header, SIGNAL(s_move(QPoint)));
    const QPoint start(20, 10);
    const QPoint offset = header->mapToGlobal(start) - window.frameGeometry().topLeft();
    QTest::mousePress(header, Qt::LeftButton, Qt::NoModifier, start);
    QMouseEvent move(QEvent::MouseMove, QPoint(60, 30), header->mapToGlobal(QPoint(60, 30)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(header, &move);
    QCOMPARE(moved.count(), 1);
    QCOMPARE(moved.at(0).at(0).toPoint(), header->mapToGlobal(QPoint(60, 30)) - offset);

    // without the left button held nothing moves
    QTest::mouseRelease(header, Qt::LeftButton, Qt::NoModifier, QPoint(60, 30));
    QMouseEvent hover(QEvent::MouseMove, QPoint(80, 30), header->mapToGlobal(QPoint(80, 30)),
                      Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(header, &hover);
    QCOMPARE(moved.count(), 1);
}

QTEST_MAIN(AppWidgetsTest)
#include "tst_appwidgets.moc"
