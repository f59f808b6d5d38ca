#pragma once

#include <QObject>
#include <QPoint>

class QWidget;

// Dragging a frameless window with the left button. A press on the handle
// (the window itself, or its title strip) keeps the pointer's offset from
// the window's top-left corner; each move with the button held then tells
// where the window goes. The handle's press, move and release are taken
// here whatever the button, so they reach nothing beneath it; presses that
// its children take never start a drag. On a Wayland desktop the
// compositor moves the window, and moved() is not emitted.
class WindowDrag : public QObject
{
    Q_OBJECT
public:
    // window: the window measured, by default the handle's own window.
    explicit WindowDrag(QWidget *handle, QWidget *window = nullptr);

    // Forgets a drag under way.
    void cancel() { dragging = false; }

signals:
    // New top-left corner of the window's frame.
    void moved(QPoint topLeft);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *handle;
    QWidget *window;
    bool dragging = false;
    QPoint offset;
};
