#include "record/recordnotice.h"

#include "base/logging.h"

#include <QCoreApplication>
#include <QMutex>
#include <QThread>

namespace {
QMutex g_lock;
recordNotice::Handler g_handler;

void deliver(const QString &text)
{
    recordNotice::Handler handler;
    {
        QMutexLocker locker(&g_lock);
        handler = g_handler;
    }
    // Without a handler the log line of report() is all there is.
    if (handler)
        handler(text);
}
} // namespace

void recordNotice::setHandler(Handler handler)
{
    QMutexLocker locker(&g_lock);
    g_handler = std::move(handler);
}

bool recordNotice::hasHandler()
{
    QMutexLocker locker(&g_lock);
    return bool(g_handler);
}

void recordNotice::report(const QString &text)
{
    TAVI_LOG_WARN("record: " << text);
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        deliver(text);
        return;
    }
    QMetaObject::invokeMethod(
        app, [text] { deliver(text); }, Qt::QueuedConnection);
}
