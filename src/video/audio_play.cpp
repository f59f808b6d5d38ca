#include "video/audio_play.h"

#include "base/signalstack.h"

#include "base/logging.h"
#include "video/playback.h"

extern "C" {
#include <libavformat/avformat.h>
}

AudioPlayer::AudioPlayer() : PlayerThread(videoState, false) {}

AudioPlayer::~AudioPlayer()
{
    quitAndWait();
}

void AudioPlayer::run()
{
    tavi::ensureSignalStack();
    // The callback clears it while it decodes and sets it when it stops.
    videoState.decoderFinished = true;
    static const PlayerOpening opening{
        PlayerOpening::NoPictures, PlayerOpening::SoundOnly, Probe::AudioOnly, false, nullptr, nullptr};
    playAddress(&videoState, url, classStreamOnly(), opening, this,
                [](AVFormatContext *input) { TAVI_LOG_ERROR("total time is " << input->duration); });
}
