#pragma once

#include "net/logindlg.h"
#include "ui/colorbtn.h"

#include <QLineEdit>
#include <QTest>

namespace testsupport {

// Types a user and password into the sign-in dialog and presses its button.
inline void pressSignIn(LoginDlg *dialog, const QString &user, const QString &password = QStringLiteral("123456"))
{
    dialog->findChild<QLineEdit *>(QStringLiteral("userEdit"))->setText(user);
    dialog->findChild<QLineEdit *>(QStringLiteral("passwordEdit"))->setText(password);
    QTest::mouseClick(dialog->findChild<ColorBtn *>(QStringLiteral("loginBtn")), Qt::LeftButton);
}

// As pressSignIn(); true once the dialog has handled the reply.
inline bool signIn(LoginDlg *dialog, const QString &user, const QString &password = QStringLiteral("123456"))
{
    pressSignIn(dialog, user, password);
    return QTest::qWaitFor([dialog] { return !dialog->signingIn(); }, 15000);
}

} // namespace testsupport
