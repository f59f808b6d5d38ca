#pragma once

#include <QNetworkReply>
#include <QObject>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkRequest;

// Transfers one file of an update into "<savePath>_tmp", renamed to savePath
// once the whole body has arrived.
class DownLoadManager : public QObject
{
    Q_OBJECT
public:
    explicit DownLoadManager(QObject *parent = nullptr);
    ~DownLoadManager() override;

    void downloadFile(const QString &url, const QString &savePath);

    // Silence on the wire for this long fails the transfer.
    static constexpr int kTransferTimeoutMs = 30000;

signals:
    void signalDownloadProcess(qint64 bytesReceived, qint64 bytesTotal);
    void signalReplyFinished(int statusCode);
    void signalDownloadError();

public slots:
    void onDownloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void onReadyRead();
    void onFinished();
    void onError(QNetworkReply::NetworkError code);

private:
    QNetworkAccessManager *manager;
    QNetworkRequest *request = nullptr;
    QNetworkReply *reply = nullptr;
    QUrl url;
    QString tmpPath;
    qint64 received = 0;
    qint64 total = 0;
    bool stopped = false;
    bool writeFailed = false;
};
