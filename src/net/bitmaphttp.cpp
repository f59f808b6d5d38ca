#include "net/bitmaphttp.h"

#include <QNetworkReply>
#include <QNetworkRequest>

#include <iostream>

namespace {
const char *const kFallbackPicture = ":/images/sys/man";

bool isLocal(const QString &address)
{
    return address.isEmpty() || address.startsWith(QLatin1String(":/"));
}
} // namespace

BitmapHttp::BitmapHttp(QString address, int port) : TaviHttp(isLocal(address) ? QString() : address, {}, port, false)
{
    if (isLocal(address)) {
        path = address;
        loadLocal();
    } else {
        get();
    }
}

BitmapHttp::BitmapHttp() : TaviHttp(QString(), {}, 80, false) {}

void BitmapHttp::load(QString address)
{
    if (isLocal(address)) {
        path = address;
        loadLocal();
        return;
    }
    buildUrl(address, 80);
    get();
}

void BitmapHttp::loadLocal()
{
    std::cout << "loadLocalBitmap........................................." << path.toStdString() << std::endl;
    QPixmap pixmap(path.isEmpty() ? QString::fromLatin1(kFallbackPicture) : path);
    emit signalBitmap(pixmap);
}

void BitmapHttp::sendFallback()
{
    QPixmap pixmap(QString::fromLatin1(kFallbackPicture));
    emit signalBitmap(pixmap);
}

void BitmapHttp::requestFinished(QNetworkReply *reply)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    QPixmap pixmap;
    if (reply->error() == QNetworkReply::NoError && status == 200 && pixmap.loadFromData(reply->readAll())) {
        reply->deleteLater();
        emit signalBitmap(pixmap);
        return;
    }
    reply->deleteLater();
    showTip(QStringLiteral("网络请求失败"));
    sendFallback();
}
