#include "video/playback.h"

#include "base/logging.h"
#include "video/audiooutput.h"
#include "video/inputreconnector.h"
#include "video/videostate.h"

#include <SDL2/SDL.h>

namespace {

// Nothing to read now: a queue at its limit, a pause, a file at its end.
bool resting(const VideoState *is)
{
    return is->audioQueue.bytes > kAudioQueueLimit || is->videoQueue.bytes > kVideoQueueLimit || is->paused ||
        is->readEnded || is->leaving;
}

void putMarker(PacketQueue *queue, int (*make)(AVPacket *))
{
    AVPacket *marker = av_packet_alloc();
    if (marker && make(marker) == 0)
        packetQueuePut(queue, marker);
    av_packet_free(&marker);
}

// Checks the address, opens the input and chooses its streams; false
// (reported) when it has none to play. *path: the address as FFmpeg got it.
bool openStreams(VideoState *is, const QString &url, bool classStreamOnly, const PlayerOpening &how, QByteArray *path)
{
    avformat_network_init();
    InputAddress address;
    if (!inputAddress(url, classStreamOnly, &address))
        return false;
    *path = address.path;
    is->protocols = address.protocols;
    is->formatContext = openInput(is, *path, address.classStream ? how.classProbe : Probe::Default, 0);
    AVFormatContext *input = is->formatContext;
    if (!input)
        return false;
    const int video = how.pictures == PlayerOpening::LastVideoStream ? lastStreamOfType(input, AVMEDIA_TYPE_VIDEO)
                                                                     : firstStreamOfType(input, AVMEDIA_TYPE_VIDEO);
    const int audio = how.sound == PlayerOpening::NoSound ? -1 : firstStreamOfType(input, AVMEDIA_TYPE_AUDIO);
    if (how.pictures != PlayerOpening::NoPictures && video < 0) {
        reportPlaybackError("The input has no video stream, not played.");
        return false;
    }
    if (how.sound == PlayerOpening::SoundOnly && audio < 0) {
        reportPlaybackError("The input has no audio stream, not played.");
        return false;
    }
    // A silent clip or screen recording plays too: without a sound device
    // the pictures follow the wall clock.
    if (how.sound == PlayerOpening::SoundIfAny && audio < 0)
        TAVI_LOG_WARN("No audio stream in " << addressForLog(url).constData()
                                            << ", playing the pictures without sound.");
    is->videoStreamIndex = how.pictures == PlayerOpening::NoPictures ? -1 : video;
    is->audioStreamIndex = audio;
    is->live = isLiveInput(url, input->duration);
    return true;
}

// Opens the sound device and the audio decoder; false (reported) when the
// decoder cannot be had. *sdlAudio: whether SDL's audio was started.
bool openSound(VideoState *is, const PlayerOpening &how, bool *sdlAudio)
{
    const int index = is->audioStreamIndex;
    if (index < 0)
        return true;
    // A player that does not keep time by the sound does not play it.
    if (how.sound == PlayerOpening::SoundOnly || is->sync) {
        *sdlAudio = initSdlAudio();
        if (how.sound == PlayerOpening::SoundOnly)
            audioPlay_stream_component_open(static_cast<VideoAudioState *>(is), index);
        else
            audio_stream_component_open(is, index);
    }
    AVStream *stream = is->formatContext->streams[index];
    if (!avcodec_find_decoder(stream->codecpar->codec_id)) {
        reportPlaybackError("No decoder for the audio stream, not played.");
        return false;
    }
    if (!openStreamDecoder(stream, &is->audioCodec, false)) {
        reportPlaybackError("The audio decoder does not open, not played.");
        return false;
    }
    is->audioStream = stream;
    return true;
}

// Opens the video decoder and starts the thread that decodes the pictures;
// false (reported, but for the thread) when either cannot be had.
bool openPictures(VideoState *is, const PlayerOpening &how)
{
    if (is->videoStreamIndex < 0)
        return true;
    AVStream *stream = is->formatContext->streams[is->videoStreamIndex];
    if (!avcodec_find_decoder(stream->codecpar->codec_id)) {
        reportPlaybackError("No decoder for the video stream, not played.");
        return false;
    }
    if (!openStreamDecoder(stream, &is->videoCodec, true, how.lowDelayWhenLive && is->live)) {
        reportPlaybackError("The video decoder does not open, not played.");
        return false;
    }
    is->videoStream = stream;
    is->videoTimeBase = stream->time_base;
    AVRational rate = stream->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0)
        rate = stream->r_frame_rate;
    const double frameDuration = (rate.num > 0 && rate.den > 0) ? av_q2d(av_inv_q(rate)) : 0.0;
    is->frameDuration = (frameDuration > 0.001 && frameDuration < 10) ? frameDuration : 0.04;
    is->videoThread = SDL_CreateThread(how.videoThread, how.videoThreadName, is);
    return is->videoThread != nullptr;
}

} // namespace

