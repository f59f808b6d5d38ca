#pragma once

#include <QMenu>

// The tray icon's menu: show the main window, open the web portal, exit.
class TrayMenu : public QMenu
{
    Q_OBJECT
public:
    explicit TrayMenu(QWidget *parent = nullptr);

    // The portal's home page, from "/TaviHttp/webUrl".
    static QString portalUrl();

signals:
    void showWindow();
    void exitWindow();

public slots:
    void openUrl();
};
