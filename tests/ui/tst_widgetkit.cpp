// The painted widgets' mouse states, locks and pictures, driven with real
// Qt events on an Xvfb display.
#include "ui/colorbtn.h"
#include "ui/commonbutton.h"
#include "ui/iconbtn.h"
#include "ui/iconlabel.h"
#include "ui/label.h"
#include "ui/pixbutton.h"
#include "ui/playbtn.h"
#include "ui/radioslider.h"
#include "ui/rebtn.h"
#include "ui/textbtn.h"
#include "ui/videoslider.h"

#include <QApplication>
#include <QImage>
#include <QSignalSpy>
#include <QTest>

namespace {
void enter(QWidget* w)
{
    QEvent e(QEvent::Enter);
    QApplication::sendEvent(w, &e);
}
void leave(QWidget* w)
{
    QEvent e(QEvent::Leave);
    QApplication::sendEvent(w, &e);
}
void press(QWidget* w)
{
    QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, w->rect().center());
}
void release(QWidget* w)
{
    QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, w->rect().center());
}
QColor pixel(QWidget* w, int x, int y)
{
    return w->grab().toImage().pixelColor(x, y);
}
}

class WidgetKitTest : public QObject
{
    Q_OBJECT
private slots:
    void iconBtnShowsHoverPictureOnlyWithHoverFlag();
    void reBtnSwapsOnEveryPress();
    void playBtnStopResetsProgressUnlessDragged();
    void videoSliderReleaseReportsValue();
    void labelClickAndColours();
    void commonButtonSelection();
    void textBtnLocksWhenPressed();
};

void WidgetKitTest::iconBtnShowsHoverPictureOnlyWithHoverFlag()
{
    IconBtn hover(":/images/sys/close", true);
    QCOMPARE(hover.size(), QSize(24, 24));
    QCOMPARE(hover.mouseState(), 0);
    enter(&hover);
    QCOMPARE(hover.mouseState(), 1);
    QCOMPARE(hover.shownPicture(), QString(":/images/sys/close_hover"));
    press(&hover);
    QCOMPARE(hover.mouseState(), 2);
    QCOMPARE(hover.shownPicture(), QString(":/images/sys/close_hover"));
    release(&hover);
    QCOMPARE(hover.mouseState(), 4);
    QCOMPARE(hover.shownPicture(), QString(":/images/sys/close"));
    leave(&hover);
    QCOMPARE(hover.mouseState(), 3);
    QCOMPARE(hover.shownPicture(), QString(":/images/sys/close"));

    IconBtn plain(":/images/sys/close", false);
    enter(&plain);
    press(&plain);
    QCOMPARE(plain.mouseState(), 0);
    QCOMPARE(plain.shownPicture(), QString(":/images/sys/close"));
}

void WidgetKitTest::reBtnSwapsOnEveryPress()
{
    ReBtn btn(":/images/sys/right", ":/images/sys/left", false);
    QCOMPARE(btn.shownPicture(), QString(":/images/sys/right"));
    QSignalSpy clicked(&btn, SIGNAL(clicked()));
    QTest::mouseClick(&btn, Qt::LeftButton);
    QCOMPARE(btn.shownPicture(), QString(":/images/sys/left"));
    QTest::mouseClick(&btn, Qt::LeftButton);
    QCOMPARE(btn.shownPicture(), QString(":/images/sys/right"));
    QTest::mouseClick(&btn, Qt::LeftButton);
    QCOMPARE(btn.shownPicture(), QString(":/images/sys/left"));
    QCOMPARE(clicked.count(), 3);
}

void WidgetKitTest::playBtnStopResetsProgressUnlessDragged()
{
    VideoSlider* slider = VideoSlider::instance();
    QCOMPARE(VideoSlider::instance(), slider);
    slider->setRange(0, 90);
    slider->setProgress(40);
    QCOMPARE(slider->value(), 40);
    playBtn::instance()->setState(3);
    QCOMPARE(slider->value(), 0);

    slider->setProgress(50);
    slider->setSliderDown(true);
    slider->setProgress(10);
    QCOMPARE(slider->value(), 50);
    playBtn::instance()->setState(3);
    QCOMPARE(slider->value(), 50);
    slider->setSliderDown(false);
    playBtn::instance()->setState(3);
    QCOMPARE(slider->value(), 0);
}

