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

// An address as FFmpeg gets it.
struct InputAddress
{
    QByteArray path; // UTF-8, at most 1,279 bytes
    const char *protocols = nullptr; // FFmpeg's protocol whitelist for it
    bool classStream = false; // an rtmp(s) class stream, else a local file
};

// Checks an address before FFmpeg sees it. A class stream (rtmp:// or
// rtmps:// with a host) is opened with the class stream protocols only; an
// address naming any other protocol is refused; a plain path is a local file
// (file protocol only), unless classStreamOnly, when it is refused too. An
// address that does not fit is refused, never cut. Refusals are printed
// and logged with their reason; returns false.
bool inputAddress(const QString &url, bool classStreamOnly, InputAddress *out);

// The address as a log line shows it: a class stream without its stream
// name, query or credentials; a local path as it is.
QByteArray addressForLog(const QString &url);

// Interrupt callback: non-zero once quit is set or the state's I/O deadline
// has passed.
int decodeInterruptCallback(void *state);

enum class Probe {
    Default, // FFmpeg's own probing
    Brief, // live video: enough to know both streams and the picture size
    AudioOnly // live audio: probesize 2,048 bytes, 500 microseconds
};

// Allocates, opens and probes an input, with the state's protocol whitelist
// (a local file's when none is set); null on failure (messages printed and
// logged). deadlineMs bounds the whole open (0: only a stop abandons it).
AVFormatContext *openInput(VideoState *state, const QByteArray &path, Probe probe, int deadlineMs);

// Last video stream and first audio stream (-1 when missing).
int lastStreamOfType(AVFormatContext *input, int type);
int firstStreamOfType(AVFormatContext *input, int type);

// Reports a playback failure to the log at error level.
void reportPlaybackError(const char *message);

struct AVStream;
struct AVCodecContext;

// Finds, sets up and opens the decoder of a stream into *codec (kept when
// already open). threaded: let the decoder use every core; lowDelay: only
// slice threads, so a picture leaves the decoder with its own packet.
bool openStreamDecoder(AVStream *stream, AVCodecContext **codec, bool threaded, bool lowDelay = false);
