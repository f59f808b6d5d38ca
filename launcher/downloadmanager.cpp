#include "downloadmanager.h"

#include <QDebug>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>

DownLoadManager::DownLoadManager(QObject *parent) : QObject(parent), manager(new QNetworkAccessManager(this))
{
    rateTimer.setInterval(kTransferTimeoutMs);
    connect(&rateTimer, &QTimer::timeout, this, &DownLoadManager::checkRate);
}

DownLoadManager::~DownLoadManager()
{
    abort();
    delete request;
}

void DownLoadManager::downloadFile(const QString &sourceUrl, const QString &savePath, qint64 limit)
{
    stopped = false;
    m_error.clear();
    url = QUrl(sourceUrl);
    maxBytes = limit;
    written = writtenAtLastCheck = 0;
    tmpPath = savePath + QStringLiteral("_tmp");
    QFile::remove(tmpPath);
    tmpFile.setFileName(tmpPath);
    if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")) {
        fail(QStringLiteral("not an http or https address: %1").arg(sourceUrl));
        return;
    }
    if (!tmpFile.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        fail(QStringLiteral("cannot write %1").arg(tmpPath));
        return;
    }

    delete request;
    request = new QNetworkRequest(url);
    request->setRawHeader("Connection", "Keep-Alive");
    request->setRawHeader("Cache-Control", "no-cache");
    request->setTransferTimeout(kTransferTimeoutMs);
    // The same authorities as the list's fetch (curlOpe): a CA file given
    // through the environment replaces the system's store.
    const QString caFile = qEnvironmentVariable("SSL_CERT_FILE");
    if (!caFile.isEmpty()) {
        QSslConfiguration tls = request->sslConfiguration();
        tls.setCaCertificates(QSslCertificate::fromPath(caFile));
        request->setSslConfiguration(tls);
    }
    reply = manager->get(*request);
    connect(reply, &QNetworkReply::downloadProgress, this, &DownLoadManager::onDownloadProgress);
    connect(reply, &QNetworkReply::readyRead, this, &DownLoadManager::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &DownLoadManager::onFinished);
    connect(reply, &QNetworkReply::errorOccurred, this, &DownLoadManager::onError);
    rateTimer.start();
}

void DownLoadManager::onDownloadProgress(qint64 bytesReceived, qint64 bytesTotal)
{
    if (stopped)
        return;
    if (bytesTotal > maxBytes) {
        fail(QStringLiteral("%1 is larger than %2 bytes").arg(url.toString()).arg(maxBytes));
        return;
    }
    received = bytesReceived;
    total = bytesTotal;
    emit signalDownloadProcess(bytesReceived, bytesTotal);
}

void DownLoadManager::onReadyRead()
{
    if (stopped || !reply)
        return;
    const QByteArray data = reply->readAll();
    written += data.size();
    if (written > maxBytes) {
        fail(QStringLiteral("%1 is larger than %2 bytes").arg(url.toString()).arg(maxBytes));
        return;
    }
    // A full disk must fail the update, not install a short file.
    if (tmpFile.write(data) != data.size())
        fail(QStringLiteral("cannot write %1").arg(tmpPath));
}

void DownLoadManager::onFinished()
{
    if (!reply || stopped)
        return;
    onReadyRead(); // what is still buffered
    if (stopped)
        return;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError) {
        qDebug() << "__________" << reply->errorString();
        fail(reply->errorString());
        qDebug() << "...................onFinished.....onError..................";
        return;
    }
    if (status != 200) {
        fail(QStringLiteral("%1: HTTP status %2").arg(url.toString()).arg(status));
        return;
    }
    stopped = true;
    rateTimer.stop();
    dropReply();
    const QString savePath = tmpPath.left(tmpPath.size() - 4);
    QFile::remove(savePath);
    if (!tmpFile.flush() || (tmpFile.close(), !QFile::rename(tmpPath, savePath))) {
        m_error = QStringLiteral("cannot write %1").arg(savePath);
        QFile::remove(tmpPath);
        emit signalDownloadError();
        return;
    }
    emit signalReplyFinished(status);
}

void DownLoadManager::onError(QNetworkReply::NetworkError code)
{
    Q_UNUSED(code);
    if (stopped || !reply)
        return;
    qDebug() << "__________" << reply->errorString();
    qDebug() << "....................onError..................";
    fail(reply->errorString());
}

void DownLoadManager::checkRate()
{
    if (stopped)
        return;
    if (written - writtenAtLastCheck < kMinBytesPerWindow)
        fail(QStringLiteral("%1 arrives too slowly").arg(url.toString()));
    writtenAtLastCheck = written;
}

void DownLoadManager::fail(const QString &why)
{
    if (stopped)
        return;
    m_error = why;
    abort();
    emit signalDownloadError();
}

void DownLoadManager::abort()
{
    stopped = true;
    rateTimer.stop();
    received = 0;
    total = 0;
    dropReply();
    if (tmpFile.isOpen())
        tmpFile.close();
    if (!tmpPath.isEmpty())
        QFile::remove(tmpPath);
}

void DownLoadManager::dropReply()
{
    if (!reply)
        return;
    QNetworkReply *done = reply;
    reply = nullptr;
    done->disconnect(this);
    done->abort();
    done->deleteLater();
}
