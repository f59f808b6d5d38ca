#pragma once

#include <QFile>
#include <QNetworkReply>
#include <QObject>
#include <QTimer>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkRequest;

// Transfers one file of an update into "<savePath>_tmp", renamed to savePath
// once the whole body of an HTTP 200 answer has arrived. Over http or https
// only, the certificate checked against the system's store or the file
// that SSL_CERT_FILE names; never more than the size limit.
class DownLoadManager : public QObject
{
    Q_OBJECT
public:
    explicit DownLoadManager(QObject *parent = nullptr);
    ~DownLoadManager() override;

    void downloadFile(const QString &url, const QString &savePath, qint64 maxBytes = kDefaultMaxBytes);
    // Ends the transfer without a signal and removes what arrived.
    void abort();
    // Why the transfer failed.
    QString error() const { return m_error; }

    static constexpr qint64 kDefaultMaxBytes = qint64(512) * 1024 * 1024;
    // Less than kMinBytesPerWindow in this long fails the transfer, so a
    // silent or trickling server cannot hold the update.
    static constexpr int kTransferTimeoutMs = 30000;
    static constexpr qint64 kMinBytesPerWindow = 4096;

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
    void fail(const QString &why);
    void checkRate();
    void dropReply();

    QNetworkAccessManager *manager;
    QNetworkRequest *request = nullptr;
    QNetworkReply *reply = nullptr;
    QUrl url;
    QString tmpPath;
    QFile tmpFile;
    QTimer rateTimer;
    qint64 received = 0;
    qint64 total = 0;
    qint64 written = 0;
    qint64 writtenAtLastCheck = 0;
    qint64 maxBytes = kDefaultMaxBytes;
    bool stopped = false;
    QString m_error;
};
