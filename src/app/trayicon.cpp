#include "app/trayicon.h"

#include "app/traymenu.h"

#include <QIcon>

Trayicon::Trayicon(QObject *parent) : QSystemTrayIcon(parent)
{
    trayMenu = new TrayMenu(nullptr);
    setContextMenu(trayMenu);
    setToolTip(QStringLiteral("Velin"));
    setIcon(QIcon(QStringLiteral(":/images/sys/tavi")));
    connect(trayMenu, SIGNAL(showWindow()), this, SIGNAL(showWindow()));
    connect(trayMenu, SIGNAL(exitWindow()), this, SIGNAL(exitWindow()));
}

void Trayicon::slot_hide() {}
