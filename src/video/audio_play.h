#pragma once

// Plays only the sound of an address: in a one-to-one class, the teacher
// hears the student's microphone, published as a live audio stream.

#include "video/audiooutput.h"
#include "video/playerthread.h"

class AudioPlayer : public PlayerThread
{
    Q_OBJECT

public:
    AudioPlayer();
    ~AudioPlayer() override;

    const VideoAudioState &playbackState() const { return videoState; }

protected:
    void run() override;

private:
    VideoAudioState videoState;
};
