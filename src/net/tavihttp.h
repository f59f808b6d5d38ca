#pragma once

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;
class QUrlQuery;

// One GET request to the web service. The path is joined to "/TaviHttp/Url"
// of the settings file (http:// or https://, whose certificate is checked);
// the callback runs only for HTTP status 200, every other outcome is told to
// the user through the failure handler ("安全连接失败" when the certificate
// is refused). A body over its limit (kMaxReplyBytes unless set) is a
// failure. All requests share CookieJar.
class TaviHttp : public QObject
{
    Q_OBJECT
public:
    // A request that gets no answer in this time ends as a failed one.
    static constexpr int kDefaultTimeoutMs = 15000;

    TaviHttp(QString path, QMap<QString, QString> params, int port, bool synchronous);
    ~TaviHttp() override;

    // Tells the user that a request failed. The web client has no windows:
    // the application installs a handler that shows the text (a Flash
    // notice); without one the text is only logged. GUI thread only.
    using FailureHandler = std::function<void(const QString &text)>;
    static void setFailureHandler(FailureHandler handler);

    void setCallback(std::function<void(bool, QByteArray)> callback);
    // Sends the request; a synchronous request returns once it has ended.
    void get();
    // Hands text to the failure handler.
    void showTip(QString text);

    // Address as built at construction (query added by get()).
    QUrl requestUrl() const;
    void setTimeout(int ms) { timeoutMs = ms; }
    void setBodyLimit(qint64 bytes) { bodyLimit = bytes; }

    // localhost or a loopback address.
    static bool isLoopbackHost(const QString &host);

signals:
    // The request has ended, whatever its outcome (after the callback or
    // the failure handler).
    void s_finished();

public slots:
    virtual void requestFinished(QNetworkReply *reply);

protected:
    // Builds the address of path (relative to the base address, or a full
    // http(s) address) into url.
    void buildUrl(const QString &path, int requestedPort);
    // Whether the network could carry a request to url at all.
    static bool networkReachable(const QUrl &target);
    // Starts the time-out watch and the size limit on a reply that has just
    // been sent, and logs refused certificates.
    void watch(QNetworkReply *reply);
    // The notice for a failed reply, logged with its cause.
    void showFailure(QNetworkReply *reply);

    std::function<void(bool, QByteArray)> callback;
    QString baseUrl;
    QUrl *url = nullptr;
    QMap<QString, QString> params;
    QNetworkAccessManager *manager = nullptr;
    QUrlQuery *query = nullptr;
    int port = 80;
    bool synchronous = false;
    int timeoutMs = kDefaultTimeoutMs;
    qint64 bodyLimit;
    QTimer *timer = nullptr;
};
