#pragma once

#include <QSystemTrayIcon>

class TrayMenu;

// The tray icon shown while the main window sits in the tray; everything
// goes through its menu.
class Trayicon : public QSystemTrayIcon
{
    Q_OBJECT
public:
    explicit Trayicon(QObject *parent = nullptr);

    TrayMenu *menu() const { return trayMenu; }

signals:
    void showWindow();
    void exitWindow();

public slots:
    void slot_hide();

private:
    TrayMenu *trayMenu;
};
