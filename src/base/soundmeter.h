#pragma once

#include <atomic>
#include <cstdint>

// How loud a stream of 16-bit samples is, read from any thread: a meter's
// position that falls back slowly after a peak, and how long the stream has
// been silent.
class SoundMeter
{
public:
    // Peaks below this (-60 dBFS) count as silence: a muted or unplugged
    // microphone, not a quiet room.
    static constexpr int kSilentPeak = 33;

    // Takes interleaved samples heard now.
    void measure(const int16_t *samples, long long count);
    // Between 0 (silence, -60 dBFS and below) and 1 (full scale).
    float level() const;
    // Milliseconds of sound measured since something was last heard above
    // silence; counted in samples, so it follows the stream's own time.
    long long silentMs() const { return m_silentMs.load(); }
    void setFormat(int sampleRate, int channels);
    void reset();

private:
    std::atomic<float> m_level{0};
    std::atomic<long long> m_silentMs{0};
    std::atomic<long long> m_silentSamples{0};
    std::atomic<int> m_rate{44100};
    std::atomic<int> m_channels{2};
};
