#include "net/jsonhelpers.h"

#include <QJsonDocument>
#include <QJsonValue>

QJsonObject parseJsonObject(QByteArray body)
{
    return QJsonDocument::fromJson(body).object();
}

QJsonObject jsonObjectValue(QJsonObject obj, QString key)
{
    const QJsonValue value = obj.value(key);
    return value.isObject() ? value.toObject() : QJsonObject();
}

QJsonArray jsonArrayValue(QJsonObject obj, QString key)
{
    const QJsonValue value = obj.value(key);
    return value.isArray() ? value.toArray() : QJsonArray();
}

QString jsonStringValue(QJsonObject obj, QString key)
{
    if (!obj.contains(key))
        return QString();
    const QJsonValue value = obj.value(key);
    switch (value.type()) {
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Double:
        return QString::fromLatin1("%1").arg(value.toDouble(), 0, 'g', -1);
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Undefined:
        return QStringLiteral("undefined");
    case QJsonValue::Null:
    case QJsonValue::Array:
    case QJsonValue::Object:
        break;
    }
    return QString();
}
