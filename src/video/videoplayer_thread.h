#pragma once

// Plays one media address: the live stream of a class or a local file. The
// reader (run) fills two packet queues, SDL's audio callback drains the audio
// one and keeps the audio clock, and the "video_thread" paces each picture
// against that clock and emits it as a 32-bit RGB QImage.

#include "video/playerstate.h"
#include "video/videostate.h"

#include <QImage>
#include <QString>
#include <QThread>

class VideoPlayer_Thread : public QThread
{
    Q_OBJECT

public:
    VideoPlayer_Thread();
    // Stops and waits, so that a player can be destroyed while it plays.
    ~VideoPlayer_Thread() override;

    bool startPlay(const QString &url);
    bool pause();
    bool play();
    bool stop(bool isWait);
    // Microseconds; a request made while one is pending is dropped.
    void seek(qint64 pos);
    // Seconds of the stream being heard now.
    double getCurrentTime();

    // Off: pictures as fast as they decode and no sound (diagnostics and
    // benchmarks). Takes effect at the next startPlay.
    void setSync(bool sync);
    PlayerState state() const { return playerState; }
    const VideoState &playbackState() const { return videoState; }

signals:
    void sig_GetOneFrame(QImage image);
    void sig_StateChanged(PlayerState state);
    void sig_TotalTimeChanged(qint64 uSec);

protected:
    void run() override;

private:
    bool readPackets(const QByteArray &path, bool live);
    void doSeek();
    void endRun(bool sdlAudio);

    QString url;
    VideoState videoState;
    PlayerState playerState = Stop;
    bool m_sync = true;
};
