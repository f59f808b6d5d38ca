#include "app/traymenu.h"

#include "base/config.h"
#include "ui/builtinpicture.h"

#include <QDesktopServices>
#include <QIcon>
#include <QUrl>

TrayMenu::TrayMenu(QWidget *parent) : QMenu(parent)
{
    QAction *show =
        addAction(QIcon(builtinPicture(QStringLiteral(":/images/sys/show"), devicePixelRatioF())), tr("显示"));
    QAction *web =
        addAction(QIcon(builtinPicture(QStringLiteral(":/images/sys/web"), devicePixelRatioF())), tr("登录网页"));
    QAction *exit =
        addAction(QIcon(builtinPicture(QStringLiteral(":/images/sys/exit"), devicePixelRatioF())), tr("退出"));
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
