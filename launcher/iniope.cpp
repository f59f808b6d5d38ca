#include "iniope.h"

#include <QSettings>

namespace {
const QString kIniFile = QStringLiteral("qupdater.ini");
}

QString InIOpe::listUrl()
{
    QSettings settings(kIniFile, QSettings::IniFormat);
    return settings.value(QStringLiteral("/UPDATEINFO/ListURL"), QString()).toString();
}

QString InIOpe::listBase()
{
    const QString url = listUrl();
    const int slash = url.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : url.left(slash + 1);
}

QString InIOpe::installedVersion()
{
    QSettings settings(kIniFile, QSettings::IniFormat);
    return settings.value(QStringLiteral("/VERSION/Version"), QString()).toString();
}

void InIOpe::setInstalledVersion(const QString &version)
{
    QSettings settings(kIniFile, QSettings::IniFormat);
    settings.setValue(QStringLiteral("/VERSION/Version"), version);
    settings.sync();
}
