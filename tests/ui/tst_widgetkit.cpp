// The painted widgets' states, driven with real Qt events on an Xvfb display.
#include "ui/commonbutton.h"
#include "ui/playbtn.h"
#include "ui/textbtn.h"
#include "ui/videoslider.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

namespace {
void send(QWidget *w, QEvent::Type type)
{
    QEvent e(type);
    QApplication::sendEvent(w, &e);
}
void enter(QWidget *w)
{
    send(w, QEvent::Enter);
}
void leave(QWidget *w)
{
    send(w, QEvent::Leave);
}
QColor pixel(QWidget *w, int x, int y)
{
    return w->grab().toImage().pixelColor(x, y);
}
} // namespace

class WidgetKitTest : public QObject
{
    Q_OBJECT
private slots:
    void playBtnStopResetsProgressUnlessDragged()
    {
        VideoSlider *slider = VideoSlider::instance();
        slider->setRange(0, 90);
        slider->setProgress(40);
        playBtn::instance()->setState(3);
        QCOMPARE(slider->value(), 0);

        slider->setProgress(50);
        slider->setSliderDown(true);
        slider->setProgress(10);
        playBtn::instance()->setState(3);
        QCOMPARE(slider->value(), 50);
        slider->setSliderDown(false);
        playBtn::instance()->setState(3);
        QCOMPARE(slider->value(), 0);
    }
    // A clicked tab and a pressed text button stay marked after the mouse
    // leaves, until told otherwise.
    void selectionOutlastsTheMouse()
    {
        const QColor normal("#303e54"), red("#de3120");
        CommonButton tab("今日课程");
        enter(&tab);
        QTest::mouseClick(&tab, Qt::LeftButton);
        leave(&tab);
        QCOMPARE(pixel(&tab, 1, 1), red);
        tab.clearSelected();
        QCOMPARE(tab.backgroundColor(), normal);

        TextBtn btn("学生", "(3)", 14, 10, 115, 35);
        QSignalSpy clicked(&btn, SIGNAL(clicked()));
        QTest::mouseClick(&btn, Qt::LeftButton);
        QCOMPARE(clicked.count(), 1);
        leave(&btn);
        QCOMPARE(btn.colourSet(), 2);
        btn.setChecked(false);
        enter(&btn);
        leave(&btn);
        QCOMPARE(btn.colourSet(), 0);
    }
};

QTEST_MAIN(WidgetKitTest)
#include "tst_widgetkit.moc"
