#include "net/bitmaphttp.h"

#include "base/logging.h"
#include "net/picture.h"
#include "net/replylimit.h"

#include <QNetworkReply>
#include <QNetworkRequest>

namespace {
bool isLocal(const QString &address)
{
    return address.isEmpty() || tavi::isBuiltInPicture(address);
}
} // namespace

BitmapHttp::BitmapHttp(QString address, int port) : TaviHttp(isLocal(address) ? QString() : address, {}, port, false)
{
    setBodyLimit(tavi::kMaxPictureBytes);
    if (isLocal(address)) {
        path = address;
        loadLocal();
    } else if (refused(address)) {
        sendFallback();
    } else {
        requested = address;
        get();
    }
}

BitmapHttp::BitmapHttp() : TaviHttp(QString(), {}, 80, false)
{
    setBodyLimit(tavi::kMaxPictureBytes);
}

bool BitmapHttp::refused(const QString &address) const
{
    // Only http(s) is asked for (a path of the web service is joined to its
    // address first), and nothing that failed before.
    if (!tavi::isFetchablePicture(url->toString()) || tavi::pictureFailed(address)) {
        TAVI_LOG_WARN("picture address refused or failed before: " << tavi::logExcerpt(address, 80));
        return true;
    }
    return false;
}

void BitmapHttp::load(QString address)
{
    if (isLocal(address)) {
        path = address;
        loadLocal();
        return;
    }
    buildUrl(address, 80);
    if (refused(address)) {
        sendFallback();
        return;
    }
    requested = address;
    get();
}

void BitmapHttp::loadLocal()
{
    TAVI_LOG_DEBUG("local picture " << tavi::logExcerpt(path));
    QPixmap pixmap = QPixmap::fromImage(
        tavi::readPictureFile(path.isEmpty() ? QString::fromLatin1(tavi::kFallbackPicture) : path, fit));
    emit signalBitmap(pixmap);
}

void BitmapHttp::sendFallback()
{
    QPixmap pixmap = QPixmap::fromImage(tavi::readPictureFile(QString::fromLatin1(tavi::kFallbackPicture), fit));
    emit signalBitmap(pixmap);
}

void BitmapHttp::requestFinished(QNetworkReply *reply)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    QImage image;
    if (reply->error() == QNetworkReply::NoError && status == 200 && !tavi::replyTooLarge(reply))
        image = tavi::decodePicture(reply->readAll(), fit);
    if (!image.isNull()) {
        reply->deleteLater();
        QPixmap pixmap = QPixmap::fromImage(image);
        emit signalBitmap(pixmap);
        emit s_finished();
        return;
    }
    if (!requested.isEmpty())
        tavi::markPictureFailed(requested);
    showFailure(reply);
    reply->deleteLater();
    sendFallback();
    emit s_finished();
}
