#pragma once

#include <QString>

#include <json/value.h>

#include <string>

// One message to the chat server: {"content":...,"ptype":P,"type":T} in
// jsoncpp's compact form (keys sorted, no spaces, a line feed at the end).
class data_chat_send
{
public:
    data_chat_send(int ptype, int type);

    int ptype;
    int type;
    Json::Value content; // left out of the text while null

    std::string toText() const;

    // The messages the client sends.
    static std::string sessionText(const QString &session);
    static std::string joinText(const QString &orderId, const QString &session);
    static std::string leaveText();
    static std::string lineText(const QString &info);
    static std::string pingText();
};
