#pragma once

// Plays one media address: the live stream of a class or a local file. The
// reader (run) fills two packet queues, SDL's audio callback drains the audio
// one and keeps the audio clock, and the "video_thread" paces each picture
// against that clock and emits it as a 32-bit RGB QImage.

#include "video/playerthread.h"

class VideoPlayer_Thread : public PlayerThread
{
    Q_OBJECT

public:
    VideoPlayer_Thread();
    // Stops and waits, so that a player can be destroyed while it plays.
    ~VideoPlayer_Thread() override;

    // Microseconds; a request made while one is pending is dropped.
    void seek(qint64 pos);
    // Seconds of the stream being heard now.
    double getCurrentTime();

    // Off: pictures as fast as they decode and no sound (diagnostics and
    // benchmarks). Takes effect at the next startPlay.
    void setSync(bool sync);
    // A rendition being left closes its input and plays out what it holds,
    // leaving the link to its successor (for this run; cleared, it opens
    // the input again).
    void setLeaving(bool leaving)
    {
        videoState.leaving = leaving;
        videoState.wake();
    }
    const VideoState &playbackState() const { return videoState; }

protected:
    void run() override;
    void beforeStart() override { videoState.sync = m_sync; }

private:
    VideoState videoState;
    bool m_sync = true;
};
