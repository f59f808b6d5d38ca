#pragma once

#include <QList>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QString>

// The one cookie store shared by every request of the client. It is a
// static object: network managers that use it must never own it.
class CookieJar : public QNetworkCookieJar
{
    Q_OBJECT
public:
    explicit CookieJar(QObject *parent = nullptr);

    // The process-wide store.
    static CookieJar *instance();

    QList<QNetworkCookie> getCookies() const;
    // Replaces the whole store; an empty list leaves it as it is.
    void setCookies(QList<QNetworkCookie> cookies);
    // Value of the first cookie whose name matches exactly, else empty.
    QString getCookie(QString name) const;
    // The cookies for diagnostics: names and domains, never a value (the
    // session cookie's value signs the user in).
    QString describe() const;
};
