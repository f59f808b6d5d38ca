#include "video/audiooutput.h"

#include "base/signalstack.h"

#include "base/logging.h"
#include "video/mediainput.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace {

std::mutex sdlMutex;

// A move of the play clock's anchor beyond the jitter of the callback's
// timing: the video thread looks at its picture's time again.
constexpr double kClockJump = 0.005;

uint64_t defaultLayout(int channels)
{
    if (channels <= 0 || channels > 64)
        return 0;
    AVChannelLayout layout;
    av_channel_layout_default(&layout, channels);
    const uint64_t mask = layout.order == AV_CHANNEL_ORDER_NATIVE ? layout.u.mask : 0;
    av_channel_layout_uninit(&layout);
    return mask;
}

int layoutChannels(uint64_t mask)
{
    return av_popcount64(mask);
}

// Opens the system's default output device, with fewer channels while it
// refuses the count asked for (*layout follows); 0 when none opens.
SDL_AudioDeviceID openDevice(SDL_AudioSpec *wanted, SDL_AudioSpec *obtained, uint64_t *layout)
{
    for (;;) {
        const SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, wanted, obtained, 0);
        if (id != 0)
            return id;
        const char *error = SDL_GetError();
        const int next = channelFallback(wanted->channels);
        if (next == 0) {
            TAVI_LOG_ERROR("no sound device opens (" << int(wanted->channels) << " channels, the last tried: " << error
                                                     << ")");
            return 0;
        }
        TAVI_LOG_WARN("sound device refused " << int(wanted->channels) << " channels (" << error << "), trying "
                                              << next);
        wanted->channels = Uint8(next);
        *layout = defaultLayout(next);
    }
}

// The channel layout to convert to for the device as opened; 0 (reported)
// when its format or channels cannot be used.
uint64_t deviceLayout(const SDL_AudioSpec &wanted, const SDL_AudioSpec &obtained, uint64_t layout)
{
    if (obtained.format != AUDIO_S16SYS) {
        TAVI_LOG_ERROR("sound device opened with sample format " << obtained.format << ", not 16-bit: no sound");
        return 0;
    }
    if (obtained.channels == wanted.channels)
        return layout;
    layout = defaultLayout(obtained.channels);
    if (!layout)
        TAVI_LOG_ERROR("sound device opened with " << int(obtained.channels)
                                                   << " channels, none we can fill: no sound");
    return layout;
}

// The decoder and the callback's fields for the stream; false (reported)
// when the decoder cannot be had.
bool prepareDecoding(VideoState *is, AVStream *stream)
{
    if (!openStreamDecoder(stream, &is->audioCodec, false)) {
        TAVI_LOG_ERROR("no decoder for the sound (" << avcodec_get_name(stream->codecpar->codec_id) << ")");
        return false;
    }
    stream->discard = AVDISCARD_DEFAULT;
    is->audioStream = stream;
    is->audioTimeBase = stream->time_base;
    is->audioBufferSize = is->audioBufferIndex = 0;
    is->audioBuffer = is->audioBufferStore;
    if (!is->audioPacket)
        is->audioPacket = av_packet_alloc();
    is->audioPacketLeft = 0;
    is->audioDecoderPending = false;
    return is->audioPacket != nullptr;
}

