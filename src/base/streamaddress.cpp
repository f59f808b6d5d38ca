#include "base/streamaddress.h"

#include <QStringList>
#include <QUrl>

namespace tavi {

namespace {

QString schemeOf(const QString &address)
{
    const int colon = address.indexOf(QLatin1Char(':'));
    if (colon <= 0)
        return QString();
    const QString scheme = address.left(colon);
    for (const QChar c : scheme) {
        const bool ok = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
            (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
            c == QLatin1Char('+') || c == QLatin1Char('-') || c == QLatin1Char('.') || c == QLatin1Char('_');
        if (!ok)
            return QString();
    }
    return scheme.toLower();
}

bool refuse(QString *why, const QString &reason)
{
    if (why)
        *why = reason;
    return false;
}

} // namespace

bool hasAddressScheme(const QString &address)
{
    return !schemeOf(address).isEmpty();
}

bool isClassStreamAddress(const QString &address, QString *why)
{
    if (address.isEmpty())
        return refuse(why, QStringLiteral("empty"));
    const QString scheme = schemeOf(address);
    if (scheme.isEmpty())
        return refuse(why, QStringLiteral("no scheme (a local path?)"));
    if (scheme != QLatin1String("rtmp") && scheme != QLatin1String("rtmps"))
        return refuse(why, QStringLiteral("scheme \"%1\" is not rtmp or rtmps").arg(scheme.left(16)));
    if (!address.midRef(scheme.size()).startsWith(QLatin1String("://")))
        return refuse(why, QStringLiteral("no \"//\" after the scheme"));
    for (const QChar c : address) {
        if (c.unicode() <= 0x20 || c.unicode() == 0x7f || (c.unicode() >= 0x80 && c.unicode() <= 0x9f) ||
            c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            return refuse(why, QStringLiteral("blank or control character"));
    }
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid())
        return refuse(why, QStringLiteral("not a valid address"));
    if (url.host().isEmpty())
        return refuse(why, QStringLiteral("no host"));
    return true;
}

MediaAddress mediaAddressKind(const QString &address, bool classStreamOnly, QString *why)
{
    if (!classStreamOnly && !hasAddressScheme(address)) {
        if (!address.isEmpty())
            return MediaAddress::LocalFile;
        refuse(why, QStringLiteral("empty"));
        return MediaAddress::Refused;
    }
    return isClassStreamAddress(address, why) ? MediaAddress::ClassStream : MediaAddress::Refused;
}

const char *protocolWhitelist(MediaAddress kind)
{
    switch (kind) {
    case MediaAddress::ClassStream:
        return kClassStreamProtocols;
    case MediaAddress::LocalFile:
        return kLocalFileProtocols;
    case MediaAddress::Refused:
        break;
    }
    return nullptr;
}

QString streamAddressForLog(const QString &address)
{
    const QString scheme = schemeOf(address);
    const QUrl url(address, QUrl::TolerantMode);
    if (scheme.isEmpty() || !url.isValid() || url.host().isEmpty())
        return QStringLiteral("(no stream address)");
    QString shown = scheme + QStringLiteral("://") + url.host(QUrl::FullyEncoded);
    if (url.port() != -1)
        shown += QLatin1Char(':') + QString::number(url.port());
    // The last path element names the stream, and a publisher's stream
    // name is its key: only what comes before it is shown.
    QStringList path = url.path(QUrl::FullyEncoded).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (path.size() > 1)
        path.removeLast();
    if (!path.isEmpty())
        shown += QLatin1Char('/') + path.join(QLatin1Char('/'));
    return shown;
}

} // namespace tavi
