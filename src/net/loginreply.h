#pragma once

// Reading the web service's sign-in reply, without widgets: the sign-in
// dialog fills the signed-in user from what this gives it.

#include "net/userinfo.h"

#include <QByteArray>
#include <QString>

struct LoginReply
{
    // "status" as text (the number or the string the reply carried).
    QString status;
    // The status read as 200: the user is signed in.
    bool accepted = false;
    // The user of the reply's "list" object (only when accepted; missing
    // fields are empty).
    UserInfo user;
};

LoginReply readLoginReply(const QByteArray &body);
