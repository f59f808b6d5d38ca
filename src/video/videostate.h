#pragma once

#include "base/echocanceller.h"
#include "base/soundmeter.h"

// Playback record shared by a player's threads: the GUI thread (the
// operations), the reader (run), the video thread and SDL's audio callback.
// Fields are grouped by the thread that writes them. Plain fields have one
// writer and are read by others only after a hand-over (a thread start, a
// queued packet); what is read while it changes is an atomic. Whoever changes
// something a thread may wait for calls wake().

#include "video/packetqueue.h"

#include <SDL2/SDL_audio.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/samplefmt.h>
}

struct SwrContext;
struct SDL_Thread;
class QObject;

struct AudioParams
{
    AVSampleFormat format = AV_SAMPLE_FMT_NONE;
    int channels = 0;
    int64_t channelLayout = 0;
    int sampleRate = 0;
};

constexpr int kAudioBufferStoreSize = 768000;
constexpr int kAudioQueueLimit = 0x64000;
constexpr int kVideoQueueLimit = 0x640000;
constexpr int kAddressLimit = 1279;
// Live input: more queued audio than this (seconds) is dropped down to the
// lower mark; pictures paced by the wall clock are kept as close.
constexpr double kLiveBacklogHigh = 0.25;
constexpr double kLiveBacklogLow = 0.1;
// Below that, the sound ahead of the device is drained by playing it a
// little faster: the least it came to over a while (what the arrivals'
// jitter needs) is brought down to this mark, whatever it was at the start.
constexpr double kLiveLevelLow = 0.03;
constexpr double kLiveLevelWindow = 1.0;
constexpr double kLiveDrainRate = 0.05;

struct alignas(16) VideoState
{
    // The reader, while it opens the input, before the video thread and the
    // sound device start; read-only for them afterwards. Reopening a live
    // input replaces the input, the streams and their indexes: the other
    // threads use only the codecs and time bases, never the streams.
    AVFormatContext *formatContext = nullptr;
    // FFmpeg's protocol whitelist for the input (see inputAddress).
    const char *protocols = nullptr;
    int videoStreamIndex = -1;
    int audioStreamIndex = -1;
    AVStream *audioStream = nullptr;
    AVStream *videoStream = nullptr;
    // FFmpeg 5 keeps decoders apart from the streams.
    AVCodecContext *audioCodec = nullptr;
    AVCodecContext *videoCodec = nullptr;
    AVRational audioTimeBase{0, 1};
    AVRational videoTimeBase{0, 1};
    double frameDuration = 0.04;
    AudioParams audioTarget;
    int audioDeviceBufferSize = 0;
    // Set when the audio output opened a device for this run.
    bool audioOpen = false;
    SDL_Thread *videoThread = nullptr;
    QObject *player = nullptr;
    // The reader opens and closes the device; the GUI thread reads it.
    std::atomic<SDL_AudioDeviceID> audioDeviceId{0};

    // Reader puts, the video thread and the audio callback take; each under
    // its own mutex.
    PacketQueue audioQueue;
    PacketQueue videoQueue;

    // The audio callback only (SDL's device thread).
    AVFrame *audioFrame = nullptr;
    AVPacket *audioPacket = nullptr;
    const uint8_t *audioPacketData = nullptr;
    int audioPacketLeft = 0;
    // The decoder may hold more frames of the packet already sent.
    bool audioDecoderPending = false;
    unsigned int audioBufferSize = 0;
    unsigned int audioBufferIndex = 0;
    uint8_t *audioBuffer = nullptr;
    alignas(16) uint8_t audioBufferStore[kAudioBufferStoreSize];
    AudioParams audioSource;
    SwrContext *resampler = nullptr;
    // Live input: audio is being dropped until the backlog is small.
    bool audioCatchingUp = false;
    // Live input: the least sound ahead of the device since windowStart
    // (seconds), and whether it is being played faster to bring it down.
    double audioLevelLeast = 1e9;
    double audioLevelWindowStart = 0;
    bool audioDraining = false;

    // Clocks, in stream seconds (atomics). audioClock: the audio callback.
    // videoClock: the video thread; the reader resets it after a seek.
    std::atomic<double> audioClock{0};
    std::atomic<double> videoClock{0};
    // Device play position = playClockOffset + steadySeconds(), held back
    // at handedClock (the end of the audio the device has been given).
    // Written by the audio callback; by the video thread while pictures
    // follow the wall clock; the reader invalidates them after a seek.
    // A change made from its own value goes through changePlayClock, never
    // a load and a store: the other thread may set it in between.
    std::atomic<double> playClockOffset{0};
    std::atomic<bool> playClockValid{false};
    std::atomic<double> handedClock{0};
    // The audio has played out after the end of input (or never opened):
    // pictures then follow the wall clock. The audio callback; the reader
    // clears it after a seek.
    std::atomic<bool> audioDone{false};
    // Moves of the play clock other than with time (a first anchor, a
    // jump, the end of the audio), counted by the audio callback, which
    // wakes the video thread for each. clockWaiter: the video thread waits
    // for the next audio handed to the device, which then counts as a move.
    std::atomic<int> clockMoves{0};
    std::atomic<bool> clockWaiter{false};

