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
    void iconBtnPaintsTheHoverPicture();
    void iconBtnStillClicks();
    void reBtnSwapsOnEveryPress();
    void playBtnFlipAndStates();
    void playBtnStopResetsProgressUnlessDragged();
    void videoSliderReleaseReportsValue();
    void pixButtonBackgrounds();
    void iconLabelSizes();
    void labelClickAndColours();
    void labelNotClickable();
    void commonButtonSelection();
    void textBtnLocksWhenPressed();
    void colorBtnLocksAndOutline();
    void radioSliderRange();
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

void WidgetKitTest::iconBtnPaintsTheHoverPicture()
{
    // The close button's hover picture is a red square; the plain one has a
    // transparent corner.
    IconBtn btn(":/images/sys/close", true);
    QVERIFY(pixel(&btn, 2, 12) != QColor("#de3120"));
    enter(&btn);
    QCOMPARE(pixel(&btn, 2, 12), QColor("#de3120"));
}

void WidgetKitTest::iconBtnStillClicks()
{
    IconBtn btn(":/images/sys/min", true);
    QSignalSpy clicked(&btn, SIGNAL(clicked()));
    QTest::mouseClick(&btn, Qt::LeftButton);
    QCOMPARE(clicked.count(), 1);
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

void WidgetKitTest::playBtnFlipAndStates()
{
    playBtn* btn = playBtn::instance();
    QCOMPARE(playBtn::instance(), btn);
    QCOMPARE(btn->state(), 3);
    QCOMPARE(btn->shownPicture(), QString(":/images/sys/play"));
    btn->flip();
    QCOMPARE(btn->state(), 1);
    QCOMPARE(btn->shownPicture(), QString(":/images/sys/stop"));
    btn->flip();
    QCOMPARE(btn->state(), 2);
    QCOMPARE(btn->shownPicture(), QString(":/images/sys/play"));
    QMetaObject::invokeMethod(btn, "slot_playBtn");
    QCOMPARE(btn->state(), 1);
    btn->setState(2);
    QCOMPARE(btn->shownPicture(), QString(":/images/sys/play"));
    btn->setState(1);
    QCOMPARE(btn->shownPicture(), QString(":/images/sys/stop"));
    btn->setState(3);
    QCOMPARE(btn->state(), 3);
    QCOMPARE(btn->shownPicture(), QString(":/images/sys/play"));
    // hover flag off: the mouse never brings up a hover picture
    enter(btn);
    QCOMPARE(btn->shownPicture(), QString(":/images/sys/play"));

    // a screen that held the button may delete it; the accessor recovers
    delete btn;
    playBtn* again = playBtn::instance();
    QVERIFY(again);
    QCOMPARE(again->state(), 3);
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

void WidgetKitTest::pixButtonBackgrounds()
{
    pixButton btn(":/images/sys/look");
    QCOMPARE(btn.size(), QImage(":/images/sys/look").size());
    QCOMPARE(btn.iconSize(), btn.size());
    QVERIFY(btn.isFlat());
    QCOMPARE(btn.backgroundAlpha(), 0);
    enter(&btn);
    QCOMPARE(btn.backgroundAlpha(), 120);
    QSignalSpy clicked(&btn, SIGNAL(clicked(bool)));
    press(&btn);
    // reacts on the press itself
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(clicked.at(0).at(0).toBool(), false);
    QCOMPARE(btn.backgroundAlpha(), 150);
    release(&btn);
    QCOMPARE(btn.backgroundAlpha(), 120);
    QCOMPARE(clicked.count(), 1);
    leave(&btn);
    QCOMPARE(btn.backgroundAlpha(), 0);
}

void WidgetKitTest::iconLabelSizes()
{
    IconLabel natural(":/images/sys/dialog_question", 0, 0);
    QCOMPARE(natural.size(), QImage(":/images/sys/dialog_question").size());
    QWidget parent;
    IconLabel stretched(&parent, ":/images/sys/man", 20, 20);
    QCOMPARE(stretched.parentWidget(), &parent);
    QCOMPARE(stretched.size(), QSize(20, 20));
    // the picture is drawn over the whole label
    QVERIFY(pixel(&stretched, 10, 10).alpha() == 255);
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

void WidgetKitTest::labelNotClickable()
{
    Label label("name", QColor("#bfc3c9"), false);
    label.setHoverColor(QColor("#bd9ca3"));
    QSignalSpy clicked(&label, SIGNAL(s_clicked()));
    enter(&label);
    QTest::mouseClick(&label, Qt::LeftButton);
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(label.mouseState(), 0);
    QCOMPARE(label.shownColor(), QColor("#bfc3c9"));
    QVERIFY(!label.shownUnderlined());
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

void WidgetKitTest::colorBtnLocksAndOutline()
{
    ColorBtn btn("确定", 12, 80, 24);
    QCOMPARE(btn.size(), QSize(80, 24));
    btn.setBgColors(QColor(48, 62, 84), QColor(48, 162, 84), QColor(10, 20, 30));
    QCOMPARE(pixel(&btn, 3, 3), QColor(48, 62, 84));
    enter(&btn);
    QCOMPARE(pixel(&btn, 3, 3), QColor(48, 162, 84));
    leave(&btn);
    QCOMPARE(btn.colourSet(), 0);

    press(&btn);
    QVERIFY(btn.isLocked());
    QCOMPARE(pixel(&btn, 3, 3), QColor(10, 20, 30));
    release(&btn);
    leave(&btn);
    enter(&btn);
    QCOMPARE(btn.colourSet(), 2);
    QCOMPARE(pixel(&btn, 3, 3), QColor(10, 20, 30));

    // outline flag: an orange frame, no fill, orange text
    ColorBtnStyle style;
    ColorBtn outline(style);
    QCOMPARE(outline.size(), QSize(80, 35));
    QCOMPARE(outline.text(), QString("123"));
    const QColor orange(251, 174, 67);
    outline.setFlag(1);
    outline.setTextColors(orange, orange, orange);
    const QImage image = outline.grab().toImage();
    QCOMPARE(image.pixelColor(0, 10), orange);
    QVERIFY(image.pixelColor(5, 5) != orange);
    // anti-aliased text: look for clearly orange-tinted pixels inside the frame
    bool orangeText = false;
    for (int x = 20; x < 60 && !orangeText; ++x)
        for (int y = 8; y < 28 && !orangeText; ++y)
            orangeText = image.pixelColor(x, y).red() - image.pixelColor(x, y).blue() > 100;
    QVERIFY(orangeText);
}

void WidgetKitTest::radioSliderRange()
{
    RadioSlider slider;
    QCOMPARE(slider.orientation(), Qt::Horizontal);
    QCOMPARE(slider.minimum(), 0);
    QCOMPARE(slider.maximum(), 100);
    QVERIFY(slider.styleSheet().contains("url(:images/sys/volumn)"));
    slider.resize(100, 20);
    slider.grab(); // the style sheet's handle picture loads
}

QTEST_MAIN(WidgetKitTest)
#include "tst_widgetkit.moc"