int componentOpen(VideoState *is, int streamIndex, SDL_AudioCallback callback)
{
    if (!is->formatContext || streamIndex < 0 || streamIndex >= int(is->formatContext->nb_streams))
        return -1;
    AVStream *stream = is->formatContext->streams[streamIndex];
    const AVCodecParameters *par = stream->codecpar;

    uint64_t layout = defaultLayout(par->ch_layout.nb_channels) & ~uint64_t(AV_CH_LAYOUT_STEREO_DOWNMIX);
    const int channels = layoutChannels(layout);
    const int frequency = par->sample_rate;
    if (frequency <= 0 || channels == 0) {
        TAVI_LOG_ERROR("Invalid sample rate or channel count.sample_rate:" << frequency
                                                                           << ",  wanted_spec.channels:" << channels);
        return -1;
    }
    SDL_AudioSpec wanted;
    SDL_zero(wanted);
    wanted.freq = frequency;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = Uint8(channels);
    wanted.silence = 0;
    wanted.samples = 1024;
    wanted.callback = callback;
    wanted.userdata = is;
    SDL_AudioSpec obtained;
    SDL_zero(obtained);
    const SDL_AudioDeviceID id = openDevice(&wanted, &obtained, &layout);
    if (id == 0)
        return -1;
    layout = deviceLayout(wanted, obtained, layout);
    if (!layout || !prepareDecoding(is, stream)) {
        SDL_CloseAudioDevice(id);
        return -1;
    }
    is->audioDeviceBufferSize = int(obtained.size);
    is->audioTarget.format = AV_SAMPLE_FMT_S16;
    is->audioTarget.channels = obtained.channels;
    is->audioTarget.channelLayout = int64_t(layout);
    is->audioTarget.sampleRate = obtained.freq;
    is->soundMeter.setFormat(obtained.freq, obtained.channels);
    is->audioSource = is->audioTarget;
    is->audioOpen = true;
    is->audioDeviceId = id;
    SDL_PauseAudioDevice(id, 0);
    return 0;
}

// Live input: whether the frame just decoded is dropped to catch up with
// the newest audio queued.
bool behindLive(VideoState *is)
{
    if (!is->live)
        return false;
    const double backlog = is->audioQueuedEnd - is->audioClock;
    if (backlog > kLiveBacklogHigh)
        is->audioCatchingUp = true;
    else if (backlog < kLiveBacklogLow)
        is->audioCatchingUp = false;
    return is->audioCatchingUp;
}

// Drops the packet being decoded and whatever the decoder still holds of it.
void dropHeldPacket(VideoState *is)
{
    is->audioPacketLeft = 0;
    is->audioPacketData = nullptr;
    is->audioDecoderPending = false;
}

// The channel layout of a decoded frame: its own when it matches its channel
// count, else the default one for that count.
uint64_t frameLayout(const AVFrame *frame)
{
    const int channels = frame->ch_layout.nb_channels;
    uint64_t layout = 0;
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_NATIVE)
        layout = frame->ch_layout.u.mask;
    if (!layout || layoutChannels(layout) != channels)
        layout = defaultLayout(channels);
    return layout;
}

// Makes the resampler fit the frame when the decoded format changed; false
// when it cannot be had (the packet is then dropped).
bool fitResampler(VideoState *is, const AVFrame *frame, uint64_t layout)
{
    const auto format = AVSampleFormat(frame->format);
    const int channels = frame->ch_layout.nb_channels;
    // A live input always goes through the resampler: it plays the sound a
    // little faster while the level ahead of the device is drained.
    if (format == is->audioSource.format && int64_t(layout) == is->audioSource.channelLayout &&
        frame->sample_rate == is->audioSource.sampleRate && channels == is->audioSource.channels &&
        (is->resampler || !is->live))
        return true;
    swr_free(&is->resampler);
    AVChannelLayout outLayout, inLayout;
    av_channel_layout_from_mask(&outLayout, uint64_t(is->audioTarget.channelLayout));
    int ok =
        layout ? av_channel_layout_from_mask(&inLayout, layout) : av_channel_layout_copy(&inLayout, &frame->ch_layout);
    if (ok >= 0)
        ok = swr_alloc_set_opts2(&is->resampler, &outLayout, is->audioTarget.format, is->audioTarget.sampleRate,
                                 &inLayout, format, frame->sample_rate, 0, nullptr);
    if (ok >= 0 && is->live)
        ok = av_opt_set_int(is->resampler, "flags", SWR_FLAG_RESAMPLE, 0);
    av_channel_layout_uninit(&outLayout);
    av_channel_layout_uninit(&inLayout);
    if (ok < 0 || !is->resampler || swr_init(is->resampler) < 0) {
        TAVI_LOG_ERROR("cannot convert sound of " << frame->sample_rate << " Hz, " << channels
                                                  << " channels for the device: frames dropped");
        swr_free(&is->resampler);
        is->audioSource = is->audioTarget;
        return false;
    }
    is->audioSource.format = format;
    is->audioSource.channels = channels;
    is->audioSource.channelLayout = int64_t(layout);
    is->audioSource.sampleRate = frame->sample_rate;
    return true;
}

