// tavi-chat [ORDERID]: the chat panel on its own, for trying the chat
// before entering a class through the course list. Started in the
// installation folder, it shows the sign-in dialog, then the panel joined to
// the class ORDERID (default 101, a demo school course).

#include "base/logging.h"
#include "chat/studentwidget.h"
#include "course/courseinfo.h"
#include "net/flash.h"
#include "net/logindlg.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    tavi::startLogging();
    installFlashNotices();
    const QString orderId = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("101");

    LoginDlg *login = LoginDlg::instance();
    StudentWidget *panel = nullptr;
    QObject::connect(login, &LoginDlg::s_close, &app, &QApplication::quit);
    QObject::connect(login, &LoginDlg::s_loginSuccess, [&]() {
        login->hide();
        if (!panel) {
            panel = new StudentWidget;
            panel->setWindowTitle(QStringLiteral("tavi-chat %1").arg(orderId));
            panel->resize(230, 640);
        }
        panel->show();
        panel->startChat();
        CourseInfo course;
        course.id = orderId;
        // Announced as soon as the connection is up.
        panel->joinClass(course);
    });
    login->show();
    const int status = app.exec();
    delete panel;
    return status;
}
