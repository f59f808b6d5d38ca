#include "base/echocanceller.h"

#include "base/logging.h"

#include <webrtc/modules/audio_processing/include/audio_processing.h>

#include <algorithm>
#include <cmath>

std::shared_ptr<EchoCanceller> EchoCanceller::create(int sampleRate, int channels)
{
    // 10 ms must be whole samples, and the processing takes up to 48 kHz.
    if (sampleRate < 8000 || sampleRate > 48000 || sampleRate % 100 != 0 || channels < 1 || channels > 8) {
        TAVI_LOG_WARN("echo cancellation: cannot take " << sampleRate << " Hz with " << channels
                                                        << " channels; the microphone stays as it is");
        return nullptr;
    }
    std::shared_ptr<EchoCanceller> canceller(new EchoCanceller(sampleRate, channels));
    if (!canceller->start())
        return nullptr;
    return canceller;
}

EchoCanceller::EchoCanceller(int sampleRate, int channels)
    : m_rate(sampleRate), m_channels(channels), m_frame(sampleRate / 100)
{
    m_nearIn.reserve(size_t(m_frame) * 2);
}

EchoCanceller::~EchoCanceller() = default;

bool EchoCanceller::start()
{
    webrtc::Config config;
    // Sound devices and sound servers report their delays poorly; the
    // canceller finds the echo's delay itself, over a longer filter.
    config.Set<webrtc::ExtendedFilter>(new webrtc::ExtendedFilter(true));
    config.Set<webrtc::DelayAgnostic>(new webrtc::DelayAgnostic(true));
    m_apm.reset(webrtc::AudioProcessing::Create(config));
    if (!m_apm) {
        TAVI_LOG_WARN("echo cancellation: the audio processing does not start; the microphone stays as it is");
        return false;
    }
    const int errors[] = {
        m_apm->high_pass_filter()->Enable(true),
        m_apm->echo_cancellation()->enable_drift_compensation(false),
        m_apm->echo_cancellation()->set_suppression_level(webrtc::EchoCancellation::kHighSuppression),
        m_apm->echo_cancellation()->Enable(true),
        m_apm->noise_suppression()->set_level(webrtc::NoiseSuppression::kModerate),
        m_apm->noise_suppression()->Enable(true),
        m_apm->gain_control()->set_mode(webrtc::GainControl::kAdaptiveDigital),
        m_apm->gain_control()->Enable(true),
    };
    for (int error : errors)
        if (error != webrtc::AudioProcessing::kNoError) {
            TAVI_LOG_WARN("echo cancellation: set-up refused (" << error << "); the microphone stays as it is");
            return false;
        }
    return true;
}

void EchoCanceller::played(const int16_t *samples, long long count, int sampleRate, int channels)
{
    if (!samples || count <= 0 || channels < 1)
        return;
    std::lock_guard<std::mutex> lock(m_farLock);
    if (sampleRate < 8000 || sampleRate > 48000 || sampleRate % 100 != 0) {
        if (!m_farRefused)
            TAVI_LOG_WARN("echo cancellation: the speakers play at "
                          << sampleRate << " Hz, which it cannot take; nothing is taken out");
        m_farRefused = true;
        return;
    }
    const size_t frame = size_t(sampleRate / 100);
    if (m_farPartial.rate != sampleRate)
        m_farPartial = FarFrame{sampleRate, {}};
    for (long long i = 0; i + channels <= count; i += channels) {
        float sum = 0;
        for (int c = 0; c < channels; ++c)
            sum += samples[i + c];
        m_farPartial.mono.push_back(sum / float(channels) / 32768.0f);
        if (m_farPartial.mono.size() == frame) {
            m_farFrames.push_back(std::move(m_farPartial));
            m_farPartial = FarFrame{sampleRate, {}};
            m_farPartial.mono.reserve(frame);
        }
    }
    // Nobody reads the microphone: only the latest far end matters.
    while (m_farFrames.size() > size_t(kFarEndKeptMs / 10))
        m_farFrames.pop_front();
}

void EchoCanceller::analyseFarEnd()
{
    std::deque<FarFrame> frames;
    {
        std::lock_guard<std::mutex> lock(m_farLock);
        frames.swap(m_farFrames);
    }
    for (FarFrame &frame : frames) {
        if (m_failed)
            return;
        const webrtc::StreamConfig config(frame.rate, 1);
        float *channel = frame.mono.data();
        const int error = m_apm->ProcessReverseStream(&channel, config, config, &channel);
        if (error != webrtc::AudioProcessing::kNoError)
            fail("the far end", error);
    }
}

void EchoCanceller::processFrame(std::vector<int16_t> &out)
{
    // Cleaned into a frame of its own: after an error the sound goes on as it came.
    const float *heard = m_nearIn.data();
    const float *sent = heard;
    if (!m_failed)
        analyseFarEnd();
    if (!m_failed) {
        const webrtc::StreamConfig config(m_rate, 1);
        m_cleaned.resize(size_t(m_frame));
        float *cleaned = m_cleaned.data();
        m_apm->set_stream_delay_ms(kDelayMs);
        const int error = m_apm->ProcessStream(&heard, config, config, &cleaned);
        if (error == webrtc::AudioProcessing::kNoError)
            sent = cleaned;
        else
            fail("the microphone", error);
    }
    for (int i = 0; i < m_frame; ++i) {
        const auto sample = int16_t(std::lround(std::clamp(sent[i], -1.0f, 1.0f) * 32767.0f));
        out.insert(out.end(), size_t(m_channels), sample);
    }
    m_nearIn.erase(m_nearIn.begin(), m_nearIn.begin() + m_frame);
}

void EchoCanceller::process(const int16_t *samples, long long count, std::vector<int16_t> &out)
{
    out.clear();
    if (!samples || count <= 0)
        return;
    const long long frames = count / m_channels;
    for (long long i = 0; i < frames; ++i) {
        float sum = 0;
        for (int c = 0; c < m_channels; ++c)
            sum += samples[i * m_channels + c];
        m_nearIn.push_back(sum / float(m_channels) / 32768.0f);
    }
    while (m_nearIn.size() >= size_t(m_frame))
        processFrame(out);
}

void EchoCanceller::fail(const char *what, int error)
{
    if (!m_failed)
        TAVI_LOG_WARN("echo cancellation: " << what << " was refused (" << error
                                            << "); the microphone goes on as it is");
    m_failed = true;
}
