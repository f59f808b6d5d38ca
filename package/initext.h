#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Reads and edits INI text in the form QSettings writes ("[group]" lines,
// "key=value" lines, ";" or "#" comments), without QSettings' per-process
// cache of files, which may miss a file replaced by rename within the same
// second.
class IniText
{
public:
    // The value of key in group, with surrounding quotes removed; a null
    // string when the key is missing. The last occurrence counts.
    static QString value(const QByteArray &text, const QString &group, const QString &key);
    // The text with key in group set to value, everything else as it was.
    static QByteArray withValue(const QByteArray &text, const QString &group, const QString &key, const QString &value);
    // Every "group/key=value" of the text, sorted, one per entry, with the
    // layout (spaces, comments, order) left out; skip names one "group/key".
    static QStringList entries(const QByteArray &text, const QString &skip = QString());
};
