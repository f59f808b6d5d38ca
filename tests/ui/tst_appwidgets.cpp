// The question box's three buttons and the notice's slide, stay and fade,
// with the notice's timers driven by hand instead of waited for.
#include "ui/iconbtn.h"
#include "ui/messagebox.h"
#include "ui/popwidget.h"
#include "ui/tempheader.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {
void flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
bool running(popWidget *pop, const char *name)
{
    return pop->findChild<QTimer *>(name)->isActive();
}
} // namespace

class AppWidgetsTest : public QObject
{
    Q_OBJECT
private slots:
    void messageBoxButtons_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("accepts");
        QTest::newRow("确定") << "okBtn" << 1;
        QTest::newRow("取消") << "cancelBtn" << 0;
        QTest::newRow("close icon") << "closeBtn" << 0;
    }
    void messageBoxButtons()
    {
        QFETCH(QString, button);
        QFETCH(int, accepts);
        MessageBox box(nullptr);
        QSignalSpy accepted(&box, SIGNAL(doAccept()));
        // shown twice: the box is reused by its owner
        for (int round = 1; round <= 2; ++round) {
            box.show();
            QVERIFY(QTest::qWaitForWindowExposed(&box));
            QAbstractButton *btn = box.findChild<QAbstractButton *>(button);
            QVERIFY(btn);
            QTest::mouseClick(btn, Qt::LeftButton);
            QVERIFY(!box.isVisible());
            QCOMPARE(accepted.count(), accepts * round);
        }
    }

    void noticeSlidesStaysAndFades()
    {
        QPointer<popWidget> pop = new popWidget(nullptr);
        pop->setMsg("课件", "新课件已上传", "http://127.0.0.1/course/1");
        pop->showPopOn(QRect(0, 0, 1920, 1040), 1080);
        QVERIFY(pop->isVisible());
        QCOMPARE(pop->targetTop(), 1040 - pop->height());

        // rises from the screen's bottom edge into the corner above the task bar
        for (int steps = 0; running(pop, "moveTimer") && steps < 2000; ++steps)
            pop->myMove();
        QCOMPARE(pop->pos(), QPoint(1920 - pop->width(), 1040 - pop->height()));

        // stays, then fades, then closes and deletes itself
        for (int steps = 0; running(pop, "stayTimer") && steps < 100; ++steps)
            pop->myStay();
        QVERIFY(running(pop, "closeTimer"));
        pop->myClose();
        QVERIFY(pop->isVisible() && pop->windowOpacity() < 1.0);
        for (int steps = 0; pop->isVisible() && steps < 100; ++steps)
            pop->myClose();
        QVERIFY(!pop->isVisible());
        flushDeletes();
        QVERIFY(pop.isNull());
    }

    void noticeClosedDuringSlideStopsTimers()
    {
        QPointer<popWidget> pop = new popWidget(nullptr);
        pop->setMsg("t", "c", "http://127.0.0.1/");
        pop->showPop();
        QVERIFY(QTest::qWaitForWindowExposed(pop));
        for (int i = 0; i < 5; ++i)
            pop->myMove();
        QTimer *move = pop->findChild<QTimer *>("moveTimer");
        QVERIFY(move->isActive());
        QTest::mouseClick(pop->findChild<tempHeader *>()->findChild<IconBtn *>("closeBtn"), Qt::LeftButton);
        QVERIFY(!pop->isVisible());
        QVERIFY(!move->isActive());
        QVERIFY(!running(pop, "stayTimer") && !running(pop, "closeTimer"));
        flushDeletes();
        QVERIFY(pop.isNull());
    }
};

QTEST_MAIN(AppWidgetsTest)
#include "tst_appwidgets.moc"
