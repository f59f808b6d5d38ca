#pragma once

#include <QApplication>
#include <QList>
#include <QWidget>

namespace testsupport {

// The application's top-level widgets of one kind (notices, dialogs).
template <class T>
QList<T *> topLevels()
{
    QList<T *> found;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *t = qobject_cast<T *>(widget))
            found << t;
    return found;
}

} // namespace testsupport
