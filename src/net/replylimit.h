#pragma once

// Bounds on what a reply from the network may bring: a reply that announces
// or delivers more than its limit is aborted at once, so no body is ever
// held beyond it.

#include <QtGlobal>

class QNetworkReply;

namespace tavi {

// Replies of the web service.
constexpr qint64 kMaxReplyBytes = 4 * 1024 * 1024;
// Pictures.
constexpr qint64 kMaxPictureBytes = 2 * 1024 * 1024;

// Aborts reply once its body is (or is announced to be) over maxBytes. For
// replies read whole once finished: what is buffered is what came.
void limitReplySize(QNetworkReply *reply, qint64 maxBytes);
// Whether limitReplySize aborted reply.
bool replyTooLarge(const QNetworkReply *reply);

} // namespace tavi
