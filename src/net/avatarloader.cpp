#include "chat/avatarloader.h"

#include "net/networkaccess.h"
#include "net/avatarcache.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSaveFile>
#include <QTimer>
#include <QUrl>

namespace {
const char *const kCacheDir = "./pic";
const int kTimeoutMs = 3000;

QString cachePath(const QString &key)
{
    return QString::fromLatin1(kCacheDir) + QLatin1Char('/') + avatarFileName(key);
}

QPixmap fallback()
{
    return QPixmap(QStringLiteral(":/images/sys/man"));
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
    for (QNetworkReply *reply : qAsConst(inFlight)) {
        reply->disconnect(this);
        reply->abort();
    }
    // Nothing is left half written for the next reader.
    writer.waitForDone();
}

void AvatarLoader::request(const QString &address, const QString &key)
{
    if (inFlight.contains(key))
        return;
    const QString path = cachePath(key);
    if (QFile::exists(path)) {
        const QPixmap cached(path);
        if (!cached.isNull()) {
            emit picture(key, cached);
            return;
        }
    }
    QNetworkReply *reply = manager->get(QNetworkRequest(QUrl(address)));
    inFlight.insert(key, reply);
    QTimer::singleShot(kTimeoutMs, reply, [reply]() { reply->abort(); });
    connect(reply, &QNetworkReply::finished, this, [this, reply, key]() { finished(reply, key); });
}

void AvatarLoader::finished(QNetworkReply *reply, const QString &key)
{
    inFlight.remove(key);
    reply->deleteLater();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    QPixmap pixmap;
    if (reply->error() != QNetworkReply::NoError || status != 200 || !pixmap.loadFromData(reply->readAll())) {
        // Not cached: the next request tries again.
        emit picture(key, fallback());
        return;
    }
    const QPixmap small = pixmap.scaled(20, 20, Qt::KeepAspectRatio, Qt::FastTransformation);
    const QImage image = small.toImage();
    const QString path = cachePath(key);
    writer.start([image, path]() {
        QDir().mkpath(QString::fromLatin1(kCacheDir));
        QSaveFile file(path);
        if (file.open(QIODevice::WriteOnly) && image.save(&file, "PNG"))
            file.commit();
    });
    emit picture(key, small);
}
