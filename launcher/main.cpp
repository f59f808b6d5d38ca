#include "updatectrl.h"
#include "winstart.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    auto *starter = new winStart;
    auto *updater = new updateCtrl;
    QObject::connect(updater, &updateCtrl::s_mainSatart, starter, &winStart::slot_startMain,
                     Qt::DirectConnection);
    updater->start();
    return QApplication::exec();
}
