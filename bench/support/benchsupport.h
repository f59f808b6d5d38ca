#pragma once

#include <QByteArray>
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

} // namespace bench
