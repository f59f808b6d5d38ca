#pragma once

#include <QApplication>
#include <QList>
#include <QWidget>

namespace testsupport {

// The application's top-level widgets of one kind (notices, dialogs).
template<class T> QList<T *> topLevels()
{
    QList<T *> found;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *t = qobject_cast<T *>(widget))
            found << t;
    return found;
}

// Whether a notice of kind T (with text()) shows this text; every such
// notice is deleted, so the next check starts afresh.
template<class T> bool takeNotice(const QString &text)
{
    bool shown = false;
    for (T *notice : topLevels<T>()) {
        shown |= notice->isVisible() && notice->text() == text;
        delete notice;
    }
    return shown;
}

} // namespace testsupport
