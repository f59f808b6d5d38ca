#include "video/audio_play.h"

#include "base/signalstack.h"

#include "base/logging.h"
#include "video/inputreconnector.h"
#include "video/mediainput.h"
#include "video/playback.h"

AudioPlayer::AudioPlayer() : PlayerThread(videoState, false) {}

AudioPlayer::~AudioPlayer()
{
    quitAndWait();
}

void AudioPlayer::endRun(bool sdlAudio)
{
    endPlayback(&videoState, sdlAudio);
}

void AudioPlayer::run()
{
    tavi::ensureSignalStack();
    VideoAudioState *is = &videoState;
    is->decoderFinished = true;
    InputAddress address;
    if (!inputAddress(url, classStreamOnly(), &address)) {
        endRun(false);
        return;
    }
    const QByteArray &path = address.path;
    is->protocols = address.protocols;
    avformat_network_init();
    const bool network = address.classStream;
    is->formatContext = openInput(is, path, network ? Probe::AudioOnly : Probe::Default, 0);
    if (!is->formatContext) {
        endRun(false);
        return;
    }
    AVFormatContext *input = is->formatContext;
    const int audioIndex = firstStreamOfType(input, AVMEDIA_TYPE_AUDIO);
    if (audioIndex < 0) {
        reportPlaybackError("Didn't find a audio stream.");
        endRun(false);
        return;
    }
    is->audioStreamIndex = audioIndex;
    TAVI_LOG_ERROR("total time is " << input->duration);
    const bool live = isLiveInput(url, input->duration);
    is->live = live;

    const bool sdlAudio = initSdlAudio();
    audioPlay_stream_component_open(is, audioIndex);
    AVStream *stream = input->streams[audioIndex];
    if (!avcodec_find_decoder(stream->codecpar->codec_id)) {
        reportPlaybackError("ACodec not found.");
        endRun(sdlAudio);
        return;
    }
    if (!openStreamDecoder(stream, &is->audioCodec, false)) {
        reportPlaybackError("Could not open audio codec.");
        endRun(sdlAudio);
        return;
    }
    is->audioStream = stream;
    is->player = this;

    InputReconnector reader(is, path, Probe::AudioOnly, false, live);
    readPackets(is, reader);
    endRun(sdlAudio);
}
