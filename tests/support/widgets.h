#pragma once

#include <QApplication>
#include <QImage>
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

// The first shown top-level widget of one kind; null when there is none.
template<class T> T *shown()
{
    for (T *t : topLevels<T>())
        if (t->isVisible())
            return t;
    return nullptr;
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

// Whether two pictures hold the same pixels, whatever their formats; never for a null one.
inline bool sameImage(const QImage &a, const QImage &b)
{
    return !a.isNull() && a.convertToFormat(QImage::Format_ARGB32) == b.convertToFormat(QImage::Format_ARGB32);
}

} // namespace testsupport
