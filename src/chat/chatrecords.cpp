#include "chat/chatrecords.h"

void registerChatMetaTypes()
{
    qRegisterMetaType<data_chat_use>("data_chat_use");
    qRegisterMetaType<std::vector<data_chat_use>>("std::vector<data_chat_use>");
    qRegisterMetaType<data_chat_msg>("data_chat_msg");
}
