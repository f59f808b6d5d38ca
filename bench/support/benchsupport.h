#pragma once

#include <QByteArray>
#include <QStringList>
#include <QVector>

namespace bench {

// One line of the report on standard output, flushed at once.
void line(const char *format, ...) __attribute__((format(printf, 1, 2)));

// NaN for no values; NaNs among them are left out.
double median(QVector<double> values);
double percentile(QVector<double> values, double fraction);
double mean(const QVector<double> &values);

// User and system CPU seconds of a process (0: this one), NaN when gone.
double cpuSeconds(qint64 pid = 0);
// Resident memory in MB of a process (0: this one), NaN when gone.
double rssMb(qint64 pid = 0);

// The number after "KEY: " in a tool's report, NaN when missing.
double statValue(const QByteArray &report, const char *key);

// The ffmpeg command line's arguments that publish a live class to url in
// real time: a test picture of that size, 25 a second (H.264, 12-picture
// groups), with a 440 Hz tone (AAC).
QStringList classPublisherArgs(const QString &size, const QString &url);
// The ffmpeg arguments (before the output name) of a local test clip: a
// test picture of that size, 25 a second (H.264), with a tone (AAC).
QStringList testClipArgs(const QString &size, int seconds);

} // namespace bench
