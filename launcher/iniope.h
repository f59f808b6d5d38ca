#pragma once

#include <QObject>
#include <QString>

// Settings of the launcher in "qupdater.ini" (working directory). Each call
// opens and closes its own QSettings.
class InIOpe : public QObject
{
    Q_OBJECT
public:
    static QString listUrl();
    // Everything of listUrl() up to and including its last "/".
    static QString listBase();
    static QString installedVersion();
    static void setInstalledVersion(const QString &version);
};
