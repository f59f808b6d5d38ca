#pragma once

#include "testsupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

// A scratch installation that is the working directory while it lives.
class InstallDir
{
public:
    InstallDir() : m_previous(QDir::currentPath()) { QDir::setCurrent(m_dir.path()); }
    ~InstallDir() { QDir::setCurrent(m_previous); }

    static void setUpdater(const QString &listUrl, const QString &version)
    {
        QSettings ini(QStringLiteral("qupdater.ini"), QSettings::IniFormat);
        ini.setValue(QStringLiteral("/UPDATEINFO/ListURL"), listUrl);
        ini.setValue(QStringLiteral("/VERSION/Version"), version);
    }

    static void write(const QString &path, const QByteArray &body) { QVERIFY(testsupport::writeFile(path, body)); }
    static QByteArray read(const QString &path)
    {
        return QFile::exists(path) ? testsupport::readFile(path) : QByteArray("<missing>");
    }

private:
    QTemporaryDir m_dir;
    QString m_previous;
};

// Checksums as the update list writes them.
inline QString md5Hex(const QByteArray &data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex().toUpper());
}
inline QString sha256Hex(const QByteArray &data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
}
