// Fuzz target: the reader of the sign-in reply. Whatever the bytes, reading
// must not crash or hang, and only a reply whose status reads as 200 may
// sign a user in.

#include "net/loginreply.h"

#include <QtGlobal>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), int(size));
    const LoginReply reply = readLoginReply(body);
    if (reply.accepted != (reply.status.toInt() == 200))
        std::abort();
    const UserInfo &user = reply.user;
    if (!reply.accepted &&
        !(user.userId.isEmpty() && user.userName.isEmpty() && user.type.isEmpty() && user.real_name.isEmpty() &&
          user.photo.isEmpty()))
        std::abort();
    return 0;
}
