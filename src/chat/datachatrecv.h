#pragma once

#include "chat/chatrecords.h"

#include <json/value.h>

#include <string>
#include <vector>

// One message from the chat server being read. Messages come from the
// network: whatever their shape, reading never throws; a member of an
// unexpected type reads as absent.
class data_chat_recv
{
public:
    // What a message asks of the chat panel.
    enum Kind {
        None = 0,
        UsersList = 1, // ptype 1, type 1
        UserIn = 2, // ptype 1, type 2
        UserOut = 3, // ptype 1, type 3
        Line = 4, // ptype 1, type 4
        Courseware = 5, // ptype 2, type 1
        News = 6, // ptype 3, type 1
    };

    // Reads text (JSON, comments allowed); returns kind.
    int read(const std::string &text);

    int ptype = -1;
    int type = -1;
    int status = -1;
    std::string message;
    Json::Value list;
    Json::Value content;
    int kind = None;

    // Records built from content.
    std::vector<data_chat_use> users() const;
    data_chat_use user() const;
    data_chat_msg msg() const;
    data_chat_courseware courseware() const;
    data_chat_news news() const;
};