// Points audioBuffer at the frame's samples in the device's format; their
// size in bytes, 0 for a frame without samples, -1 when the packet is
// dropped.
int convertFrame(VideoState *is, AVFrame *frame)
{
    const int channels = frame->ch_layout.nb_channels;
    if (channels <= 0 || frame->sample_rate <= 0 || frame->nb_samples <= 0)
        return 0;
    if (!fitResampler(is, frame, frameLayout(frame)))
        return -1;
    if (!is->resampler) {
        is->audioBuffer = frame->data[0];
        const int size =
            av_samples_get_buffer_size(nullptr, channels, frame->nb_samples, AVSampleFormat(frame->format), 1);
        return size < 0 ? 0 : size;
    }
    const int targetChannels = is->audioTarget.channels;
    const int maxSamples = kAudioBufferStoreSize / targetChannels / 2;
    if (is->audioDraining) {
        // This frame only: the next one is played faster again if still due.
        const int out = int(av_rescale(frame->nb_samples, is->audioTarget.sampleRate, frame->sample_rate));
        swr_set_compensation(is->resampler, -std::max(1, int(out * kLiveDrainRate)), std::max(1, out));
    }
    uint8_t *out = is->audioBufferStore;
    const int samples = swr_convert(is->resampler, &out, maxSamples, const_cast<const uint8_t **>(frame->extended_data),
                                    frame->nb_samples);
    if (samples < 0) {
        TAVI_LOG_WARN("sound frame not converted (error " << samples << "), dropped");
        return -1;
    }
    if (samples == maxSamples) {
        TAVI_LOG_WARN("sound frame larger than the conversion buffer: cut, converter reset");
        if (swr_init(is->resampler) < 0)
            swr_free(&is->resampler);
    }
    is->audioBuffer = is->audioBufferStore;
    return samples * targetChannels * 2;
}

// Moves the audio clock past a chunk of size bytes; *pts gets its start.
void advanceAudioClock(VideoState *is, const AVFrame *frame, int size, double *pts)
{
    if (frame->best_effort_timestamp != AV_NOPTS_VALUE && is->audioTimeBase.den)
        is->audioClock = double(frame->best_effort_timestamp) * av_q2d(is->audioTimeBase);
    *pts = is->audioClock;
    is->audioClock = is->audioClock + double(size) / (2.0 * is->audioTarget.channels * is->audioTarget.sampleRate);
}

// Whether the chunk just decoded is played: not before a seek target, not
// while a live input catches up.
bool keepChunk(VideoState *is)
{
    if (is->seekFlagAudio && is->seekTime > is->audioClock)
        return false;
    if (behindLive(is))
        return false;
    is->seekFlagAudio = 0;
    return true;
}

// The next frame of the held packet (sending the packet first); false when
// the packet has given all it holds.
bool receiveAudioFrame(VideoState *is)
{
    if (!is->audioFrame) {
        is->audioFrame = av_frame_alloc();
        if (!is->audioFrame)
            return false;
    } else {
        av_frame_unref(is->audioFrame);
    }
    if (is->audioPacketLeft > 0) {
        const int sent = avcodec_send_packet(is->audioCodec, is->audioPacket);
        if (sent != AVERROR(EAGAIN)) {
            is->audioPacketLeft = 0;
            is->audioPacketData = nullptr;
        }
        is->audioDecoderPending = true;
    }
    if (avcodec_receive_frame(is->audioCodec, is->audioFrame) < 0) {
        dropHeldPacket(is);
        return false;
    }
    return true;
}

// Takes the next packet from the audio queue to decode; false when none is
// there. A flush packet resets the decoder.
bool holdNextPacket(VideoState *is)
{
    for (;;) {
        av_packet_unref(is->audioPacket);
        if (takePacket(is, &is->audioQueue, kAudioQueueLimit, is->audioPacket, false) <= 0)
            return false;
        if (isFlushPacket(is->audioPacket)) {
            avcodec_flush_buffers(is->audioCodec);
            dropHeldPacket(is);
            continue;
        }
        // An empty packet would tell the decoder the input has ended.
        if (is->audioPacket->size <= 0)
            continue;
        is->audioPacketData = is->audioPacket->data;
        is->audioPacketLeft = is->audioPacket->size;
        return true;
    }
}

