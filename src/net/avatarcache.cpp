#include "net/avatarcache.h"

#include "base/privatefiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QUrl>

namespace {
const char *const kCacheDir = "./pic";
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

QString avatarCachePath(const QString &key)
{
    return QString::fromLatin1(kCacheDir) + QLatin1Char('/') + avatarFileName(key);
}

bool makeAvatarCacheDir()
{
    return tavi::makePrivateDir(QString::fromLatin1(kCacheDir));
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
