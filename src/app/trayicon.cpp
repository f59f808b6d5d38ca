#include "app/trayicon.h"

#include "app/traymenu.h"
#include "ui/builtinpicture.h"

#include <QApplication>
#include <QIcon>

Trayicon::Trayicon(QObject *parent) : QSystemTrayIcon(parent)
{
    trayMenu = new TrayMenu(nullptr);
    setContextMenu(trayMenu);
    setToolTip(QStringLiteral("Velin"));
    setIcon(QIcon(builtinPicture(QStringLiteral(":/images/sys/tavi"), qApp->devicePixelRatio())));
    connect(trayMenu, SIGNAL(showWindow()), this, SIGNAL(showWindow()));
    connect(trayMenu, SIGNAL(exitWindow()), this, SIGNAL(exitWindow()));
}

void Trayicon::slot_hide() {}
