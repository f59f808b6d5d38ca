#include "downloadmanager.h"

#include <QDebug>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkRequest>

DownLoadManager::DownLoadManager(QObject *parent)
    : QObject(parent), manager(new QNetworkAccessManager(this))
{
}

DownLoadManager::~DownLoadManager()
{
    delete request;
}

void DownLoadManager::downloadFile(const QString &sourceUrl, const QString &savePath)
{
    stopped = false;
    writeFailed = false;
    url = QUrl(sourceUrl);
    tmpPath = savePath + QStringLiteral("_tmp");
    QFile::remove(tmpPath);

    delete request;
    request = new QNetworkRequest(url);
    request->setRawHeader("Connection", "Keep-Alive");
    request->setRawHeader("Cache-Control", "no-cache");
    request->setTransferTimeout(kTransferTimeoutMs);
    reply = manager->get(*request);
    connect(reply, &QNetworkReply::downloadProgress, this, &DownLoadManager::onDownloadProgress);
    connect(reply, &QNetworkReply::readyRead, this, &DownLoadManager::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &DownLoadManager::onFinished);
    connect(reply, &QNetworkReply::errorOccurred, this, &DownLoadManager::onError);
}

void DownLoadManager::onDownloadProgress(qint64 bytesReceived, qint64 bytesTotal)
{
    if (stopped)
        return;
    received = bytesReceived;
    total = bytesTotal;
    emit signalDownloadProcess(bytesReceived, bytesTotal);
}

void DownLoadManager::onReadyRead()
{
    if (stopped || !reply)
        return;
    QFile file(tmpPath);
    const QByteArray data = reply->readAll();
    // A full disk must fail the update, not install a short file.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.write(data) != data.size())
        writeFailed = true;
}

void DownLoadManager::onFinished()
{
    if (!reply)
        return;
    const bool alreadyStopped = stopped;
    stopped = true;
    QNetworkReply *done = reply;
    reply = nullptr;
    const int status = done->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (done->error() != QNetworkReply::NoError || writeFailed) {
        qDebug() << "__________" << done->errorString();
        QFile::remove(tmpPath);
        emit signalDownloadError();
        qDebug() << "...................onFinished.....onError..................";
    } else if (!alreadyStopped) {
        const QString savePath = tmpPath.left(tmpPath.size() - 4);
        QFile::remove(savePath);
        // An empty body never wrote the temporary file.
        if (!QFile::exists(tmpPath)) {
            QFile empty(tmpPath);
            empty.open(QIODevice::WriteOnly);
        }
        if (QFile::rename(tmpPath, savePath))
            emit signalReplyFinished(status);
        else
            emit signalDownloadError();
    }
    done->deleteLater();
}

void DownLoadManager::onError(QNetworkReply::NetworkError code)
{
    Q_UNUSED(code);
    if (reply)
        qDebug() << "__________" << reply->errorString();
    qDebug() << "....................onError..................";
    stopped = true;
    received = 0;
    total = 0;
    QFile::remove(tmpPath);
    emit signalDownloadError();
}
