// Fuzz target: the chat panel's reader of server messages. Whatever the
// bytes, reading must not crash, hang or throw, and a chat line read from
// them must survive being written back and read again.

#include "chat/datachatrecv.h"
#include "chat/datachatsend.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Frames arrive as text: what the panel reads is their UTF-8.
    const QString frame = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    const QByteArray utf8 = frame.toUtf8();
    data_chat_recv recv;
    const int kind = recv.read(std::string(utf8.constData(), size_t(utf8.size())));
    if (kind < data_chat_recv::None || kind > data_chat_recv::News)
        std::abort();

    // Every record can be asked for, whatever the kind.
    const std::vector<data_chat_use> users = recv.users();
    const data_chat_use user = recv.user();
    const data_chat_msg line = recv.msg();
    recv.courseware();
    recv.news();

    // The writer's text of a line read back gives the same line.
    data_chat_recv again;
    const std::string written = data_chat_send::lineText(line.info);
    const std::string wrapped = "{\"list\":" + written + "}";
    if (again.read(wrapped) != data_chat_recv::Line || again.msg().info != line.info)
        std::abort();
    (void)users;
    (void)user;
    return 0;
}
