#pragma once

#include <QObject>
#include <QPoint>

class LoginDlg;
class MainWindow;
class Trayicon;

// The application controller: moves the user between the login dialog,
// the main window, the tray and exit. Created once by mainStart, never
// destroyed.
class app : public QObject
{
    Q_OBJECT
public:
    app();
    ~app() override;

    LoginDlg *loginDialog() const { return loginDlg; }
    MainWindow *mainWnd() const { return mainWindow; }
    Trayicon *trayIcon() const { return tray; }
    bool isMaximised() const { return maximised; }

    // Whether the desktop shows tray icons; replaceable for tests.
    static bool (*trayAvailable)();

public slots:
    void slot_loginOut();
    void slot_close();
    void slot_loginSuccess();
    void slot_exitWindow();
    void slot_sMainwnd();
    void slot_min();
    void slot_max();
    void slot_tray();
    void slot_move(QPoint pMove);

private:
    LoginDlg *loginDlg;
    MainWindow *mainWindow;
    Trayicon *tray;
    bool maximised;
};
