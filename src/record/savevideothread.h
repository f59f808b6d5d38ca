#pragma once

#include "record/audiochunklist.h"
#include "record/encoderstop.h"
#include "record/flvoutput.h"
#include "record/videoframequeue.h"

#include <QByteArray>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

// Encodes captured pictures and microphone samples into one FLV stream
// (H.264 + AAC, 25 pictures per second) written to a file or published to
// an RTMP address. Created once and reused for every recording.
class saveVideoThread : public QThread
{
    Q_OBJECT
public:
    // Room for the output name, terminating zero included.
    static constexpr int kOutputNameBytes = flvOutput::kOutputNameBytes;

    explicit saveVideoThread(QObject *parent = nullptr);
    ~saveVideoThread() override;

    // False (and the name left empty) when name does not fit kOutputNameBytes.
    bool setOutputName(const char *name);
    QByteArray outputName() const { return QByteArray(m_outputName); }
    // Publishes to class streams only, never into a local file (see
    // flvOutput::setUp). For later startEncoding calls.
    void setClassStreamOnly(bool only) { m_classStreamOnly = only; }
    void setVideoSize(int width, int height);

    // Clears what an earlier recording left queued, sets up the muxer and
    // encoders and starts the loop. False when the set-up fails or the
    // previous recording is still running.
    bool startEncoding();
    // Drain the queues, write the trailer and finish.
    void stopEncoding();

    // The captures that feed a recording. startEncoding expects both; the
    // recording drains and finishes once both have told their end, so the
    // last pictures and samples of either are never cut off.
    enum Capture {
        PictureCapture = 1,
        SoundCapture = 2
    };
    // Called by a capture after its last push.
    void captureEnded(Capture capture);
    bool stopRequested() const { return m_stop.requested(); }
    // Whether the last recording ended because its output failed.
    bool outputFailed() const { return m_outputFailed.load(); }

    // bytes: the size of a buffer from pictureBuffer(), 0 for another one.
    void pushVideoFrame(uint8_t *data, int timestampMs, int bytes = 0);
    uint8_t *pictureBuffer(int bytes) { return m_videoQueue.takeBuffer(bytes); }
    void giveBackPictureBuffer(uint8_t *data, int bytes) { m_videoQueue.giveBackBuffer(data, bytes); }
    void pushAudioChunk(uint8_t *data, int size);
    VideoFrameNode *takeVideoFrame(double tMs);

    VideoFrameQueue &videoQueue() { return m_videoQueue; }
    AudioChunkList &audioChunks() { return m_audioChunks; }

    // Time of the next video frame in milliseconds (read by the capture).
    std::atomic<double> videoClockMs{0.0};

    struct Stats
    {
        long long captured = 0;
        long long encoded = 0;
        long long repeated = 0;
        long long linkSkipped = 0; // left out while the link was behind
        long long staleDropped = 0;
        long long overflowDropped = 0;
        long long audioChunks = 0;
        long long audioDropped = 0;
        int videoHighWater = 0;
        int audioHighWater = 0;
    };
    Stats stats() const;

signals:
    // The output could not be opened or written; emitted from the loop.
    void sig_outputFailed();

protected:
    void run() override;

private:
    // What one turn of the loop did.
    enum Step {
        Wrote,
        Waited,
        Finished,
        Failed
    };
    Step videoStep();
    Step audioStep();
    // The two tracks end together at the stop: the last picture lasts until
    // the end of the sound, or silence fills the sound up to the end of the
    // last picture. False when the output fails.
    bool endTracksTogether();
    // A class stream's pictures wait for its first sound, which sets the
    // stream's start (FLV takes no sound before it).
    bool waitsForSound() const;
    // Ends the loop's wait (a push, a stop, the end).
    void wakeLoop();
    // Waits until something happened after wakes() gave seen.
    void waitForWake(long long seen);
    void finishRun(bool drain);
    // Most pictures queued for the encoder, of the video size set.
    int pictureLimit(bool live) const;

    flvOutput m_output;
    VideoFrameQueue m_videoQueue;
    AudioChunkList m_audioChunks;
    char m_outputName[kOutputNameBytes] = {};
    bool m_classStreamOnly = false;
    int m_videoWidth = 0;
    int m_videoHeight = 0;
    EncoderStop m_stop;
    // The Capture bits of the captures that have not ended yet.
    std::atomic<int> m_capturesRunning{0};
    std::atomic<bool> m_outputFailed{false};
    std::atomic<long long> m_encoded{0};
    // Counts pushes and stops: the loop serves both tracks as their input
    // comes, never waiting on one while the other has something.
    std::mutex m_wakeMutex;
    std::condition_variable m_wakeCond;
    long long m_wakes = 0;
    std::atomic<long long> m_repeated{0};
    std::atomic<long long> m_linkSkipped{0};
};
