#include "chat/datachatrecv.h"

#include <json/reader.h>

#include <algorithm>
#include <exception>

namespace {

const Json::Value &member(const Json::Value &object, const char *key)
{
    static const Json::Value absent;
    if (!object.isObject())
        return absent;
    const Json::Value *found = object.find(key, key + std::char_traits<char>::length(key));
    return found ? *found : absent;
}

QString text(const Json::Value &object, const char *key)
{
    const Json::Value &value = member(object, key);
    if (!value.isString())
        return QString();
    const char *begin = nullptr;
    const char *end = nullptr;
    value.getString(&begin, &end);
    return QString::fromUtf8(begin, int(end - begin));
}

bool integer(const Json::Value &object, const char *key, int *out)
{
    const Json::Value &value = member(object, key);
    if (!value.isInt())
        return false;
    *out = value.asInt();
    return true;
}

data_chat_use participant(const Json::Value &object)
{
    data_chat_use user;
    user.uid = text(object, "uid");
    user.nick_name = text(object, "nick_name");
    user.photo = text(object, "photo");
    return user;
}

} // namespace

int data_chat_recv::read(const std::string &text)
{
    Json::Value root;
    try {
        Json::Reader reader;
        if (!reader.parse(text, root, false))
            return kind;
    } catch (const std::exception &) {
        // jsoncpp gives up on very deep nesting by throwing.
        return kind;
    }
    if (!root.isObject())
        return kind;

    integer(root, "status", &status);
    const Json::Value &messageValue = member(root, "message");
    if (messageValue.isString())
        message = messageValue.asString();
    const Json::Value &listValue = member(root, "list");
    if (!listValue.isObject())
        return kind;
    list = listValue;

    integer(list, "ptype", &ptype);
    integer(list, "type", &type);
    content = member(list, "content");

    if (ptype == 1 && type >= 1 && type <= 4)
        kind = type;
    else if (ptype == 3 && type == 1)
        kind = News;
    else if (ptype == 2 && type == 1)
        kind = Courseware;
    return kind;
}

std::vector<data_chat_use> data_chat_recv::users() const
{
    std::vector<data_chat_use> result;
    const Json::Value &array = member(content, "userInfoList");
    if (!array.isArray())
        return result;
    result.reserve(std::min<size_t>(array.size(), kMaxParticipants));
    for (const Json::Value &element : array) {
        if (result.size() == size_t(kMaxParticipants))
            break;
        if (!element.isObject())
            continue;
        data_chat_use user = participant(element);
        user.name = ::text(element, "name");
        result.push_back(user);
    }
    return result;
}

data_chat_use data_chat_recv::user() const
{
    return participant(content);
}

data_chat_msg data_chat_recv::msg() const
{
    data_chat_msg line;
    line.info = ::text(content, "info");
    line.nick_name = ::text(content, "nick_name");
    line.user_id = ::text(content, "user_id");
    line.photo = ::text(content, "photo");
    line.time = ::text(content, "time");
    return line;
}

data_chat_courseware data_chat_recv::courseware() const
{
    data_chat_courseware notice;
    notice.hasId = integer(content, "id", &notice.id);
    notice.type = ::text(content, "type");
    integer(content, "courseware_type", &notice.courseware_type);
    notice.title = ::text(content, "title");
    return notice;
}

data_chat_news data_chat_recv::news() const
{
    data_chat_news notice;
    notice.hasId = integer(content, "id", &notice.id);
    notice.title = ::text(content, "title");
    return notice;
}
