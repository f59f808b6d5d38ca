#pragma once

#include "video/mediainput.h"

#include <QByteArray>

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
