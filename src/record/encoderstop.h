#pragma once

#include <QDateTime>
#include <atomic>

extern "C" {
#include <libavformat/avio.h>
}

// How an encoder thread is told to end. A stop lets it drain and close its
// output, but blocking output calls give up once a stalled server has had
// kGraceMs; an abort ends everything at once (destruction).
class EncoderStop
{
public:
    static constexpr long long kGraceMs = 3000;

    void reset()
    {
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
        return self->m_requested && QDateTime::currentMSecsSinceEpoch() - self->m_atMs > kGraceMs;
    }

    std::atomic<bool> m_requested{false};
    std::atomic<bool> m_aborted{false};
    std::atomic<long long> m_atMs{0};
};
