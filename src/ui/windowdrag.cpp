#include "ui/windowdrag.h"

#include <QMouseEvent>
#include <QWidget>

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
            dragging = true;
            // Measured now: the handle may have been made before its window.
            offset = mouse->globalPos() - (window ? window : handle->window())->frameGeometry().topLeft();
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
