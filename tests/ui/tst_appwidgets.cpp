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
    void messageBoxButtons_data();
    void messageBoxButtons();
    void noticeSlidesStaysAndFades();
    void noticeClosedDuringSlideStopsTimers();
};

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

QTEST_MAIN(AppWidgetsTest)
#include "tst_appwidgets.moc"
