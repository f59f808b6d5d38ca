#include "net/avatarloader.h"

#include "base/logging.h"
#include "base/privatefiles.h"
#include "base/signalstack.h"
#include "net/avatarcache.h"
#include "net/networkaccess.h"
#include "net/picture.h"
#include "net/replylimit.h"

#include <QBuffer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>
#include <QUrl>

namespace {

QImage fallback()
{
    static const QImage picture = tavi::readPictureFile(QString::fromLatin1(tavi::kFallbackPicture),
                                                        QSize(AvatarLoader::kSide, AvatarLoader::kSide));
    return picture;
}

} // namespace

AvatarLoader::AvatarLoader(QObject *parent) : QObject(parent)
{
    manager = new QNetworkAccessManager(this);
    keepNetworkAccessible(manager);
    // One writer: files of the same key are never written at once.
    writer.setMaxThreadCount(1);
}

AvatarLoader::~AvatarLoader()
{
    for (QNetworkReply *reply : qAsConst(running)) {
        reply->disconnect(this);
        reply->abort();
    }
    // Nothing is left half written for the next reader.
    writer.waitForDone();
}

int AvatarLoader::pending() const
{
    return waitingKeys.size();
}

void AvatarLoader::request(const QString &address, const QString &key)
{
    if (waitingKeys.contains(key))
        return;
    const QString path = avatarCachePath(key);
    if (QFile::exists(path)) {
        const QImage cached = tavi::readPictureFile(path, QSize(kSide, kSide));
        if (!cached.isNull()) {
            emit picture(key, cached);
            return;
        }
    }
    if (tavi::isBuiltInPicture(address)) {
        const QImage builtIn = tavi::readPictureFile(address, QSize(kSide, kSide));
        emit picture(key, builtIn.isNull() ? fallback() : builtIn);
        return;
    }
    // Nothing but http(s) is asked for (no local file, no other protocol),
    // and nothing that failed before.
    if (!tavi::isFetchablePicture(address) || tavi::pictureFailed(address)) {
        emit picture(key, fallback());
        return;
    }
    const bool known = waiting.contains(address);
    waiting[address].append(key);
    waitingKeys.insert(key);
    if (known)
        return;
    queued.enqueue(address);
    startNext();
}

void AvatarLoader::startNext()
{
    while (running.size() < kMaxRunning && !queued.isEmpty()) {
        const QString address = queued.dequeue();
        QNetworkReply *reply = manager->get(QNetworkRequest(QUrl(address)));
        running.insert(address, reply);
        tavi::limitReplySize(reply, tavi::kMaxPictureBytes);
        QTimer::singleShot(timeoutMs, reply, [reply]() { reply->abort(); });
        connect(reply, &QNetworkReply::finished, this, [this, reply, address]() { finished(reply, address); });
    }
}

void AvatarLoader::finished(QNetworkReply *reply, const QString &address)
{
    running.remove(address);
    reply->deleteLater();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    QImage image;
    if (reply->error() == QNetworkReply::NoError && status == 200)
        image = tavi::decodePicture(reply->readAll(), QSize(kSide, kSide));
    if (image.isNull()) {
        TAVI_LOG_WARN("picture of " << tavi::logExcerpt(reply->url().host(), 100)
                                    << " not had: " << (tavi::replyTooLarge(reply) ? "too large, " : "") << "status "
                                    << status << ", error " << int(reply->error()));
        tavi::markPictureFailed(address);
    }
    deliver(address, image, !image.isNull());
    startNext();
}

void AvatarLoader::deliver(const QString &address, const QImage &image, bool fetched)
{
    const QStringList keys = waiting.take(address);
    for (const QString &key : keys) {
        waitingKeys.remove(key);
        if (fetched) {
            const QString path = avatarCachePath(key);
            writer.start([image, path]() {
                tavi::ensureSignalStack();
                QByteArray png;
                QBuffer buffer(&png);
                buffer.open(QIODevice::WriteOnly);
                if (makeAvatarCacheDir() && image.save(&buffer, "PNG"))
                    tavi::writePrivateFile(path, png);
            });
        }
        emit picture(key, fetched ? image : fallback());
    }
}
