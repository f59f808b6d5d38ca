#include "net/picture.h"

#include "base/logging.h"

#include <QBuffer>
#include <QImageReader>
#include <QMutex>
#include <QSet>
#include <QUrl>

namespace tavi {

namespace {

QMutex failedMutex;
QSet<QString> &failedAddresses()
{
    static QSet<QString> failed;
    return failed;
}

QImage readPicture(QImageReader &reader, const QSize &fit)
{
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > kMaxPictureSide || size.height() > kMaxPictureSide) {
        TAVI_LOG_WARN("picture refused: " << size.width() << "x" << size.height() << " pixels (at most "
                                          << kMaxPictureSide << " on a side)");
        return QImage();
    }
    if (fit.isValid() && !fit.isEmpty())
        reader.setScaledSize(size.scaled(fit, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    QImage image;
    if (!reader.read(&image))
        return QImage();
    return image;
}

} // namespace

bool isBuiltInPicture(const QString &address)
{
    return address.startsWith(QLatin1String(":/"));
}

bool isFetchablePicture(const QString &address)
{
    const QUrl url(address, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
        !url.host().isEmpty();
}

QImage decodePicture(const QByteArray &data, const QSize &fit)
{
    QByteArray copy = data; // QBuffer wants a non-const array; shared, not copied
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    // Photos only: no vector or container formats whose reading is work of
    // its own.
    static const QByteArray kFormats[] = {"png", "jpeg", "jpg", "gif", "bmp", "webp"};
    const QByteArray format = reader.format().toLower();
    for (const QByteArray &allowed : kFormats)
        if (format == allowed)
            return readPicture(reader, fit);
    return QImage();
}

QImage readPictureFile(const QString &path, const QSize &fit)
{
    QImageReader reader(path);
    return readPicture(reader, fit);
}

void markPictureFailed(const QString &address)
{
    QMutexLocker lock(&failedMutex);
    failedAddresses().insert(address);
}

bool pictureFailed(const QString &address)
{
    QMutexLocker lock(&failedMutex);
    return failedAddresses().contains(address);
}

} // namespace tavi
