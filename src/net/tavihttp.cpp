#include "net/tavihttp.h"

#include "base/config.h"
#include "base/logging.h"
#include "net/cookiejar.h"
#include "net/networkaccess.h"
#include "net/replylimit.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkInterface>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSslError>
#include <QTimer>
#include <QUrlQuery>

namespace {
TaviHttp::FailureHandler &failureHandler()
{
    static TaviHttp::FailureHandler handler;
    return handler;
}
} // namespace

void TaviHttp::setFailureHandler(FailureHandler handler)
{
    failureHandler() = std::move(handler);
}

TaviHttp::TaviHttp(QString path, QMap<QString, QString> params, int port, bool synchronous) : QObject(nullptr)
{
    bodyLimit = tavi::kMaxReplyBytes;
    baseUrl = tavi::sysConfigValue(QStringLiteral("/TaviHttp/Url"));
    url = new QUrl;
    buildUrl(path, port);
    this->params = params;
    this->synchronous = synchronous;
    manager = new QNetworkAccessManager;
    query = new QUrlQuery;
}

TaviHttp::~TaviHttp()
{
    // The shared cookie store is detached from the manager after every
    // install, so deleting the manager leaves it alone.
    delete manager;
    delete url;
    delete query;
}

void TaviHttp::buildUrl(const QString &path, int requestedPort)
{
    QString address;
    if (path.startsWith(QLatin1String("http:")) || path.startsWith(QLatin1String("https:")))
        address = path;
    else if (path.startsWith(QLatin1Char('/')))
        address = baseUrl + path;
    else
        address = baseUrl + QLatin1Char('/') + path;
    url->setUrl(address, QUrl::TolerantMode);

    // A port named by the address (a school's service on 8080, say) is
    // kept; otherwise the requested one, except that https keeps 443.
    const int fallback = requestedPort < 1 ? 80 : requestedPort;
    if (url->port() == -1 && url->scheme() != QLatin1String("https"))
        url->setPort(fallback);
    port = url->port(url->scheme() == QLatin1String("https") ? 443 : fallback);
}

QUrl TaviHttp::requestUrl() const
{
    return *url;
}

void TaviHttp::setCallback(std::function<void(bool, QByteArray)> callback)
{
    this->callback = std::move(callback);
}

bool TaviHttp::isLoopbackHost(const QString &host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

bool TaviHttp::networkReachable(const QUrl &target)
{
    // Qt's own online check reports "offline" when only loopback is up,
    // although a local service is perfectly reachable then.
    if (isLoopbackHost(target.host()))
        return true;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    if (interfaces.isEmpty())
        return true; // nothing known: let the request itself find out
    for (const QNetworkInterface &iface : interfaces) {
        const auto flags = iface.flags();
        if ((flags & QNetworkInterface::IsUp) && (flags & QNetworkInterface::IsRunning) &&
            !(flags & QNetworkInterface::IsLoopBack))
            return true;
    }
    return false;
}

void TaviHttp::get()
{
    QNetworkRequest request{QUrl()};
    if (!networkReachable(*url)) {
        showTip(tr("网络连接不可用，请检查网络设置 get not online!"));
        emit s_finished();
        return;
    }

    query->clear();
    for (auto it = params.constBegin(); it != params.constEnd(); ++it)
        query->addQueryItem(it.key(), it.value());
    // Without parameters the address keeps its own query (a picture
    // address may need it).
    if (!params.isEmpty())
        url->setQuery(*query);
    TAVI_LOG_DEBUG("cookies sent: " << tavi::logExcerpt(CookieJar::instance()->describe()));
    manager->setCookieJar(CookieJar::instance());
    CookieJar::instance()->setParent(nullptr);
    keepNetworkAccessible(manager);

    request.setUrl(*url);
    connect(manager, &QNetworkAccessManager::finished, this, &TaviHttp::requestFinished, Qt::UniqueConnection);
    QNetworkReply *reply = manager->get(request);
    watch(reply);
    if (synchronous) {
        QEventLoop loop;
        connect(manager, &QNetworkAccessManager::finished, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

void TaviHttp::watch(QNetworkReply *reply)
{
    tavi::limitReplySize(reply, bodyLimit);
    connect(reply, &QNetworkReply::sslErrors, this, [](const QList<QSslError> &errors) {
        // Never ignored: the request fails.
        for (const QSslError &error : errors)
            TAVI_LOG_ERROR("certificate refused: " << tavi::logExcerpt(error.errorString(), 200));
    });
    if (timeoutMs <= 0)
        return;
    if (!timer) {
        timer = new QTimer(this);
        timer->setSingleShot(true);
    }
    timer->disconnect();
    QPointer<QNetworkReply> guarded(reply);
    connect(timer, &QTimer::timeout, this, [guarded]() {
        // Aborting finishes the reply with status 0: the usual failure path.
        if (guarded && guarded->isRunning())
            guarded->abort();
    });
    connect(reply, &QNetworkReply::finished, timer, &QTimer::stop);
    timer->start(timeoutMs);
}

void TaviHttp::requestFinished(QNetworkReply *reply)
{
    if (!reply->isFinished())
        return;
    auto cookies = reply->header(QNetworkRequest::SetCookieHeader).value<QList<QNetworkCookie>>();
    // The header's cookies carry no domain of their own; give them the
    // reply's so that later requests to the same service send them.
    for (QNetworkCookie &cookie : cookies)
        cookie.normalize(reply->url());
    CookieJar::instance()->setCookies(cookies);
    TAVI_LOG_DEBUG("cookies kept: " << tavi::logExcerpt(CookieJar::instance()->describe()));

    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray body = reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
    if (status == 200 && !tavi::replyTooLarge(reply)) {
        if (callback)
            callback(true, body);
    } else {
        showFailure(reply);
    }
    reply->deleteLater();
    emit s_finished();
}

void TaviHttp::showFailure(QNetworkReply *reply)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (tavi::replyTooLarge(reply)) {
        TAVI_LOG_WARN("reply of " << tavi::logExcerpt(reply->url().host(), 100) << " over " << bodyLimit
                                  << " bytes refused");
        showTip(tr("网络请求失败"));
    } else if (reply->error() == QNetworkReply::SslHandshakeFailedError) {
        TAVI_LOG_ERROR("no secure connection to " << tavi::logExcerpt(reply->url().host(), 100));
        showTip(tr("安全连接失败"));
    } else {
        // Not the error text: it repeats the address, whose query may hold
        // the password.
        TAVI_LOG_WARN("request to " << tavi::logExcerpt(reply->url().host(), 100) << " failed: status " << status
                                    << ", error " << int(reply->error()));
        showTip(tr("网络请求失败"));
    }
}

void TaviHttp::showTip(QString text)
{
    if (failureHandler())
        failureHandler()(text);
    else
        TAVI_LOG_WARN("not shown (no failure handler): " << text);
}
