#include "net/avatarcache.h"

#include "net/networkaccess.h"
#include <QCryptographicHash>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPixmap>
#include <QTimer>
#include <QUrl>

namespace {
const char *const kCacheDir = "./pic";
const char *const kFallbackPicture = ":/images/sys/man";
// Well below the usual 255-byte limit of a file name.
const int kMaxNameBytes = 120;
} // namespace

QString avatarFileName(const QString &key)
{
    // Percent-encoding leaves no "/" (nor anything but [A-Za-z0-9-._~%]),
    // so a key can never name a file outside the folder; plain identifiers
    // stay as they are.
    QByteArray name = QUrl::toPercentEncoding(key);
    if (name.isEmpty() || name == "." || name == ".." || name.size() > kMaxNameBytes) {
        const QByteArray digest = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex();
        name = "%key-" + digest;
    }
    return QString::fromLatin1(name) + QStringLiteral(".png");
}

QString avatarPath(QString address, QString key, int timeoutMs)
{
    const QString path = QString::fromLatin1(kCacheDir) + QLatin1Char('/') + avatarFileName(key);
    if (QFile::exists(path))
        return path;

    QNetworkAccessManager manager;
    keepNetworkAccessible(&manager);
    QNetworkReply *reply = manager.get(QNetworkRequest(QUrl(address)));
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(timeoutMs);
    if (!reply->isFinished())
        loop.exec();

    if (!reply->isFinished()) {
        reply->disconnect();
        reply->abort();
        reply->deleteLater();
        return QString::fromLatin1(kFallbackPicture);
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError || status != 200) {
        reply->deleteLater();
        return QString::fromLatin1(kFallbackPicture);
    }
    QPixmap pixmap;
    if (!pixmap.loadFromData(reply->readAll())) {
        // Not a picture: nothing worth caching, try again next time.
        reply->deleteLater();
        return QString::fromLatin1(kFallbackPicture);
    }
    reply->deleteLater();
    QDir().mkpath(QString::fromLatin1(kCacheDir));
    pixmap.scaled(20, 20, Qt::KeepAspectRatio, Qt::FastTransformation).save(path);
    return path;
}

void clearAvatarCache()
{
    QDir dir(QString::fromLatin1(kCacheDir));
    if (!dir.exists())
        return;
    const QStringList files = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &file : files)
        dir.remove(file);
}