    // The GUI thread (atomics). quit is also set by the threads when the
    // input ends or the run closes; see requestQuit().
    std::atomic<bool> paused{false};
    std::atomic<bool> quit{false};
    // Set by the GUI thread (seekPosition first), cleared by the reader.
    std::atomic<int> seekRequest{0};
    std::atomic<int64_t> seekPosition{0};
    // Pictures follow the audio clock; off: as fast as they decode.
    std::atomic<bool> sync{true};
    // Loudness of what is played, 0 (silent) to 100 (as decoded); kept
    // from run to run.
    std::atomic<int> volume{100};
    // What is played, before the volume: read by anyone.
    SoundMeter soundMeter;
    // Hears what the speakers play, to take it out of a microphone; only
    // through std::atomic_load/atomic_store, the callback reads it.
    std::shared_ptr<EchoCanceller> echoCanceller;
    // The area pictures are shown in, in device pixels (width << 32 |
    // height; 0: their own size); kept from run to run.
    std::atomic<int64_t> displayArea{0};

    // The reader (atomics), for the decoders.
    // The reader's last read failed at the end of a file.
    std::atomic<bool> readEnded{false};
    // Seek target in seconds; the flags are set by the reader and cleared by
    // the decoder that reaches the target.
    std::atomic<double> seekTime{0};
    std::atomic<int> seekFlagAudio{0};
    std::atomic<int> seekFlagVideo{0};
    // Counts seeks: a picture waiting for its turn when a seek comes is
    // dropped.
    std::atomic<int> seekSerial{0};
    // Set after a seek: the callback drops the audio it holds from before
    // it, so the clock does not jump back to the old position; the callback
    // clears it.
    std::atomic<bool> audioFlushPending{false};
    // Set once the reader is done with the audio: the callback then returns
    // silence without touching anything else.
    std::atomic<bool> audioStopped{false};
    // Steady-clock milliseconds after which a blocking read is abandoned;
    // 0 for none.
    std::atomic<int64_t> ioDeadline{0};
    // Live input: the player stays close to the newest data instead of
    // playing out what piled up (the probe, a sound device that started
    // late, a stall). The reader notes the end of the newest audio and the
    // time of the newest picture it queued, in stream seconds.
    std::atomic<bool> live{false};
    std::atomic<double> audioQueuedEnd{0};
    std::atomic<double> videoQueuedPts{0};
    // Live input, for whoever chooses between renditions of a class: how
    // often the reader reopened because the input fell behind its live edge,
    // and how far behind the newest timed packet came (seconds over the
    // least lag seen). A rendition being left (set by the GUI thread, with
    // wake()) closes its input, so that the link goes to its successor; what
    // it holds plays out.
    std::atomic<int> behindReopens{0};
    std::atomic<double> behindEdge{0};
    std::atomic<bool> leaving{false};

    // Ends of the threads (atomics): the reader sets readerFinished, the
    // video thread decoderFinished (the audio-only player's callback sets it
    // when it has stopped). The GUI thread sets both before a run starts.
    std::atomic<bool> readerFinished{true};
    std::atomic<bool> decoderFinished{true};

    // Back to the state of a fresh run; queues and buffers are released.
    // Flags that the caller's thread owns (quit, paused, finished) are left.
    void reset();
    // Frees everything a run allocated (queues, frames, resampler, codecs,
    // input). The device must be closed and the threads ended.
    void release();

    // Stop requested, or playback ended: every thread waiting on the record
    // or its queues wakes up and leaves.
    void requestQuit();
    // Wakes the threads that wait for a change (wait(), waitUntil()).
    void wake();
    // Sets playClockOffset to change(its value) in one compare-and-swap
    // (change may run more than once); returns the value it replaced.
    template<class Change> double changePlayClock(Change change)
    {
        double seen = playClockOffset.load();
        while (!playClockOffset.compare_exchange_weak(seen, change(seen))) {}
        return seen;
    }
    // Moves the play clock by seconds.
    void shiftPlayClock(double seconds)
    {
        changePlayClock([seconds](double offset) { return offset + seconds; });
    }
    // Waits until done() holds; done is checked under the waiting lock.
    template<class Done> void wait(Done done)
    {
        std::unique_lock<std::mutex> lock(m_waitMutex);
        m_waitCond.wait(lock, done);
    }
    // Waits until done() holds (true) or the deadline has passed (false).
    template<class Done> bool waitUntil(Done done, std::chrono::steady_clock::time_point deadline)
    {
        std::unique_lock<std::mutex> lock(m_waitMutex);
        return m_waitCond.wait_until(lock, deadline, done);
    }

private:
    std::mutex m_waitMutex;
    std::condition_variable m_waitCond;
};

// Milliseconds of a steady clock, for deadlines and the play clock.
int64_t steadyMs();
double steadySeconds();
// The steady-clock moment that many seconds from now.
std::chrono::steady_clock::time_point steadyAfter(double seconds);

// What the listener hears now, in seconds of stream time.
double playPosition(const VideoState *state);
// Whether playPosition is held back by the audio not yet handed to the
// device, rather than moving with time.
bool playPositionHeld(const VideoState *state);

// Takes a packet from one of the state's queues; a take that brings the
// queue to its limit wakes the reader. Results as packetQueueGet.
int takePacket(VideoState *state, PacketQueue *queue, int limit, AVPacket *out, bool block);

// A display area as VideoState::displayArea holds it.
inline int64_t packDisplayArea(int width, int height)
{
    return width > 0 && height > 0 && width <= 65536 && height <= 65536 ? (int64_t(width) << 32 | int64_t(height)) : 0;
}
