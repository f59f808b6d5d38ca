#pragma once

// The sound's time code: a click a second played into the teacher's
// microphone (a null sink's monitor), and the moments each click is heard on
// the microphone and on the student's speakers (another null sink's monitor).
// Both ears record the same way, so their own delay cancels out.

#include <QElapsedTimer>
#include <QMutex>
#include <QVector>

#include <pulse/error.h>
#include <pulse/simple.h>

#include <atomic>
#include <cstdlib>
#include <thread>

namespace soundcode {

constexpr int kRate = 44100;
// Clicks a second apart: any delay below a second pairs a click with its echo.
constexpr int kIntervalMs = 1000;

// The ffmpeg arguments that play the clicks (30 ms of 1 kHz) into sink.
inline QStringList clickArgs(const QString &sink)
{
    return {"-nostdin", "-loglevel",
            "error",    "-re",
            "-f",       "lavfi",
            "-i",       QStringLiteral("aevalsrc=if(lt(mod(t\\,1)\\,0.03)\\,0.8*sin(2*PI*1000*t)\\,0):s=%1").arg(kRate),
            "-f",       "pulse",
            "-device",  sink,
            "clicks"};
}

// Records a PulseAudio source in 5 ms blocks on a thread of its own and
// notes the bench clock's milliseconds at each click's start.
class Ear
{
public:
    Ear(const QElapsedTimer &clock, const QString &source) : m_clock(clock), m_source(source.toUtf8()) {}
    ~Ear() { stop(); }

    bool start()
    {
        const pa_sample_spec format{PA_SAMPLE_S16LE, kRate, 1};
        pa_buffer_attr attr{};
        attr.maxlength = uint32_t(-1);
        attr.fragsize = kBlock * 2;
        int error = 0;
        m_pulse = pa_simple_new(nullptr, "tavi-bench-latency", PA_STREAM_RECORD, m_source.constData(), "ear", &format,
                                nullptr, &attr, &error);
        if (!m_pulse)
            return false;
        m_running = true;
        m_thread = std::thread([this] { listen(); });
        return true;
    }
    void stop()
    {
        m_running = false;
        if (m_thread.joinable())
            m_thread.join();
        if (m_pulse)
            pa_simple_free(m_pulse);
        m_pulse = nullptr;
    }
    QVector<double> onsets() const
    {
        QMutexLocker lock(&m_mutex);
        return m_onsets;
    }
    void reset()
    {
        QMutexLocker lock(&m_mutex);
        m_onsets.clear();
    }

private:
    static constexpr int kBlock = kRate / 200;
    static constexpr int kLoud = 4000;
    // Quiet this long before a loud sample makes it a click's start.
    static constexpr int kQuietSamples = kRate / 4;

    void listen()
    {
        int16_t block[kBlock];
        long quiet = 0;
        while (m_running) {
            if (pa_simple_read(m_pulse, block, sizeof(block), nullptr) < 0)
                return;
            const double end = double(m_clock.nsecsElapsed()) / 1e6;
            for (int i = 0; i < kBlock; ++i) {
                if (std::abs(int(block[i])) < kLoud) {
                    ++quiet;
                    continue;
                }
                if (quiet >= kQuietSamples) {
                    QMutexLocker lock(&m_mutex);
                    m_onsets << end - double(kBlock - i) * 1000.0 / kRate;
                }
                quiet = 0;
            }
        }
    }

    const QElapsedTimer &m_clock;
    const QByteArray m_source;
    pa_simple *m_pulse = nullptr;
    std::atomic<bool> m_running{false};
    std::thread m_thread;
    mutable QMutex m_mutex;
    QVector<double> m_onsets;
};

// Each click heard at the speakers paired with its start at the microphone:
// the sound's delay in ms, with the microphone's moment.
struct Heard
{
    double atMicrophone;
    double delay;
};
inline QVector<Heard> pair(const QVector<double> &microphone, const QVector<double> &speakers)
{
    QVector<Heard> heard;
    for (double out : speakers) {
        double best = -1;
        for (double in : microphone)
            if (in < out && out - in < kIntervalMs)
                best = in;
        if (best >= 0)
            heard.append({best, out - best});
    }
    return heard;
}

} // namespace soundcode
