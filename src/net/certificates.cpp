#include "net/certificates.h"

#include "base/logging.h"

#include <QDir>
#include <QFileInfo>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>

#include <algorithm>

namespace {

// Whether path lies in the system's own store of authorities, which Qt
// trusts already: reading it again here would parse every certificate of
// the system twice (and then some) before the sign-in dialog shows, as many
// desktops set SSL_CERT_FILE and SSL_CERT_DIR to it.
bool inSystemStore(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    for (const char *store : {"/etc/ssl/certs", "/usr/share/ca-certificates"})
        if (canonical == QLatin1String(store) || canonical.startsWith(QLatin1String(store) + QLatin1Char('/')))
            return true;
    return false;
}

} // namespace

void trustCertificatesFromEnvironment()
{
    QString file = QString::fromLocal8Bit(qgetenv("SSL_CERT_FILE"));
    if (inSystemStore(file))
        file.clear();
    QStringList dirs = QString::fromLocal8Bit(qgetenv("SSL_CERT_DIR")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    dirs.erase(std::remove_if(dirs.begin(), dirs.end(), inSystemStore), dirs.end());
    if ((file.isEmpty() && dirs.isEmpty()) || !QSslSocket::supportsSsl())
        return;
    QList<QSslCertificate> added;
    if (!file.isEmpty())
        added += QSslCertificate::fromPath(file, QSsl::Pem);
    for (const QString &dir : dirs) {
        const QStringList entries = QDir(dir).entryList(QDir::Files | QDir::Readable);
        for (const QString &entry : entries)
            added += QSslCertificate::fromPath(QDir(dir).filePath(entry), QSsl::Pem);
    }
    if (added.isEmpty())
        return;
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    QList<QSslCertificate> trusted = QSslConfiguration::systemCaCertificates();
    for (const QSslCertificate &certificate : qAsConst(added))
        if (!trusted.contains(certificate))
            trusted.append(certificate);
    configuration.setCaCertificates(trusted);
    QSslConfiguration::setDefaultConfiguration(configuration);
    TAVI_LOG_INFO("trusting " << added.size() << " certificates of SSL_CERT_FILE / SSL_CERT_DIR besides the system's");
}
