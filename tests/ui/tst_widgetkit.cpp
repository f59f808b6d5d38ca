// The widget kit on an Xvfb display, driven with real Qt events: the painted buttons' states, the notice's slide, stay
// and fade (its timers driven by hand instead of waited for), and the built-in pictures the windows ask for, each under
// the exact name the code uses, a hover twin of its picture's size, drawn from its SVG source at that size and with the
// device's pixels at 200 %.
#include "net/logindlg.h"
#include "ui/accessiblekit.h"
#include "ui/builtinpicture.h"
#include "ui/colorbtn.h"
#include "ui/commonbutton.h"
#include "ui/focusring.h"
#include "ui/iconbtn.h"
#include "ui/label.h"
#include "ui/messagebox.h"
#include "ui/pixbutton.h"
#include "ui/playbtn.h"
#include "ui/popwidget.h"
#include "ui/tempheader.h"
#include "ui/textbtn.h"
#include "ui/videoslider.h"

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

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
void flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
bool running(popWidget *pop, const char *name)
{
    return pop->findChild<QTimer *>(name)->isActive();
}
} // namespace

class WidgetKitTest : public QObject
{
    Q_OBJECT
private slots:
    // The painted controls to the keyboard and to a screen reader: Tab reaches the buttons and links in order, with a
    // frame that shows where the focus is; Space and Enter press them; a reader finds them as named push buttons whose
    // press action clicks them.
    void keyboardAndReaders()
    {
        AccessibleKitButton::install();
        FocusRing::install();
        QWidget window;
        auto *layout = new QHBoxLayout(&window);
        auto *button = new ColorBtn(QStringLiteral("发 言"), 12, 30, 26);
        auto *link = new Label(QStringLiteral("[结束]"), Qt::white, true);
        auto *text = new Label(QStringLiteral("学员 3"), Qt::white, false);
        auto *picture = new IconBtn(":/images/sys/min", true);
        picture->setAccessibleName(QStringLiteral("最小化"));
        for (QWidget *w : {static_cast<QWidget *>(button), static_cast<QWidget *>(link), static_cast<QWidget *>(text),
                           static_cast<QWidget *>(picture)})
            layout->addWidget(w);
        QSignalSpy pressed(button, &QAbstractButton::clicked);
        QSignalSpy followed(link, &Label::s_clicked);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        // A text wider than asked for widens its button.
        QVERIFY(button->width() >= button->sizeHint().width());

        // Keys go to the active window only (the first test here: no earlier window's late focus change takes the
        // activation away, as none has been shown).
        const auto key = [&](Qt::Key k) {
            if (!window.isActiveWindow()) {
                window.activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(&window));
            }
            QTest::keyClick(window.windowHandle(), k);
        };
        // From the last stop, Tab goes round to the first.
        picture->setFocus();
        key(Qt::Key_Tab);
        QTRY_COMPARE(window.focusWidget(), button);
        QCOMPARE(FocusRing::target(), button);
        key(Qt::Key_Return);
        QTRY_COMPARE(pressed.count(), 1);
        key(Qt::Key_Tab);
        QTRY_COMPARE(window.focusWidget(), link);
        key(Qt::Key_Space);
        key(Qt::Key_Enter);
        QCOMPARE(followed.count(), 2);
        // A plain text is not a stop; the picture button is.
        key(Qt::Key_Tab);
        QTRY_COMPARE(window.focusWidget(), picture);
        // A click takes the frame away.
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(!FocusRing::target());