void WidgetKitTest::videoSliderReleaseReportsValue()
{
    VideoSlider* slider = VideoSlider::instance();
    slider->setRange(0, 100);
    slider->setFixedSize(200, 6);
    QSignalSpy changed(slider, SIGNAL(sig_valueChanged(int)));
    QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, QPoint(150, 3));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toInt(), 75);
    QCOMPARE(slider->value(), 75);
    QVERIFY(!slider->isSliderDown());
}

void WidgetKitTest::labelClickAndColours()
{
    Label label("[退出]", QColor("#bfc3c9"), true);
    label.setHoverColor(QColor("#bd9ca3"));
    QSignalSpy clicked(&label, SIGNAL(s_clicked()));
    QCOMPARE(label.shownColor(), QColor("#bfc3c9"));
    QVERIFY(!label.shownUnderlined());
    enter(&label);
    QCOMPARE(label.shownColor(), QColor("#bd9ca3"));
    QVERIFY(label.shownUnderlined());
    QTest::mouseClick(&label, Qt::LeftButton);
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(label.mouseState(), 4);
    QVERIFY(label.shownUnderlined());
    leave(&label);
    QCOMPARE(label.shownColor(), QColor("#bfc3c9"));
    label.setText("[结束]");
    QCOMPARE(label.text(), QString("[结束]"));
}

void WidgetKitTest::commonButtonSelection()
{
    CommonButton tab("今日课程");
    QCOMPARE(tab.size(), QSize(98, 38));
    QCOMPARE(tab.backgroundColor(), QColor("#303e54"));
    enter(&tab);
    QCOMPARE(tab.backgroundColor(), QColor("#de3120"));
    leave(&tab);
    QCOMPARE(tab.backgroundColor(), QColor("#303e54"));
    QCOMPARE(pixel(&tab, 1, 1), QColor("#303e54"));

    QSignalSpy clicked(&tab, SIGNAL(clicked()));
    enter(&tab);
    QTest::mouseClick(&tab, Qt::LeftButton);
    QCOMPARE(clicked.count(), 1);
    QVERIFY(tab.isSelected());
    leave(&tab);
    // a clicked tab stays red after the mouse leaves
    QCOMPARE(tab.backgroundColor(), QColor("#de3120"));
    QCOMPARE(pixel(&tab, 1, 1), QColor("#de3120"));
    enter(&tab);
    leave(&tab);
    QCOMPARE(tab.backgroundColor(), QColor("#de3120"));

    tab.setNormalState();
    QVERIFY(!tab.isSelected());
    QCOMPARE(tab.backgroundColor(), QColor("#303e54"));
    tab.setSelectedState();
    QVERIFY(tab.isSelected());
    QCOMPARE(tab.backgroundColor(), QColor("#de3120"));
    leave(&tab);
    QCOMPARE(tab.backgroundColor(), QColor("#de3120"));
    tab.clearSelected();
    QVERIFY(!tab.isSelected());
    QCOMPARE(tab.backgroundColor(), QColor("#303e54"));
}

void WidgetKitTest::textBtnLocksWhenPressed()
{
    TextBtn btn("学生", "(3)", 14, 10, 115, 35);
    QCOMPARE(btn.size(), QSize(115, 35));
    QCOMPARE(btn.style().textSize, 14);
    QCOMPARE(btn.style().text2Size, 10);
    QCOMPARE(btn.style().textWeight, 25);
    enter(&btn);
    QCOMPARE(btn.colourSet(), 1);
    leave(&btn);
    QCOMPARE(btn.colourSet(), 0);

    QSignalSpy clicked(&btn, SIGNAL(clicked()));
    QTest::mouseClick(&btn, Qt::LeftButton);
    QCOMPARE(clicked.count(), 1);
    QVERIFY(btn.isLocked());
    QCOMPARE(btn.colourSet(), 2);
    leave(&btn);
    enter(&btn);
    QCOMPARE(btn.colourSet(), 2);
    // the bottom line shows the pressed colour
    QCOMPARE(pixel(&btn, 50, 34), QColor(235, 133, 123));

    btn.setChecked(false);
    QCOMPARE(btn.colourSet(), 0);
    enter(&btn);
    QCOMPARE(btn.colourSet(), 0);
    btn.setChecked(true);
    QCOMPARE(btn.colourSet(), 2);

    btn.setText2("(4)");
    QCOMPARE(btn.text2(), QString("(4)"));
    btn.setChecked(false);
    QCOMPARE(pixel(&btn, 50, 34), QColor(246, 246, 246));
    btn.setBorder(false);
    QVERIFY(pixel(&btn, 50, 34) != QColor(246, 246, 246));
}

QTEST_MAIN(WidgetKitTest)
#include "tst_widgetkit.moc"
