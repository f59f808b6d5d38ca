#include "net/cookiejar.h"

#include <QStringList>

namespace {
CookieJar sharedJar;
}

CookieJar::CookieJar(QObject *parent) : QNetworkCookieJar(parent) {}

CookieJar *CookieJar::instance()
{
    return &sharedJar;
}

QList<QNetworkCookie> CookieJar::getCookies() const
{
    return allCookies();
}

void CookieJar::setCookies(QList<QNetworkCookie> cookies)
{
    if (!cookies.isEmpty())
        setAllCookies(cookies);
}

QString CookieJar::getCookie(QString name) const
{
    const QByteArray wanted = name.toUtf8();
    const QList<QNetworkCookie> cookies = allCookies();
    for (const QNetworkCookie &cookie : cookies) {
        if (cookie.name() == wanted)
            return QString::fromUtf8(cookie.value());
    }
    return QString();
}

QString CookieJar::describe() const
{
    QStringList parts;
    const QList<QNetworkCookie> cookies = allCookies();
    for (const QNetworkCookie &cookie : cookies)
        parts << QStringLiteral("%1 (%2)").arg(QString::fromUtf8(cookie.name()), cookie.domain());
    return parts.join(QStringLiteral(", "));
}
