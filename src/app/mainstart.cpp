// Entry of taviMainLib: the one exported symbol.

#include "app/logging.h"

#include <QApplication>
#include <QLabel>

extern "C" __attribute__((visibility("default"))) int mainStart()
{
    tavi::startLogging();
    // Stand-in window until the application controller lands.
    auto *window = new QLabel(QStringLiteral("tavi"));
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->resize(400, 200);
    window->show();
    return 0;
}
