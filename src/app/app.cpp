#include "app/app.h"

#include "app/contentwidget.h"
#include "app/crashhandler.h"
#include "app/mainwindow.h"
#include "app/trayicon.h"
#include "base/logging.h"
#include "classroom/screen.h"
#include "net/certificates.h"
#include "net/flash.h"
#include "net/logindlg.h"

#include <QApplication>
#include <QScreen>
#include <QSystemTrayIcon>

app::app() : QObject(nullptr)
{
    CrashHandler::install();
    tavi::startLogging();
    trustCertificatesFromEnvironment();
    installFlashNotices();
    loginDlg = LoginDlg::instance();
    mainWindow = MainWindow::instance();
    tray = new Trayicon(nullptr);
    maximised = false;

    connect(loginDlg, SIGNAL(s_close()), this, SLOT(slot_close()));
    connect(loginDlg, SIGNAL(s_loginSuccess()), this, SLOT(slot_loginSuccess()));
    connect(mainWindow, SIGNAL(s_loginOut()), this, SLOT(slot_loginOut()));
    connect(mainWindow, SIGNAL(s_tray()), this, SLOT(slot_tray()));
    connect(mainWindow, SIGNAL(s_min()), this, SLOT(slot_min()));
    connect(mainWindow, SIGNAL(s_max()), this, SLOT(slot_max()));
    connect(mainWindow, SIGNAL(s_move(QPoint)), this, SLOT(slot_move(QPoint)));
    connect(tray, SIGNAL(showWindow()), this, SLOT(slot_sMainwnd()));
    connect(tray, SIGNAL(exitWindow()), this, SLOT(slot_exitWindow()));
}

app::~app() = default;

bool (*app::trayAvailable)() = &QSystemTrayIcon::isSystemTrayAvailable;

void app::slot_loginOut()
{
    mainWindow->setVisible(false);
    mainWindow->loginOut();
    loginDlg->setVisible(true);
}

void app::slot_close()
{
    loginDlg->accept();
    QApplication::closeAllWindows();
}

void app::slot_loginSuccess()
{
    loginDlg->setVisible(false);
    mainWindow->loginSuccess();
    mainWindow->setVisible(true);
}

void app::slot_exitWindow()
{
    // A class on air ends only when the teacher says so.
    mainWindow->contentArea()->screen()->askToEnd([this]() {
        loginDlg->accept();
        mainWindow->loginOut();
        mainWindow->close();
        QApplication::closeAllWindows();
    });
}

void app::slot_sMainwnd()
{
    tray->setVisible(false);
    mainWindow->setVisible(true);
    mainWindow->setFocus(Qt::ActiveWindowFocusReason);
}

void app::slot_min()
{
    mainWindow->showMinimized();
}

void app::slot_max()
{
    // The primary screen less the task bar; placed from (0, 0) whatever
    // the available area's own origin.
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    const int w = available.width();
    const int h = available.height();
    if (maximised) {
        maximised = false;
        mainWindow->setMinimumSize(1180, 600);
        mainWindow->setGeometry((w - 1180) / 2, (h - 600) / 2, 1180, 600);
    } else {
        maximised = true;
        mainWindow->setGeometry(0, 0, w, h);
    }
}

void app::slot_tray()
{
    // Without a system tray a hidden window could never be brought back, and
    // a minimised one is easily taken for a program that will not quit:
    // closing quits.
    if (!trayAvailable()) {
        slot_exitWindow();
        return;
    }
    mainWindow->setVisible(false);
    tray->setVisible(true);
    // The play control exists from here on; the screen shows its background.
    mainWindow->onTray();
}

void app::slot_move(QPoint pMove)
{
    mainWindow->move(pMove);
}
