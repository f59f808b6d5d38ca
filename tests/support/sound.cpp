#include "sound.h"

#include "testsupport.h"

#include <QDateTime>
#include <QTest>

#include <algorithm>

#include <cmath>

namespace testsupport {

PulseModule::PulseModule(const QStringList &args)
{
    QByteArray out;
    if (run(QStringLiteral("pactl"), QStringList{"load-module"} + args, 10000, &out))
        m_module = QString::fromUtf8(out).trimmed();
}

PulseModule::~PulseModule()
{
    if (isLoaded())
        run(QStringLiteral("pactl"), {QStringLiteral("unload-module"), m_module}, 10000);
}

NullSink::NullSink(const QString &name)
    : PulseModule({"module-null-sink", "sink_name=" + name, "sink_properties=device.description=" + name}), m_name(name)
{
}

Microphone::Microphone(const QString &name, const NullSink &sink, const QString &description)
    : PulseModule({"module-remap-source", "master=" + sink.monitor(), "source_name=" + name,
                   "source_properties=device.description=" + description}),
      m_name(name)
{
}

bool Tone::start(const QString &sink, int frequency)
{
    stop();
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral("ffmpeg"),
                    QStringLiteral("-nostdin -loglevel error -re -f lavfi -i "
                                   "sine=frequency=%1:sample_rate=%2 -f pulse -device %3 tone")
                        .arg(frequency)
                        .arg(kSampleRate)
                        .arg(sink)
                        .split(' '));
    return m_process.waitForStarted(5000);
}

void Tone::stop()
{
    if (m_process.state() != QProcess::NotRunning)
        m_process.kill(), m_process.waitForFinished(5000);
}

QVector<qint16> samplesOf(const QStringList &inputArgs, int timeoutMs)
{
    QByteArray out;
    const QStringList args = QStringList{"-nostdin", "-loglevel", "error"} + inputArgs +
        QStringList{"-ac", "1", "-ar", QString::number(kSampleRate), "-f", "s16le", "-"};
    if (!run(QStringLiteral("ffmpeg"), args, timeoutMs, &out))
        return {};
    QVector<qint16> samples(out.size() / 2);
    memcpy(samples.data(), out.constData(), size_t(samples.size()) * 2);
    return samples;
}

QVector<qint16> recordSource(const QString &source, int ms)
{
    // Small fragments: the first ones otherwise come seconds late.
    return samplesOf({"-f", "pulse", "-fragment_size", "3528", "-i", source, "-t", QString::number(ms / 1000.0)},
                     ms + 15000);
}

double rms(const QVector<qint16> &samples)
{
    if (samples.isEmpty())
        return 0;
    double energy = 0;
    for (qint16 s : samples)
        energy += double(s) * s;
    return std::sqrt(energy / samples.size());
}

double tonePower(const QVector<qint16> &samples, double frequency)
{
    const int block = kSampleRate / 10;
    const double coefficient = 2 * std::cos(2 * M_PI * frequency / kSampleRate);
    double tone = 0;
    int blocks = 0;
    for (int start = 0; start + block <= samples.size(); start += block, ++blocks) {
        double s1 = 0, s2 = 0;
        for (int i = start; i < start + block; ++i) {
            const double s0 = samples[i] + coefficient * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        // A sine of amplitude A gives (A * block / 2)^2 here.
        tone += 2 * (s1 * s1 + s2 * s2 - coefficient * s1 * s2) / block;
    }
    return blocks ? tone / (double(blocks) * block) : 0;
}

double toneShare(const QVector<qint16> &samples, double frequency)
{
    const double level = rms(samples);
    if (level < 30)
        return 0;
    return qMin(1.0, tonePower(samples, frequency) / (level * level));
}

bool waitForTone(const QString &source, double frequency, int timeoutMs)
{
    return QTest::qWaitFor([&] { return toneShare(recordSource(source, 300), frequency) > 0.8; }, timeoutMs);
}

} // namespace testsupport

namespace testsupport {

Ear::Ear(const QString &sink)
{
    m_parec.start(
        QStringLiteral("parec"),
        {"-d", sink + ".monitor", "--raw", "--format=s16le", "--rate=8000", "--channels=1", "--latency-msec=20"});
    QObject::connect(&m_parec, &QProcess::readyReadStandardOutput, [this] { hear(m_parec.readAllStandardOutput()); });
}

void Ear::restart()
{
    m_heard = false;
    m_silent = 0;
    m_gaps.clear();
}

double Ear::longestGapMs() const
{
    return longestGapMs(-1e18, 1e18);
}

double Ear::longestGapMs(double from, double to) const
{
    int longest = 0;
    for (const auto &gap : m_gaps) {
        const double began = gap.first - gap.second * 0.01;
        if (began >= from && began < to)
            longest = std::max(longest, gap.second);
    }
    return longest * 10.0;
}

void Ear::hear(const QByteArray &bytes)
{
    const double now = QDateTime::currentMSecsSinceEpoch() / 1000.0;
    m_pending += bytes;
    const int block = 80 * 2;
    // Blocks that came together end at now, the last one latest.
    int blocks = m_pending.size() / block;
    while (m_pending.size() >= block) {
        --blocks;
        const auto *s = reinterpret_cast<const qint16 *>(m_pending.constData());
        int peak = 0;
        for (int i = 0; i < 80; ++i)
            peak = std::max(peak, std::abs(int(s[i])));
        m_pending.remove(0, block);
        if (peak > 1000) {
            if (m_heard && m_silent > 0)
                m_gaps.append({now - blocks * 0.01, m_silent});
            m_heard = true;
            m_silent = 0;
        } else {
            ++m_silent;
        }
    }
}

} // namespace testsupport