int decodeFrame(VideoState *is, double *pts, bool audioOnly)
{
    if (audioOnly)
        is->decoderFinished = false;
    if (!is->audioCodec || !is->audioPacket)
        return -1;
    for (;;) {
        while (is->audioPacketLeft > 0 || is->audioDecoderPending) {
            if (is->quit)
                return -1;
            if (!receiveAudioFrame(is)) {
                if (!is->audioFrame)
                    return AVERROR(ENOMEM);
                break;
            }
            const int size = convertFrame(is, is->audioFrame);
            if (size < 0) {
                dropHeldPacket(is);
                break;
            }
            if (size == 0)
                continue;
            advanceAudioClock(is, is->audioFrame, size, pts);
            if (keepChunk(is))
                return size;
        }
        if (is->quit || !holdNextPacket(is))
            return -1;
    }
}

// Input read to its end and all of it played: from now on pictures follow
// the wall clock, from where the sound stopped.
void noteAudioDone(VideoState *is)
{
    const double now = steadySeconds();
    const bool valid = is->playClockValid;
    const double handed = is->handedClock;
    is->changePlayClock([&](double offset) {
        const double position = offset + now;
        return (!valid || position > handed ? handed : position) - now;
    });
    is->playClockValid = true;
    is->audioDone = true;
    ++is->clockMoves;
    is->wake();
}

// Re-anchors the play clock once audio was handed to the device (total
// bytes asked for). Wakes the video thread when it waits for this, or when
// the clock moved other than with time.
void anchorPlayClock(VideoState *is, int total)
{
    const double bytesPerSecond = 2.0 * is->audioTarget.channels * is->audioTarget.sampleRate;
    const double end = is->audioClock - (is->audioBufferSize - is->audioBufferIndex) / bytesPerSecond;
    const bool wasValid = is->playClockValid;
    is->handedClock = end;
    // The device asks when its buffer has run low: what was handed now
    // starts playing about at once and ends a buffer from now.
    const double offset = end - double(total) / bytesPerSecond - steadySeconds();
    const double before = is->playClockOffset.exchange(offset);
    is->playClockValid = true;
    const bool wasDone = is->audioDone.exchange(false);
    const bool awaited = is->clockWaiter.exchange(false);
    if (awaited || wasDone || !wasValid || std::fabs(offset - before) > kClockJump) {
        ++is->clockMoves;
        is->wake();
    }
}

// Live input: the sound ahead of the device is drained while the least it
// came to over the last window stayed above the low mark; it stops at once
// when the level reaches the mark.
void noteLevel(VideoState *is)
{
    if (!is->live)
        return;
    const double level = is->audioQueuedEnd - is->handedClock;
    const double now = steadySeconds();
    is->audioLevelLeast = std::min(is->audioLevelLeast, level);
    if (level <= kLiveLevelLow)
        is->audioDraining = false;
    if (is->audioLevelWindowStart == 0) {
        is->audioLevelWindowStart = now;
    } else if (now - is->audioLevelWindowStart >= kLiveLevelWindow) {
        is->audioDraining = is->audioLevelLeast > kLiveLevelLow;
        is->audioLevelLeast = 1e9;
        is->audioLevelWindowStart = now;
    }
}

// Fills stream with decoded audio; false when none was handed over.
bool copyAudio(VideoState *is, Uint8 *stream, int len, bool audioOnly)
{
    bool handed = false;
    while (len > 0) {
        if (is->audioBufferIndex >= is->audioBufferSize) {
            double pts = 0;
            const int size = decodeFrame(is, &pts, audioOnly);
            is->audioBufferIndex = 0;
            if (size < 0) {
                is->audioBufferSize = 0;
                if (is->quit) {
                    if (audioOnly)
                        is->decoderFinished = true;
                    return false;
                }
                if (!audioOnly && is->readEnded && !is->audioDone && is->audioQueue.count == 0)
                    noteAudioDone(is);
                break;
            }
            is->audioBufferSize = unsigned(size);
        }
        const int left = int(is->audioBufferSize - is->audioBufferIndex);
        const int n = std::min(left, len);
        if (is->quit)
            return false;
        std::memcpy(stream, is->audioBuffer + is->audioBufferIndex, size_t(n));
        stream += n;
        len -= n;
        is->audioBufferIndex += unsigned(n);
        handed = true;
    }
    return handed;
}

