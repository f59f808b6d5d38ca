#include "net/loginreply.h"

#include "net/jsonhelpers.h"

LoginReply readLoginReply(const QByteArray &body)
{
    LoginReply reply;
    const QJsonObject root = parseJsonObject(body);
    reply.status = jsonStringValue(root, QStringLiteral("status"));
    reply.accepted = reply.status.toInt() == 200;
    if (!reply.accepted)
        return reply;
    const QJsonObject list = jsonObjectValue(root, QStringLiteral("list"));
    reply.user.userId = jsonStringValue(list, QStringLiteral("userId"));
    reply.user.userName = jsonStringValue(list, QStringLiteral("userName"));
    reply.user.type = jsonStringValue(list, QStringLiteral("type"));
    reply.user.real_name = jsonStringValue(list, QStringLiteral("real_name"));
    reply.user.photo = jsonStringValue(list, QStringLiteral("photo"));
    return reply;
}
