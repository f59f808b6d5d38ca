#pragma once

#include <QObject>
#include <QPointer>

class QWidget;

// A light frame around the widget that has the keyboard's focus, drawn over
// its window: the painted buttons draw no focus of their own, and the dark
// theme hides the style's. Shown while the focus moves by keyboard, hidden
// when a click takes it.
class FocusRing : public QObject
{
    Q_OBJECT
public:
    // Watches the whole application; once is enough.
    static void install();
    // The widget framed now, if any.
    static QWidget *target();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    FocusRing();
    void follow(QWidget *target);
    void place();

    QPointer<QWidget> m_target;
    // A child of the target's window, so it goes with that window.
    QPointer<QWidget> m_frame;
};
