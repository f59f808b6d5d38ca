#pragma once

#include "video/mediainput.h"

#include <QByteArray>

struct AVPacket;

// Tells the state's player whether its input gives data
// (sig_inputFlowing(bool)): true once it opened, false when a live input
// stops giving any, true again when it gives again.
void tellInputFlowing(VideoState *state, bool flowing);

// Keeps a live network input playing across hiccups: a failed read is tried
// again after a pause that doubles each time, and once reads have failed for
// 3 s the input is closed and reopened, every 2 s until it plays again (as
// a publisher tries again). The
// decoders carry on; each stream's first packet after a reopen brings the
// new stream's codec set-up as side data. The pauses end at once on a stop.
// A live input that falls further behind its live edge than a bound (a link
// slower than the stream) is reopened as well: the server then sends from
// its newest pictures, and what waited on the way is dropped. The old input
// is let go of first, so that it leaves a slow link to the new one, and what
// the player still holds of it is dropped once the new one opened.
// A file is not live: a failed read there marks the end of the input.
class InputReconnector
{
public:
    // A live input silent this long is taken for gone (and reopened).
    static constexpr int kSilentReadMs = 3000;

    InputReconnector(VideoState *state, const QByteArray &path, Probe probe, bool needVideo, bool live);

    // Reads the next packet: true when one came. Otherwise the end of a file
    // was marked (readEnded), or a live input waited or was reopened (stream
    // indexes in the state updated); the reader checks quit and reads again.
    bool read(AVPacket *packet);
    // Closes a live input the player is leaving: its link then carries
    // nothing more for it. The next read opens it again.
    void letGo();
    // The reader did not read for a while (full queue, pause): silence from
    // a live input meanwhile does not count.
    void rested();

private:
    // Before a blocking read: a read silent for 3 s is abandoned.
    void armRead();
    void readOk();
    // Reopens when it is time; true when the input was replaced.
    bool readFailed();
    bool reopen(const char *why);
    // How far the packet came behind the live edge: its arrival against
    // its time, beside the least that has been seen.
    bool fallenBehind(double pts);
    // Waits before the next read of a failing input (or until a stop).
    void waitToRetry();
    // Attaches pending codec set-up to the first packet of its stream.
    void prepare(AVPacket *packet);

    VideoState *m_state;
    QByteArray m_path;
    Probe m_probe;
    bool m_needVideo;
    bool m_live;
    long long m_lastGood;
    long long m_lastAttempt = 0;
    int m_retryMs = 0;
    // Reads have failed since the last packet (the player was told).
    bool m_lost = false;
    // The input was let go of (letGo) and not opened since.
    bool m_letGo = false;
    double m_leastLag = 1e300;
    double m_lastPts = 0;
    long long m_behindSince = 0;
    QByteArray m_videoExtra;
    QByteArray m_audioExtra;
};