void playAddress(VideoState *is, const QString &url, bool classStreamOnly, const PlayerOpening &how, QObject *player,
                 const std::function<void(AVFormatContext *)> &streamsChosen)
{
    QByteArray path;
    bool sdlAudio = false;
    if (openStreams(is, url, classStreamOnly, how, &path)) {
        streamsChosen(is->formatContext);
        is->player = player;
        if (openSound(is, how, &sdlAudio) && openPictures(is, how)) {
            av_dump_format(is->formatContext, 0, addressForLog(url).constData(), 0);
            InputReconnector input(is, path, how.classProbe, how.pictures != PlayerOpening::NoPictures, is->live);
            tellInputFlowing(is, true);
            readPackets(is, input);
        }
    }
    endPlayback(is, sdlAudio);
}

void readPackets(VideoState *is, InputReconnector &input)
{
    AVPacket *packet = av_packet_alloc();
    while (packet && !is->quit) {
        if (is->seekRequest)
            seekInput(is);
        if (is->leaving)
            input.letGo();
        if (resting(is)) {
            is->wait([is] { return is->quit || is->seekRequest || !resting(is); });
            input.rested();
            continue;
        }
        if (!input.read(packet)) {
            if (is->readEnded && is->videoStreamIndex >= 0)
                putMarker(&is->videoQueue, makeEndPacket);
            continue;
        }
        if (packet->stream_index == is->videoStreamIndex)
            packetQueuePut(&is->videoQueue, packet);
        else if (packet->stream_index == is->audioStreamIndex && is->audioOpen)
            packetQueuePut(&is->audioQueue, packet);
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
}

void dropQueued(VideoState *is)
{
    if (is->audioOpen) {
        packetQueueFlush(&is->audioQueue);
        putMarker(&is->audioQueue, makeFlushPacket);
        is->audioFlushPending = true;
    }
    is->seekSerial += 1;
    packetQueueFlush(&is->videoQueue);
    putMarker(&is->videoQueue, makeFlushPacket);
}

void seekInput(VideoState *is)
{
    const int64_t position = is->seekPosition;
    const int64_t target = av_rescale_q(position, AVRational{1, 1000000}, is->videoStream->time_base);
    const int ret = av_seek_frame(is->formatContext, is->videoStreamIndex, target, AVSEEK_FLAG_BACKWARD);
    // The decoders see the target before the first packet after the seek.
    is->seekTime = position / 1000000.0;
    is->seekFlagAudio = 1;
    is->seekFlagVideo = 1;
    if (ret < 0) {
        TAVI_LOG_WARN("seek to " << is->seekTime.load() << " s failed (error " << ret << "), playing on");
    } else {
        // Before the queues empty: the callback must not take the moment
        // between flush and refill for the end of the input.
        is->readEnded = false;
        is->audioDone = false;
        // Until the device is handed audio from the target, the play
        // position is the target, not where the old audio stopped.
        is->handedClock = is->seekTime.load();
        is->playClockValid = false;
        dropQueued(is);
        is->videoClock = 0;
    }
    is->seekRequest = 0;
    is->wake();
}

void endPlayback(VideoState *is, bool sdlAudio)
{
    if (is->videoThread) {
        is->requestQuit();
        SDL_WaitThread(is->videoThread, nullptr);
        is->videoThread = nullptr;
    }
    // No callback runs or starts on the state once detached, so nothing
    // below is freed under it.
    detachAudioDevice(is);
    is->release();
    is->decoderFinished = true;
    is->readerFinished = true;
    is->wake();
    // After the finished flags: closing can wait on the sound server, and
    // stop(true) need not wait for that.
    closeAudioDevice(is);
    if (sdlAudio)
        quitSdlAudio();
}
