#include "benchsupport.h"

#include <QFile>
#include <QRegularExpression>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <unistd.h>

namespace bench {

void line(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

static QVector<double> sortedNumbers(QVector<double> values)
{
    values.erase(std::remove_if(values.begin(), values.end(), [](double x) { return std::isnan(x); }), values.end());
    std::sort(values.begin(), values.end());
    return values;
}

double median(QVector<double> values)
{
    values = sortedNumbers(values);
    return values.isEmpty() ? NAN : values[values.size() / 2];
}

double percentile(QVector<double> values, double fraction)
{
    values = sortedNumbers(values);
    if (values.isEmpty())
        return NAN;
    const int at = int(std::ceil(fraction * values.size())) - 1;
    return values[std::clamp(at, 0, int(values.size()) - 1)];
}

double mean(const QVector<double> &values)
{
    double sum = 0;
    for (double x : values)
        sum += x;
    return values.isEmpty() ? NAN : sum / values.size();
}

static QByteArray procFile(qint64 pid, const char *name)
{
    QFile file(pid ? QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name))
                   : QStringLiteral("/proc/self/%1").arg(QLatin1String(name)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

double cpuSeconds(qint64 pid)
{
    const QByteArray text = procFile(pid, "stat");
    // Fields after the command name, which may hold spaces.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return NAN;
    return (fields.at(11).toDouble() + fields.at(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

double rssMb(qint64 pid)
{
    for (const QByteArray &row : procFile(pid, "status").split('\n'))
        if (row.startsWith("VmRSS:"))
            return row.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return NAN;
}

double statValue(const QByteArray &report, const char *key)
{
    const QRegularExpression re(QStringLiteral("%1: (-?[0-9.]+)").arg(QRegularExpression::escape(QLatin1String(key))));
    const auto match = re.match(QString::fromUtf8(report));
    return match.hasMatch() ? match.captured(1).toDouble() : NAN;
}

QStringList classPublisherArgs(const QString &size, const QString &url)
{
    return QStringLiteral("-hide_banner -nostdin -loglevel error -re -f lavfi -i testsrc2=size=%1:rate=25 "
                          "-f lavfi -i sine=frequency=440:sample_rate=44100 -c:v libx264 -preset ultrafast "
                          "-tune zerolatency -g 12 -pix_fmt yuv420p -c:a aac -f flv")
               .arg(size)
               .split(QLatin1Char(' ')) +
        QStringList{url};
}

QStringList testClipArgs(const QString &size, int seconds)
{
    return QStringLiteral("-f lavfi -i testsrc2=size=%1:rate=25 -f lavfi -i sine=sample_rate=44100 -t %2 "
                          "-c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac")
        .arg(size)
        .arg(seconds)
        .split(QLatin1Char(' '));
}

} // namespace bench
