#include "net/replylimit.h"

#include <QNetworkReply>
#include <QVariant>

namespace tavi {

namespace {
const char *const kTooLarge = "taviTooLarge";

void refuse(QNetworkReply *reply)
{
    if (reply->property(kTooLarge).toBool())
        return;
    reply->setProperty(kTooLarge, true);
    reply->abort();
}
} // namespace

void limitReplySize(QNetworkReply *reply, qint64 maxBytes)
{
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, maxBytes]() {
        bool known = false;
        const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
        if (known && announced > maxBytes)
            refuse(reply);
    });
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [reply, maxBytes](qint64 received, qint64) {
        if (received > maxBytes)
            refuse(reply);
    });
}

bool replyTooLarge(const QNetworkReply *reply)
{
    return reply->property(kTooLarge).toBool();
}

} // namespace tavi
