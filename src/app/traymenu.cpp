#include "app/traymenu.h"

#include "base/config.h"

#include <QDesktopServices>
#include <QIcon>
#include <QUrl>

TrayMenu::TrayMenu(QWidget *parent) : QMenu(parent)
{
    QAction *show = addAction(QIcon(QStringLiteral(":/images/sys/show")), QStringLiteral("显示"));
    QAction *web = addAction(QIcon(QStringLiteral(":/images/sys/web")), QStringLiteral("登录网页"));
    QAction *exit = addAction(QIcon(QStringLiteral(":/images/sys/exit")), QStringLiteral("退出"));
    connect(show, SIGNAL(triggered(bool)), this, SIGNAL(showWindow()));
    connect(web, SIGNAL(triggered()), this, SLOT(openUrl()));
    connect(exit, SIGNAL(triggered(bool)), this, SIGNAL(exitWindow()));
}

QString TrayMenu::portalUrl()
{
    return tavi::siteAddress(tavi::sysConfigValue(QStringLiteral("/TaviHttp/webUrl"))) + QLatin1Char('/');
}

void TrayMenu::openUrl()
{
    QDesktopServices::openUrl(QUrl(portalUrl()));
}
