#include "base/config.h"

#include <QSettings>

namespace tavi {

QString sysConfigValue(const QString &key)
{
    QSettings settings(QString::fromLatin1(kSysConfigPath), QSettings::IniFormat);
    return settings.value(key, QString()).toString();
}

} // namespace tavi
