#pragma once

// Records of the class chat, filled from the server's messages. Every text
// is decoded as UTF-8; a member the message lacks stays empty.

#include <QMetaType>
#include <QString>

#include <vector>

// A class lists at most this many participants; a longer list from the
// server is cut.
constexpr int kMaxParticipants = 5000;

// One participant of a class.
struct data_chat_use
{
    QString uid;
    QString name; // only in the participant list
    QString nick_name;
    QString photo; // address of the participant's picture
};

// One chat line.
struct data_chat_msg
{
    QString info; // the text as typed
    QString nick_name;
    QString user_id;
    QString photo;
    QString time;
};

// A courseware notice; hasId is false when the message carried no usable id.
struct data_chat_courseware
{
    int id = 0;
    bool hasId = false;
    QString type;
    int courseware_type = 0;
    QString title;
};

// A news notice.
struct data_chat_news
{
    int id = 0;
    bool hasId = false;
    QString title;
};

Q_DECLARE_METATYPE(data_chat_use)
Q_DECLARE_METATYPE(std::vector<data_chat_use>)
Q_DECLARE_METATYPE(data_chat_msg)

// Registers "data_chat_use", "std::vector<data_chat_use>" and "data_chat_msg".
void registerChatMetaTypes();