void fill(VideoState *is, Uint8 *stream, int len, bool audioOnly)
{
    // Whatever is not filled below plays as silence.
    std::memset(stream, 0, size_t(len));
    if (is->audioStopped) {
        if (audioOnly)
            is->decoderFinished = true;
        return;
    }
    if (is->audioFlushPending.exchange(false)) {
        is->audioBufferIndex = is->audioBufferSize = 0;
        if (is->audioPacket)
            av_packet_unref(is->audioPacket);
        dropHeldPacket(is);
    }
    // Paused: silence at the device's own pace, the audio kept for later.
    if (is->paused)
        return;
    if (copyAudio(is, stream, len, audioOnly) && is->audioTarget.sampleRate > 0)
        anchorPlayClock(is, len);
    noteLevel(is);
}

void callback(VideoState *is, Uint8 *stream, int len, bool audioOnly)
{
    tavi::ensureSignalStack();
    fill(is, stream, len, audioOnly);
    is->soundMeter.measure(reinterpret_cast<const int16_t *>(stream), len / 2);
    applyVolume(stream, len, is->volume);
    if (const std::shared_ptr<EchoCanceller> canceller = std::atomic_load(&is->echoCanceller))
        canceller->played(reinterpret_cast<const int16_t *>(stream), len / 2, is->audioTarget.sampleRate,
                          is->audioTarget.channels);
}

} // namespace

void applyVolume(Uint8 *samples, int len, int volume)
{
    if (volume >= 100)
        return;
    auto *sample = reinterpret_cast<int16_t *>(samples);
    const int count = len / 2;
    if (volume <= 0) {
        std::memset(samples, 0, size_t(count) * 2);
        return;
    }
    // Gain in 1/10000 steps: volume squared.
    const int gain = volume * volume;
    for (int i = 0; i < count; ++i)
        sample[i] = int16_t(int(sample[i]) * gain / 10000);
}

int channelFallback(int channels)
{
    static const int next[] = {0, 0, 1, 6, 2, 6, 4, 6};
    if (channels < 0)
        return 0;
    return next[std::min(channels, 7)];
}

int audio_stream_component_open(VideoState *state, int streamIndex)
{
    return componentOpen(state, streamIndex, audioCallback);
}

void audioCallback(void *userdata, Uint8 *stream, int len)
{
    callback(static_cast<VideoState *>(userdata), stream, len, false);
}

int audioDecodeFrame(VideoState *state, double *pts)
{
    return decodeFrame(state, pts, false);
}

int audioPlay_stream_component_open(VideoAudioState *state, int streamIndex)
{
    return componentOpen(state, streamIndex, audioPlayCallback);
}

void audioPlayCallback(void *userdata, Uint8 *stream, int len)
{
    callback(static_cast<VideoAudioState *>(userdata), stream, len, true);
}

void detachAudioDevice(VideoState *state)
{
    state->audioStopped = true;
    const SDL_AudioDeviceID id = state->audioDeviceId;
    if (id != 0) {
        // The callback runs under this lock.
        SDL_LockAudioDevice(id);
        SDL_UnlockAudioDevice(id);
    }
}

void closeAudioDevice(VideoState *state)
{
    const SDL_AudioDeviceID id = state->audioDeviceId.exchange(0);
    if (id != 0)
        SDL_CloseAudioDevice(id);
}

bool initSdlAudio()
{
    std::lock_guard<std::mutex> lock(sdlMutex);
    // SDL's audio brings its event loop, whose handlers would turn SIGINT
    // and SIGTERM into events nobody reads: the program could no longer be
    // ended by them once something had played.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        const char *error = SDL_GetError();
        TAVI_LOG_ERROR("SDL's audio does not start: " << error);
        return false;
    }
    return true;
}

void quitSdlAudio()
{
    std::lock_guard<std::mutex> lock(sdlMutex);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}
