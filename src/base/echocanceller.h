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
// The microphone comes back in whole 10 ms frames: a device that hands over
// 10 ms at a time gets it back at once.
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
    // Takes count interleaved microphone samples and puts into out (replaced)
    // the whole frames cleaned so far; the rest waits for the next call.
    // After an error the sound comes through as it is (told once in the log).
    void process(const int16_t *samples, long long count, std::vector<int16_t> &out);
    // Samples per channel taken and not yet handed out: the first one out
    // of the next process() was heard that long before its own samples.
    long long held() const { return (long long)(m_nearIn.size()); }
    bool failed() const { return m_failed; }

private:
    EchoCanceller(int sampleRate, int channels);
    bool start();
    void analyseFarEnd();
    void processFrame(std::vector<int16_t> &out);
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

    // Near end, mono floats waiting for a whole frame, and a frame cleaned.
    std::vector<float> m_nearIn;
    std::vector<float> m_cleaned;
};
