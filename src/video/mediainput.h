#pragma once

// Opening inputs for the players: the address check, the interrupt callback
// that lets a stop (or a read deadline) abandon a blocking open or read, and
// the brief probing of live network inputs.

#include <QByteArray>
#include <QString>

struct AVFormatContext;
struct VideoState;

// Network inputs get a brief probe and an I/O deadline.
bool isNetworkAddress(const QString &url);
// Live inputs never end by themselves: a failed read is a hiccup. Streaming
// protocols are live; other network input is when its length is unknown.
bool isLiveInput(const QString &url, long long duration);

// The address as FFmpeg gets it (UTF-8, at most 1,279 bytes). An address
// that does not fit is refused with a logged error, never cut: returns false.
bool addressToPath(const QString &url, QByteArray *path);

// Interrupt callback: non-zero once quit is set or the state's I/O deadline
// has passed.
int decodeInterruptCallback(void *state);

enum class Probe {
    Default,   // FFmpeg's own probing
    Brief,     // live video: enough to know both streams and the picture size
    AudioOnly  // live audio: probesize 2,048 bytes, 500 microseconds
};

// Allocates, opens and probes an input; null on failure (messages printed and
// logged). deadlineMs bounds the whole open (0: only a stop abandons it).
AVFormatContext *openInput(VideoState *state, const QByteArray &path, Probe probe, int deadlineMs);

// Last video stream and first audio stream (-1 when missing).
int lastStreamOfType(AVFormatContext *input, int type);
int firstStreamOfType(AVFormatContext *input, int type);

// Reports a playback failure on standard output, Qt's debug output and the
// log at error level.
void reportPlaybackError(const char *message);

struct AVStream;
struct AVCodecContext;

// Finds, sets up and opens the decoder of a stream into *codec (kept when
// already open). threaded: let the decoder use every core; lowDelay: only
// slice threads, so a picture leaves the decoder with its own packet.
bool openStreamDecoder(AVStream *stream, AVCodecContext **codec, bool threaded, bool lowDelay = false);

struct AVPacket;

// Keeps a live network input playing across hiccups: once reads have failed
// for 3 s the input is closed and reopened, every 3 s until it plays again.
// The decoders carry on; each stream's first packet after a reopen brings the
// new stream's codec set-up as side data.
class InputReconnector
{
public:
    InputReconnector(VideoState *state, const QByteArray &path, Probe probe, bool needVideo);

    // Before a blocking read: a read silent for 3 s is abandoned.
    void armRead();
    // A read succeeded (or the reader chose not to read).
    void readOk();
    // A read failed: reopens when it is time; true when the input was
    // replaced (stream indexes in the state are updated).
    bool readFailed();
    // Attaches pending codec set-up to the first packet of its stream.
    void prepare(AVPacket *packet);

private:
    VideoState *m_state;
    QByteArray m_path;
    Probe m_probe;
    bool m_needVideo;
    long long m_lastGood;
    long long m_lastAttempt = 0;
    QByteArray m_videoExtra;
    QByteArray m_audioExtra;
};
