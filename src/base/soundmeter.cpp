#include "base/soundmeter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {
constexpr float kFloorDb = -60.0f;
// A meter falls by this much per second of sound after its peak.
constexpr float kFallPerSecond = 1.5f;
} // namespace

void SoundMeter::setFormat(int sampleRate, int channels)
{
    if (sampleRate > 0)
        m_rate = sampleRate;
    if (channels > 0)
        m_channels = channels;
}

void SoundMeter::measure(const int16_t *samples, long long count)
{
    if (!samples || count <= 0)
        return;
    int peak = 0;
    for (long long i = 0; i < count; ++i)
        peak = std::max(peak, std::abs(int(samples[i])));
    const int rate = m_rate;
    const long long frames = count / std::max(1, m_channels.load());
    float position = 0;
    if (peak > 0) {
        const float db = 20.0f * std::log10(float(peak) / 32768.0f);
        position = std::clamp((db - kFloorDb) / -kFloorDb, 0.0f, 1.0f);
    }
    const float fallen = m_level.load() - kFallPerSecond * float(frames) / float(rate);
    m_level = std::max(position, std::max(0.0f, fallen));
    if (peak < kSilentPeak)
        m_silentSamples += frames;
    else
        m_silentSamples = 0;
    m_silentMs = m_silentSamples.load() * 1000 / rate;
}

float SoundMeter::level() const
{
    return m_level.load();
}

void SoundMeter::reset()
{
    m_level = 0;
    m_silentMs = 0;
    m_silentSamples = 0;
}
