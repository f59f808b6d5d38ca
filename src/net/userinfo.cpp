#include "net/userinfo.h"

UserInfo &UserInfo::instance()
{
    static UserInfo user;
    return user;
}
