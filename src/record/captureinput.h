#pragma once

#include <QString>

extern "C" {
#include <libavutil/avutil.h>
}

struct AVCodecContext;
struct AVDictionary;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
class CaptureRun;

// An FFmpeg input (a capture device, or a file in tests) opened for one
// media type: its first stream of that type and the stream's decoder.
class CaptureInput
{
public:
    enum Result {
        Ready,
        // The device did not open, or has no stream of the type.
        InputFailed,
        // Its stream cannot be decoded.
        DecoderFailed
    };

    CaptureInput() = default;
    ~CaptureInput() { close(); }
    CaptureInput(const CaptureInput &) = delete;
    CaptureInput &operator=(const CaptureInput &) = delete;

    // formatName null: guessed from url. Options left unused stay in
    // *options. Logs why it failed.
    Result open(const char *formatName, const QString &url, AVMediaType type, AVDictionary **options = nullptr);
    void close();
    bool isOpen() const { return m_decoder != nullptr; }

    AVCodecContext *decoder() const { return m_decoder; }
    // A frame to decode into, owned by the input.
    AVFrame *frame() const { return m_frame; }
    // Milliseconds of a time stamp of the stream.
    long long toMs(int64_t pts) const;

    // The next packet of the stream; false when there is none to use: a
    // failed read pauses 10 ms before the next try, a packet read while
    // paused (the device is still read at its own pace) or of another
    // stream is dropped.
    bool read(AVPacket *packet, bool paused, CaptureRun &run);
    // FFmpeg's error of the last open or read that failed (0 after one that
    // did not): a device another program holds, one unplugged, a file's end.
    int lastError() const { return m_lastError; }

private:
    AVFormatContext *m_format = nullptr;
    int m_stream = -1;
    AVCodecContext *m_decoder = nullptr;
    AVFrame *m_frame = nullptr;
    // Logs a failed read once per run of failures, not every 10 ms.
    bool m_readFailing = false;
    int m_lastError = 0;
};
