#include "net/replylimit.h"

#include <QNetworkReply>
#include <QVariant>

namespace tavi {

namespace {
const char *const kTooLarge = "taviTooLarge";
constexpr qint64 kReadAhead = 256 * 1024;

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
    // Without a bound the transfer thread reads ahead of the checks below
    // (hundreds of MB from a fast peer); with it the transfer waits. It
    // reads whole blocks, so the bound leaves room for one past the limit.
    reply->setReadBufferSize(maxBytes + kReadAhead);
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, maxBytes]() {
        bool known = false;
        const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
        if (known && announced > maxBytes)
            refuse(reply);
    });
    // Not downloadProgress: Qt sends that at most every 100 ms, and not at
    // all once the bounded transfer has stopped.
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, maxBytes]() {
        if (reply->bytesAvailable() > maxBytes)
            refuse(reply);
    });
}

bool replyTooLarge(const QNetworkReply *reply)
{
    return reply->property(kTooLarge).toBool();
}

} // namespace tavi
