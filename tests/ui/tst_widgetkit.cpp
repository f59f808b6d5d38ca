// The painted widgets' states, driven with real Qt events on an Xvfb display.
#include "ui/colorbtn.h"
#include "ui/commonbutton.h"
#include "ui/iconbtn.h"
#include "ui/label.h"
#include "ui/pixbutton.h"
#include "ui/playbtn.h"
#include "ui/textbtn.h"
#include "ui/videoslider.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

#include <memory>

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
QImage look(QWidget *w)
{
    return w->grab().toImage();
}
// One of the kit's buttons, by its row's name, as its users make it.
QWidget *makeButton(const QByteArray &name)
{
    if (name.startsWith("picture button"))
        return new IconBtn(":/images/sys/min", !name.endsWith("without hover"));
    if (name.startsWith("link") || name.startsWith("label")) {
        auto *label = new Label("[退出]", QColor("#bfc3c9"), name.startsWith("link"));
        label->setHoverColor(QColor("#bd9ca3"));
        return label;
    }
    if (name == "look button")
        return new pixButton(":/images/sys/look");
    if (name == "colour button") {
        auto *button = new ColorBtn("确定", 12, 80, 30);
        button->setBgColors(QColor(48, 62, 84), QColor(48, 162, 84), QColor(200, 62, 84));
        return button;
    }
    if (name == "text button")
        return new TextBtn("学生", "(3)", 14, 10, 115, 35);
    return new CommonButton("今日课程");
}
// What an owner does to unselect a tab or a text button; false for others.
bool unselect(QWidget *w)
{
    if (auto *tab = qobject_cast<CommonButton *>(w))
        tab->clearSelected();
    else if (auto *text = qobject_cast<TextBtn *>(w))
        text->setChecked(false);
    else
        return false;
    return true;
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
    // Every painted button's look through the mouse: under it, clicked, and after it left. A selected tab and a pressed
    // colour or text button keep their look, and the mouse no longer changes it, until their owner unselects them.
    void looksFollowTheMouse_data()
    {
        QTest::addColumn<bool>("hovers"); // the look changes under the mouse
        QTest::addColumn<bool>("holds"); // a click's look outlasts the mouse
        QTest::newRow("picture button") << true << false;
        QTest::newRow("picture button without hover") << false << false;
        QTest::newRow("link") << true << false;
        QTest::newRow("label not clickable, still telling of a click") << false << false;
        QTest::newRow("look button") << true << false;
        QTest::newRow("colour button") << true << true;
        QTest::newRow("text button") << true << true;
        QTest::newRow("tab") << true << true;
    }
    void looksFollowTheMouse()
    {
        QFETCH(bool, hovers);
        QFETCH(bool, holds);
        std::unique_ptr<QWidget> widget(makeButton(QTest::currentDataTag()));
        QSignalSpy clicks(widget.get(), qobject_cast<Label *>(widget.get()) ? SIGNAL(s_clicked()) : SIGNAL(clicked()));
        const QImage normal = look(widget.get());

        enter(widget.get());
        QCOMPARE(look(widget.get()) != normal, hovers);
        QTest::mouseClick(widget.get(), Qt::LeftButton);
        QCOMPARE(clicks.count(), 1);
        leave(widget.get());
        const QImage clicked = look(widget.get());
        QCOMPARE(clicked != normal, holds);
        if (holds) {
            enter(widget.get());
            QCOMPARE(look(widget.get()), clicked);
            leave(widget.get());
        }
        if (unselect(widget.get()))
            QCOMPARE(look(widget.get()), normal);
    }
};

QTEST_MAIN(WidgetKitTest)
#include "tst_widgetkit.moc"
