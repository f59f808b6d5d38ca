#pragma once

#include "peerprocess.h"

#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

namespace testsupport {

// A PulseAudio module of the test's own, loaded with these arguments; unloaded when destroyed.
class PulseModule
{
public:
    explicit PulseModule(const QStringList &args);
    ~PulseModule();
    PulseModule(const PulseModule &) = delete;
    PulseModule &operator=(const PulseModule &) = delete;
    bool isLoaded() const { return !m_module.isEmpty(); }

private:
    QString m_module;
};

// A PulseAudio null sink of the test's own. Whatever plays into it can be heard on its monitor, "NAME.monitor", which
// serves as a microphone (PULSE_SOURCE) or as an ear on a program's speakers (PULSE_SINK=NAME). Unloaded when
// destroyed.
class NullSink : public PulseModule
{
public:
    explicit NullSink(const QString &name);
    QString name() const { return m_name; }
    QString monitor() const { return m_name + QStringLiteral(".monitor"); }

private:
    QString m_name;
};

// A PulseAudio source of the test's own, described as description, that hears what plays into a null sink (its
// monitor remapped): a microphone that is not a monitor. Unloaded when destroyed.
class Microphone : public PulseModule
{
public:
    Microphone(const QString &name, const NullSink &sink, const QString &description);
    QString name() const { return m_name; }

private:
    QString m_name;
};

// A sine tone played into a sink in real time by the ffmpeg command line, until stopped or destroyed.
class Tone
{
public:
    ~Tone() { stop(); }
    bool start(const QString &sink, int frequency);
    void stop();

private:
    PeerProcess m_process;
};

// Hears a sink's monitor as it plays and notes its silences (10 ms steps,
// 8 kHz) with the wall clock time each ended at. The event loop must run.
class Ear
{
public:
    explicit Ear(const QString &sink);
    ~Ear() { m_parec.stop(); }
    // From now on only.
    void restart();
    // The longest silence between sounds so far.
    double longestGapMs() const;
    // The longest silence that began at or after from (wall clock seconds)
    // and before to.
    double longestGapMs(double from, double to) const;

private:
    void hear(const QByteArray &bytes);

    PeerProcess m_parec;
    QByteArray m_pending;
    bool m_heard = false;
    int m_silent = 0;
    // (wall clock seconds the silence ended, its length in 10 ms steps)
    QVector<QPair<double, int>> m_gaps;
};

constexpr int kSampleRate = 44100;

// 16-bit mono samples at kSampleRate of what the ffmpeg command line reads
// with these input arguments, e.g. {"-i", "file.flv"}; empty on failure.
QVector<qint16> samplesOf(const QStringList &inputArgs, int timeoutMs = 30000);
// ms of a PulseAudio source, e.g. a sink's monitor.
QVector<qint16> recordSource(const QString &source, int ms);

// Root mean square of the samples.
double rms(const QVector<qint16> &samples);
// The share (0 to 1) of the samples' energy that lies at frequency, taken
// in blocks of 0.1 s (Goertzel); 0 for silence (rms below 30).
double toneShare(const QVector<qint16> &samples, double frequency);

// Mean power per sample of the tone at frequency (Goertzel, in blocks of 0.1 s): A^2 / 2 for a sine of amplitude A.
double tonePower(const QVector<qint16> &samples, double frequency);

// Listens to a source in stretches of 0.3 s until the tone at frequency
// makes most of what it hears (share above 0.8); false after timeoutMs.
bool waitForTone(const QString &source, double frequency, int timeoutMs);

} // namespace testsupport
