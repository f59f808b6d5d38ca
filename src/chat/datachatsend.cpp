#include "chat/datachatsend.h"

#include <json/writer.h>

namespace {
Json::Value jsonText(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    return Json::Value(std::string(utf8.constData(), size_t(utf8.size())));
}

std::string compact(const Json::Value &value)
{
    Json::FastWriter writer;
    return writer.write(value);
}
} // namespace

data_chat_send::data_chat_send(int ptype, int type) : ptype(ptype), type(type) {}

std::string data_chat_send::toText() const
{
    Json::Value root(Json::objectValue);
    if (!content.isNull())
        root["content"] = content;
    root["ptype"] = ptype;
    root["type"] = type;
    return compact(root);
}

std::string data_chat_send::sessionText(const QString &session)
{
    data_chat_send message(888, 1);
    message.content["session"] = jsonText(session);
    return message.toText();
}

std::string data_chat_send::joinText(const QString &orderId, const QString &session)
{
    data_chat_send message(1, 1);
    message.content["orderid"] = jsonText(orderId);
    message.content["session"] = jsonText(session);
    return message.toText();
}

std::string data_chat_send::leaveText()
{
    return data_chat_send(1, 3).toText();
}

std::string data_chat_send::lineText(const QString &info)
{
    data_chat_send message(1, 4);
    message.content["info"] = jsonText(info);
    return message.toText();
}

std::string data_chat_send::pingText()
{
    Json::Value root(Json::objectValue);
    root["type"] = "ping";
    return compact(root);
}
