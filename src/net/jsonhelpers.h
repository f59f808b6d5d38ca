#pragma once

// Readers for the web service's JSON replies. Every one of them gives an
// empty value rather than failing, so a reply of an unexpected shape simply
// reads as missing fields.

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

// Top-level object of body; empty when body is not a JSON object.
QJsonObject parseJsonObject(QByteArray body);
// obj[key] when it is an object, else an empty object.
QJsonObject jsonObjectValue(QJsonObject obj, QString key);
// obj[key] when it is an array, else an empty array.
QJsonArray jsonArrayValue(QJsonObject obj, QString key);
// obj[key] as text: strings as they are, numbers in the 'g' form with six
// significant digits (200, 1.5, 1.23457e+06), "true"/"false", "undefined"
// for an undefined value; null, arrays, objects and missing keys are empty.
QString jsonStringValue(QJsonObject obj, QString key);
