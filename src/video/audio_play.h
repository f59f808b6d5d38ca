#pragma once

// Plays only the sound of an address: in a one-to-one class, the teacher
// hears the student's microphone, published as a live audio stream.

#include "video/audiooutput.h"
#include "video/playerstate.h"

#include <QImage>
#include <QString>
#include <QThread>

class AudioPlayer : public QThread
{
    Q_OBJECT

public:
    AudioPlayer();
    ~AudioPlayer() override;

    bool startPlay(const QString &url);
    bool pause();
    bool play();
    bool stop(bool isWait);

    PlayerState state() const { return playerState; }
    const VideoAudioState &playbackState() const { return videoState; }

signals:
    void sig_GetOneFrame(QImage image);
    void sig_StateChanged(PlayerState state);
    void sig_TotalTimeChanged(qint64 uSec);

protected:
    void run() override;

private:
    void endRun(bool sdlAudio);

    QString url;
    VideoAudioState videoState;
    PlayerState playerState = Stop;
};
