#pragma once

#include "record/outputstream.h"

#include <QByteArray>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

struct AVFormatContext;
struct AVOutputFormat;
struct AVPacket;
extern "C" {
#include <libavformat/avio.h>
}

// An FLV output (file or RTMP address) with an H.264 video track (optional)
// and an AAC audio track; a local file named "*.mp4" (in any case) gets a
// fragmented MP4 instead. Set up in the caller's thread, connected and fed
// in the encoder thread. Encoded packets wait in a queue for a sending
// thread, so a slow link never holds up the encoders; its backlog tells the
// encoder to leave pictures out. Every written packet is flushed, so what a
// recording wrote before a crash stays playable.
class flvOutput
{
public:
    static constexpr int kFrameRate = 25;
    static constexpr int kSampleRate = 44100;
    static constexpr int kChannels = 2;
    // The class's video rate, a ceiling, and the rate control's buffer: two
    // seconds of it, so that a key picture of a page of text can be sharp.
    static constexpr int kVideoBitRate = 1650000;
    static constexpr int kVideoBufferBits = 2 * kVideoBitRate;
    static constexpr int kStagingBytes = 409600;
    // Room for an output name, terminating zero included.
    static constexpr int kOutputNameBytes = 128;
    // Connecting, and writing one packet, may take this long; then the
    // output has failed (a link that died without a reset).
    static constexpr int kIoMs = 5000;

    // Copies name into buffer; a name that does not fit is refused, never
    // cut, and leaves the buffer empty.
    static bool storeOutputName(char (&buffer)[kOutputNameBytes], const char *name);

    // Whether name is a local file that gets an MP4.
    static bool wantsMp4(const char *name);

    flvOutput();
    ~flvOutput();
    flvOutput(const flvOutput &) = delete;
    flvOutput &operator=(const flvOutput &) = delete;

    // Muxer and encoders; false (with a printed reason) when they cannot be
    // had. name (local 8-bit) is a class stream (rtmp:// or rtmps:// with a
    // host), always written as FLV with the class stream protocols only, or
    // a local file (file protocol only). A name with any other protocol is
    // refused, and so is a local file when classStreamOnly.
    bool setUp(const char *name, bool withVideo, int width, int height, bool classStreamOnly = false);
    // The name as a log line shows it (a class stream without its key).
    static QByteArray nameForLog(const char *name);
    // Opens the file or connection, writes the header and starts sending.
    // interrupt may abort a blocking connection or write.
    bool connect(const AVIOInterruptCB &interrupt);
    // Stream seconds encoded but not yet handed to the link; 0 for a file,
    // which waits for no one.
    double sendBacklog() const;
    // Encodes one YUV 4:2:0 picture (planes back to back) at the video
    // track's next time. False when the output cannot be written.
    bool writeVideo(const uint8_t *yuv);
    // Stages 16-bit interleaved stereo PCM and encodes every whole frame.
    bool writeAudio(const uint8_t *bytes, int size);
    // Whether a sound packet has been written (the first sets the start of
    // a class stream; see encodeAndWrite).
    bool soundStarted() const { return m_soundStarted; }
    // A class stream, not a local file (after setUp): written as it comes
    // rather than interleaved, and by a sender that may fall behind.
    bool isLive() const { return m_live; }
    // Drains the encoders (when drain) and writes the trailer.
    bool finish(bool drain);
    // Frees everything; the object can be set up again.
    void close();

    bool hasVideo() const { return m_hasVideo; }
    bool hasAudio() const { return m_hasAudio; }
    // The muxer's name ("flv", "mp4"); empty before setUp.
    const char *containerName() const;
    // The PCM bytes of one audio frame; 0 without a sound track.
    int audioFrameBytes() const { return m_audioFrameBytes; }

    // The video track's clock (needs a video track): one picture's length,
    // and the time of the next picture written.
    double videoFrameMs() const;
    double videoClockMs() const;
    // Moves the video clock forward to the picture due at ms, leaving out
    // the ones in between (a class stream that fell behind).
    void skipVideoTo(double ms);
    // Leaves the next picture out: its time passes with nothing encoded.
    void skipVideoPicture() { ++m_video.nextPts; }
    // The sound track's end, and one audio frame's length, in milliseconds
    // (needs a sound track).
    double audioClockMs() const;
    double audioFrameMs() const;

private:
    // A new stream with an encoder context for track.codec; null on failure.
    AVCodecContext *newTrack(OutputStream &track);
    // Opens the track's encoder once its context is filled in.
    bool openEncoder(OutputStream &track, const char *kind);
    bool addVideoStream(int width, int height);
    bool addAudioStream();
    bool encodeAndWrite(OutputStream &track, const AVFrame *frame);
    void freeTrack(OutputStream &track);
    void sendLoop();
    // Sends what is queued (until the output fails) and ends the sender.
    bool stopSending();
    static int interrupted(void *self);

    bool m_hasVideo = false;
    bool m_hasAudio = false;
    int m_audioFrameBytes = 0;
    OutputStream m_video;
    OutputStream m_audio;
    AVFormatContext *outputContext = nullptr;
    const AVOutputFormat *outputFormat = nullptr;
    uint8_t *stagingBuffer = nullptr;
    int stagingFill = 0;
    AVPacket *packet = nullptr;
    bool m_setUp = false;
    bool m_ioOpen = false;
    bool m_headerWritten = false;
    bool m_mp4 = false;
    bool m_live = false;
    bool m_soundStarted = false;
    // The time of the first packet handed to the sender (m_queuedAny).
    bool m_queuedAny = false;
    double m_firstSeconds = 0;
    const char *m_protocols = nullptr;

    AVIOInterruptCB m_interrupt{};
    std::atomic<long long> m_ioDeadline{0};
    std::thread m_sender;
    mutable std::mutex m_sendLock;
    std::condition_variable m_sendCond;
    // An encoded packet and its time in stream seconds.
    struct Queued
    {
        AVPacket *packet;
        double at;
    };
    // Under m_sendLock.
    std::deque<Queued> m_sendQueue;
    bool m_sendEnd = false;
    double m_queuedUntil = 0;
    double m_sentUntil = 0;
    std::atomic<bool> m_sendFailed{false};
};
