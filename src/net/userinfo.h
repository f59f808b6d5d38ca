#pragma once

#include <QString>

// The signed-in user, filled by a successful sign-in and overwritten by the
// next one; never cleared.
struct UserInfo
{
    QString userId;
    QString userName;
    QString type; // role code as text: "2" and "3" are compared by the course lists
    QString real_name;
    QString photo; // address of the user's picture

    static UserInfo &instance();
};
