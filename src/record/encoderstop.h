#pragma once

#include <QDateTime>
#include <atomic>
#include <chrono>

extern "C" {
#include <libavformat/avio.h>
}

// How an encoder thread is told to end. A stop lets it drain and close its
// output, but blocking output calls give up once a stalled server has had
// kGraceMs; an abort ends everything at once (destruction). A blocking call
// made while an I/O deadline is armed gives up once it has passed: a link that
// died without a reset would otherwise hold the writer for minutes.
class EncoderStop
{
public:
    static constexpr long long kGraceMs = 3000;

    // Connecting, and writing one packet, may take this long.
    static constexpr long long kIoMs = 5000;

    // A blocking output call under the I/O deadline. When it fails the
    // deadline stays: closing the dead output then gives up at once.
    template<typename Call> bool withinDeadline(Call call)
    {
        m_ioDeadline = steadyMs() + kIoMs;
        const bool ok = call();
        if (ok)
            m_ioDeadline = 0;
        return ok;
    }

    void reset()
    {
        m_ioDeadline = 0;
        m_aborted = false;
        m_requested = false;
    }
    void request()
    {
        if (!m_requested.exchange(true))
            m_atMs = QDateTime::currentMSecsSinceEpoch();
    }
    void abort()
    {
        m_aborted = true;
        m_requested = true;
    }
    bool requested() const { return m_requested.load(); }
    bool aborted() const { return m_aborted.load(); }

    // For FFmpeg's blocking I/O; lives as long as this object.
    AVIOInterruptCB interruptCallback() { return {&EncoderStop::interrupted, this}; }

private:
    static int interrupted(void *opaque)
    {
        auto *self = static_cast<EncoderStop *>(opaque);
        if (self->m_aborted)
            return 1;
        const long long deadline = self->m_ioDeadline;
        if (deadline != 0 && steadyMs() > deadline)
            return 1;
        return self->m_requested && QDateTime::currentMSecsSinceEpoch() - self->m_atMs > kGraceMs;
    }

    std::atomic<bool> m_requested{false};
    std::atomic<bool> m_aborted{false};
    std::atomic<long long> m_atMs{0};
    std::atomic<long long> m_ioDeadline{0};

    static long long steadyMs()
    {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
};
