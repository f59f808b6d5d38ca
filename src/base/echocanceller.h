#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace webrtc {
class AudioProcessing;
}

// Takes out of a microphone what the speakers played (WebRTC's audio
// processing: echo cancellation, noise suppression, automatic gain). The
// players hand it what they play from their sound thread; the capture hands
// it the microphone from its own thread, which alone runs the processing.
// The microphone comes back the same length, one 10 ms frame later.
class EchoCanceller
{
public:
    // The far end's sound is taken to reach the microphone this much after
    // it is handed to the sound device; the canceller finds the rest itself.
    static constexpr int kDelayMs = 60;
    // Far-end sound kept while the microphone is not read.
    static constexpr int kFarEndKeptMs = 500;

    // Null, with a line in the log, when it cannot start for this format.
    static std::shared_ptr<EchoCanceller> create(int sampleRate, int channels);
    ~EchoCanceller();
    EchoCanceller(const EchoCanceller &) = delete;
    EchoCanceller &operator=(const EchoCanceller &) = delete;

    // What the speakers are about to play: interleaved 16-bit samples.
    void played(const int16_t *samples, long long count, int sampleRate, int channels);
    // Cleans interleaved microphone samples in place. After an error it
    // leaves them as they are (told once in the log).
    void process(int16_t *samples, long long count);
    // The microphone is late by this much after process().
    int latencyMs() const { return 10; }
    bool failed() const { return m_failed; }

private:
    EchoCanceller(int sampleRate, int channels);
    bool start();
    void analyseFarEnd();
    bool processFrame();
    void fail(const char *what, int error);

    const int m_rate;
    const int m_channels;
    const int m_frame; // samples per channel in 10 ms
    std::unique_ptr<webrtc::AudioProcessing> m_apm;
    bool m_failed = false;

    // Far end, mono floats at its own rate, in 10 ms frames.
    struct FarFrame
    {
        int rate = 0;
        std::vector<float> mono;
    };
    std::mutex m_farLock;
    std::deque<FarFrame> m_farFrames;
    FarFrame m_farPartial;
    bool m_farRefused = false;

    // Near end, mono floats: what waits for a whole frame, and what is done.
    std::vector<float> m_nearIn;
    std::deque<float> m_nearOut;
};
