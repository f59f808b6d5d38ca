#include "base/config.h"

#include <QSettings>

namespace tavi {

QString sysConfigValue(const QString &key)
{
    QSettings settings(QString::fromLatin1(kSysConfigPath), QSettings::IniFormat);
    return settings.value(key, QString()).toString();
}

QString siteAddress(const QString &value)
{
    QString site = value.trimmed();
    if (!site.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) &&
        !site.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
        site.prepend(QLatin1String("http://"));
    while (site.endsWith(QLatin1Char('/')))
        site.chop(1);
    return site;
}

} // namespace tavi
