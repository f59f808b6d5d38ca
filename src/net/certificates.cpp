#include "net/certificates.h"

#include "base/logging.h"

#include <QDir>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>

void trustCertificatesFromEnvironment()
{
    const QString file = QString::fromLocal8Bit(qgetenv("SSL_CERT_FILE"));
    const QStringList dirs =
        QString::fromLocal8Bit(qgetenv("SSL_CERT_DIR")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
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