        const auto reader = [](QWidget *w) { return QAccessible::queryAccessibleInterface(w); };
        QCOMPARE(reader(button)->role(), QAccessible::Button);
        QCOMPARE(reader(button)->text(QAccessible::Name), QStringLiteral("发言"));
        QCOMPARE(reader(link)->role(), QAccessible::Button);
        QCOMPARE(reader(link)->text(QAccessible::Name), QStringLiteral("结束"));
        QCOMPARE(reader(picture)->text(QAccessible::Name), QStringLiteral("最小化"));
        QVERIFY(reader(text)->role() != QAccessible::Button);
        reader(link)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(followed.count(), 3);
        reader(button)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(pressed.count(), 3);
        QCOMPARE(AccessibleKitButton::spokenText(QStringLiteral("[Exit full screen]")),
                 QStringLiteral("Exit full screen"));
    }

    void playBtnStopResetsProgressUnlessDragged()
    {
        VideoSlider *slider = VideoSlider::instance();
        slider->setRange(0, 90);
        slider->setProgress(40);
        playBtn::instance()->setState(Stop);
        QCOMPARE(slider->value(), 0);

        slider->setProgress(50);
        slider->setSliderDown(true);
        slider->setProgress(10);
        playBtn::instance()->setState(Stop);
        QCOMPARE(slider->value(), 50);
        slider->setSliderDown(false);
        playBtn::instance()->setState(Stop);
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

    // A notice closed during its slide stops its timers and goes; another slides up, stays, fades and goes.
    void noticeSlidesStaysAndFades()
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

        pop = new popWidget(nullptr);
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

    // A question takes the keyboard when shown: Return answers "确定", Escape "取消".
    void questionKeys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("Return") << int(Qt::Key_Return) << true;
        QTest::newRow("Enter") << int(Qt::Key_Enter) << true;
        QTest::newRow("Escape") << int(Qt::Key_Escape) << false;
    }
    void questionKeys()
    {
        QFETCH(int, key);
        QFETCH(bool, accepted);
        MessageBox box;
        QSignalSpy yes(&box, &MessageBox::doAccept);
        box.show();
        QVERIFY(QTest::qWaitForWindowActive(&box));
        QTest::keyClick(box.windowHandle(), Qt::Key(key));
        QTRY_VERIFY(!box.isVisible());
        QCOMPARE(yes.count(), accepted ? 1 : 0);
    }

    // What is typed as soon as the sign-in dialog shows lands in the name, or in the password once a name is there;
    // Escape does not hide the dialog (nothing would bring it back).
    void signInTakesTypingAtOnce()
    {
        LoginDlg dialog;
        auto *user = dialog.findChild<QLineEdit *>(QStringLiteral("userEdit"));
        auto *password = dialog.findChild<QLineEdit *>(QStringLiteral("passwordEdit"));
        const auto type = [&](const char *text) {
            dialog.show();
            QVERIFY(QTest::qWaitForWindowActive(&dialog));
            for (const char *c = text; *c; ++c)
                QTest::keyClick(dialog.windowHandle(), *c);
        };
        type("li");
        QCOMPARE(user->text(), QStringLiteral("li"));
        QTest::keyClick(dialog.windowHandle(), Qt::Key_Escape);
        QVERIFY(dialog.isVisible());
        dialog.hide();
        type("pw");
        QCOMPARE(user->text(), QStringLiteral("li"));
        QCOMPARE(password->text(), QStringLiteral("pw"));
    }

    void picturesResolve_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("twin");
        const char *const plain[] = {
            "bg", "dialog_question", "emptyCourse", "exit", "head", "look", "man", "show", "tavi", "web", "volumn"};
        for (const char *name : plain)
            QTest::newRow(name) << QString(":/images/sys/") + name << QString();
        const char *const hovered[] = {"close", "dialog_close", "left", "right", "logo",    "max",
                                       "min",   "play",         "stop", "radio", "scroTop", "scroBottom"};
        for (const char *name : hovered) {
            const QString path = QString(":/images/sys/") + name;
            QTest::newRow(name) << path << path + (path.startsWith(":/images/sys/scro") ? "_hove" : "_hover");
        }
    }

    void picturesResolve()
    {
        QFETCH(QString, path);
        QFETCH(QString, twin);
        const QImage image(path);
        QVERIFY2(QFile::exists(path) && !image.isNull() && !image.size().isEmpty(), qPrintable(path));
        if (!twin.isEmpty()) {
            QVERIFY2(QFile::exists(twin), qPrintable(twin));
            QCOMPARE(QImage(twin).size(), image.size());
        }
        if (path.endsWith("volumn") || path.contains("scro"))
            return; // style sheets draw these
        QCOMPARE(builtinPictureSize(path), image.size());
        const QPixmap sharp = builtinPicture(path, 2);
        QCOMPARE(sharp.size(), image.size() * 2);
        QCOMPARE(sharp.devicePixelRatio(), 2.0);
    }
};

QTEST_MAIN(WidgetKitTest)
#include "tst_widgetkit.moc"
