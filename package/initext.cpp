#include "initext.h"

#include <QList>
#include <functional>

namespace {

// Calls visit(group, key, value, line index) for each "key=value" line.
void forEachEntry(const QList<QByteArray> &lines,
                  const std::function<void(const QString &, const QString &, const QString &, int)> &visit)
{
    QString group;
    for (int i = 0; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        if (line.isEmpty() || line.startsWith(';') || line.startsWith('#'))
            continue;
        if (line.startsWith('[')) {
            const int end = line.indexOf(']');
            group = QString::fromUtf8(line.mid(1, end < 0 ? -1 : end - 1)).trimmed();
            continue;
        }
        const int eq = line.indexOf('=');
        if (eq <= 0)
            continue;
        const QString key = QString::fromUtf8(line.left(eq)).trimmed();
        QString value = QString::fromUtf8(line.mid(eq + 1)).trimmed();
        if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"'))) {
            value = value.mid(1, value.size() - 2);
            value.replace(QLatin1String("\\\""), QLatin1String("\""));
            value.replace(QLatin1String("\\\\"), QLatin1String("\\"));
        }
        visit(group, key, value, i);
    }
}

QByteArray quoted(const QString &value)
{
    // Plain release names go as they are; anything else in quotes, so that
    // ";", "," or spaces survive QSettings reading it back.
    for (const QChar c : value) {
        if (!c.isLetterOrNumber() && !QStringLiteral(".-_+~:").contains(c)) {
            QString escaped = value;
            escaped.replace(QLatin1String("\\"), QLatin1String("\\\\"));
            escaped.replace(QLatin1String("\""), QLatin1String("\\\""));
            return '"' + escaped.toUtf8() + '"';
        }
    }
    return value.toUtf8();
}

} // namespace

QString IniText::value(const QByteArray &text, const QString &group, const QString &key)
{
    QString found;
    forEachEntry(text.split('\n'), [&](const QString &g, const QString &k, const QString &v, int) {
        if (g == group && k == key)
            found = v.isNull() ? QStringLiteral("") : v;
    });
    return found;
}

QByteArray IniText::withValue(const QByteArray &text, const QString &group, const QString &key, const QString &value)
{
    QList<QByteArray> lines = text.split('\n');
    const QByteArray entry = key.toUtf8() + '=' + quoted(value);
    QList<int> hits;
    forEachEntry(lines, [&](const QString &g, const QString &k, const QString &, int i) {
        if (g == group && k == key)
            hits << i;
    });
    if (!hits.isEmpty()) {
        lines[hits.takeLast()] = entry;
        for (int i = hits.size() - 1; i >= 0; --i)
            lines.removeAt(hits.at(i));
        return lines.join('\n');
    }
    const QByteArray header = '[' + group.toUtf8() + ']';
    for (int i = 0; i < lines.size(); ++i) {
        if (lines.at(i).trimmed() == header) {
            lines.insert(i + 1, entry);
            return lines.join('\n');
        }
    }
    QByteArray out = text;
    if (!out.isEmpty() && !out.endsWith('\n'))
        out += '\n';
    if (!out.isEmpty())
        out += '\n';
    return out + header + '\n' + entry + '\n';
}

QStringList IniText::entries(const QByteArray &text, const QString &skip)
{
    QStringList all;
    forEachEntry(text.split('\n'), [&](const QString &g, const QString &k, const QString &v, int) {
        const QString name = g + QLatin1Char('/') + k;
        if (name != skip)
            all << name + QLatin1Char('=') + v;
    });
    all.sort();
    return all;
}
