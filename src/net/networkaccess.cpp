#include "net/networkaccess.h"

#include <QNetworkAccessManager>

void keepNetworkAccessible(QNetworkAccessManager *manager)
{
#if QT_CONFIG(bearermanagement)
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    manager->setNetworkAccessible(QNetworkAccessManager::Accessible);
    QT_WARNING_POP
#else
    Q_UNUSED(manager);
#endif
}
