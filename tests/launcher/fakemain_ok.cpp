// A main library that records that it was started and ends the event loop.
#include <QCoreApplication>
#include <QFile>
#include <QTimer>

extern "C" __attribute__((visibility("default"))) int mainStart()
{
    QFile marker(QStringLiteral("mainStart.called"));
    if (marker.open(QIODevice::WriteOnly))
        marker.write("called\n");
    QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
    return 0;
}
