#include "ui/windowdrag.h"

#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

namespace {
// A Wayland compositor places windows itself, XWayland's too (sway, for
// one, ignores where an X window asks to go): it is asked to move them.
bool compositorMoves()
{
    static const bool wayland =
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || qgetenv("XDG_SESSION_TYPE") == "wayland";
    return wayland;
}
} // namespace

WindowDrag::WindowDrag(QWidget *handle, QWidget *window) : QObject(handle), handle(handle), window(window)
{
    handle->installEventFilter(this);
}

bool WindowDrag::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != handle)
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton) {
            QWidget *moving = window ? window : handle->window();
            if (compositorMoves() && moving->windowHandle() && moving->windowHandle()->startSystemMove())
                break;
            dragging = true;
            // Measured now: the handle may have been made before its window.
            offset = mouse->globalPos() - moving->frameGeometry().topLeft();
        }
        break;
    }
    case QEvent::MouseMove: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (dragging && (mouse->buttons() & Qt::LeftButton))
            emit moved(mouse->globalPos() - offset);
        break;
    }
    case QEvent::MouseButtonRelease:
        dragging = false;
        break;
    default:
        return false;
    }
    event->accept();
    return true;
}
