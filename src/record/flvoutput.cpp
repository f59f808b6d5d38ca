#include "record/flvoutput.h"

#include "base/logging.h"
#include "base/signalstack.h"
#include "base/streamaddress.h"

#include <QString>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {
long long steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

double packetSeconds(const AVFormatContext *output, const AVPacket *packet)
{
    const int64_t ts = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
    return ts == AV_NOPTS_VALUE ? 0 : double(ts) * av_q2d(output->streams[packet->stream_index]->time_base);
}
} // namespace

flvOutput::flvOutput() = default;

flvOutput::~flvOutput()
{
    close();
}

bool flvOutput::wantsMp4(const char *name)
{
    if (!name)
        return false;
    const char *scheme = std::strstr(name, "://");
    if (scheme && !(scheme - name == 4 && strncasecmp(name, "file", 4) == 0))
        return false; // a network address: published as FLV
    const size_t length = std::strlen(name);
    return length > 4 && strcasecmp(name + length - 4, ".mp4") == 0;
}

QByteArray flvOutput::nameForLog(const char *name)
{
    const QString text = QString::fromLocal8Bit(name ? name : "");
    if (tavi::hasAddressScheme(text))
        return tavi::streamAddressForLog(text).toUtf8();
    return tavi::logExcerpt(text).toUtf8();
}

const char *flvOutput::containerName() const
{
    return outputFormat ? outputFormat->name : "";
}

double flvOutput::videoFrameMs() const
{
    return 1000.0 * av_q2d(m_video.encoderContext->time_base);
}

double flvOutput::videoClockMs() const
{
    return double(m_video.nextPts) * videoFrameMs();
}

void flvOutput::skipVideoTo(double ms)
{
    const int64_t due = int64_t(ms / videoFrameMs());
    if (due > m_video.nextPts)
        m_video.nextPts = due;
}

double flvOutput::audioClockMs() const
{
    return 1000.0 * double(m_audio.nextPts) * av_q2d(m_audio.encoderContext->time_base);
}

double flvOutput::audioFrameMs() const
{
    const AVCodecContext *c = m_audio.encoderContext;
    return 1000.0 * double(c->frame_size > 0 ? c->frame_size : 1024) * av_q2d(c->time_base);
}

bool flvOutput::setUp(const char *name, bool withVideo, int width, int height, bool classStreamOnly)
{
    close();
    QString why;
    const tavi::MediaAddress kind =
        tavi::mediaAddressKind(QString::fromLocal8Bit(name ? name : ""), classStreamOnly, &why);
    if (kind == tavi::MediaAddress::Refused) {
        TAVI_LOG_ERROR("Output address refused, nothing written: " << why);
        return false;
    }
    m_protocols = tavi::protocolWhitelist(kind);
    // A class stream is FLV whatever its name says.
    m_mp4 = kind == tavi::MediaAddress::LocalFile && wantsMp4(name);
    m_live = kind != tavi::MediaAddress::LocalFile;
    avformat_alloc_output_context2(&outputContext, nullptr, m_mp4 ? "mp4" : "flv", name);
    if (!outputContext) {
        TAVI_LOG_ERROR("no " << (m_mp4 ? "MP4" : "FLV") << " muxer for " << nameForLog(name).constData());
        return false;
    }
    outputFormat = outputContext->oformat;
    // Every packet reaches the file at once: a killed recording stays playable.
    outputContext->flush_packets = 1;
    if (withVideo && outputFormat->video_codec != AV_CODEC_ID_NONE) {
        if (!addVideoStream(width, height)) {
            close();
            return false;
        }
        m_hasVideo = true;
    }
    if (outputFormat->audio_codec != AV_CODEC_ID_NONE) {
        if (!addAudioStream()) {
            close();
            return false;
        }
        m_hasAudio = true;
    }
    packet = av_packet_alloc();
    stagingBuffer = static_cast<uint8_t *>(std::malloc(kStagingBytes));
    stagingFill = 0;
    m_setUp = packet && stagingBuffer;
    if (!m_setUp)
        close();
    return m_setUp;
}

static AVDictionary *encoderOptions()
{
    AVDictionary *options = nullptr;
    av_dict_set(&options, "preset", "ultrafast", 0);
    av_dict_set(&options, "tune", "zerolatency", 0);
    return options;
}

// A desktop is mostly text: stillimage spends the bits on edges. Held at the
// class's rate, ultrafast reads back 0.968 of a page of code (superfast
// 0.984, but at half as much CPU again the encoder falls behind the capture
// on a busy two-core machine, and its catching up puts pictures ahead of
// their sound). Zerolatency stays: no B pictures, no look-ahead.
static AVDictionary *videoEncoderOptions()
{
    AVDictionary *options = nullptr;
    av_dict_set(&options, "preset", "ultrafast", 0);
    av_dict_set(&options, "tune", "zerolatency,stillimage", 0);
    return options;
}

bool flvOutput::storeOutputName(char (&buffer)[kOutputNameBytes], const char *name)
{
    std::memset(buffer, 0, sizeof(buffer));
    if (!name)
        return false;
    const size_t length = std::strlen(name);
    if (length + 1 > sizeof(buffer)) {
        TAVI_LOG_WARN("output name of " << length << " bytes refused");
        return false;
    }
    std::memcpy(buffer, name, length + 1);
    return true;
}

AVCodecContext *flvOutput::newTrack(OutputStream &track)
{
    track.stream = avformat_new_stream(outputContext, nullptr);
    if (!track.stream) {
        TAVI_LOG_ERROR("cannot add a stream to the output");
        return nullptr;
    }
    track.stream->id = int(outputContext->nb_streams) - 1;
    track.encoderContext = avcodec_alloc_context3(track.codec);
    if (!track.encoderContext)
        TAVI_LOG_ERROR("cannot allocate an encoder context for " << track.codec->name);
    return track.encoderContext;
}

bool flvOutput::openEncoder(OutputStream &track, const char *kind)
{
    AVCodecContext *c = track.encoderContext;
    if (outputFormat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary *options = &track == &m_video ? videoEncoderOptions() : encoderOptions();
    const int opened = avcodec_open2(c, track.codec, &options);
    av_dict_free(&options);
    if (opened < 0)
        TAVI_LOG_ERROR("cannot open the " << kind << " encoder " << track.codec->name << " (error " << opened << ")");
    return opened >= 0;
}

bool flvOutput::addVideoStream(int width, int height)
{
    OutputStream &track = m_video;
    track.codec = avcodec_find_encoder_by_name("libx264");
    if (!track.codec)
        track.codec = avcodec_find_encoder(AV_CODEC_ID_H264);
    if (!track.codec) {
        TAVI_LOG_ERROR("no H.264 encoder in this FFmpeg");
        return false;
    }
    if (width <= 0 || height <= 0) {
        TAVI_LOG_ERROR("picture size " << width << "x" << height << " refused");
        return false;
    }
    AVCodecContext *c = newTrack(track);
    if (!c)
        return false;
    c->codec_id = AV_CODEC_ID_H264;
    c->bit_rate = kVideoBitRate;
    // The class's rate is a ceiling, not an average: without it a still
    // desktop's key pictures run 20% over, more than a student's link holds.
    c->rc_max_rate = kVideoBitRate;
    c->rc_buffer_size = kVideoBufferBits;
    c->width = width;
    c->height = height;
    track.stream->time_base = AVRational{1, kFrameRate};
    c->time_base = track.stream->time_base;
    c->framerate = AVRational{kFrameRate, 1};
    c->gop_size = 12;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->profile = FF_PROFILE_H264_HIGH;
    if (!openEncoder(track, "video"))
        return false;
    // The picture planes are aimed at each captured picture in turn.
    track.frame = av_frame_alloc();
    if (!track.frame) {
        TAVI_LOG_ERROR("cannot allocate a video frame");
        return false;
    }
    track.frame->format = c->pix_fmt;
    track.frame->width = width;
    track.frame->height = height;
    if (avcodec_parameters_from_context(track.stream->codecpar, c) < 0) {
        TAVI_LOG_ERROR("cannot copy the encoder's parameters to its stream");
        return false;
    }
    return true;
}

bool flvOutput::addAudioStream()
{
    OutputStream &track = m_audio;
    track.codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!track.codec) {
        TAVI_LOG_ERROR("no AAC encoder in this FFmpeg");
        return false;
    }
    AVCodecContext *c = newTrack(track);
    if (!c)
        return false;
    c->sample_fmt = track.codec->sample_fmts ? track.codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
    c->bit_rate = 64000;
    c->sample_rate = kSampleRate;
    const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    av_channel_layout_copy(&c->ch_layout, &stereo);
    // FFmpeg's own AAC encoder has no HE-AAC (SBR); low complexity is the
    // nearest profile it accepts.
    c->profile = FF_PROFILE_AAC_LOW;
    track.stream->time_base = AVRational{1, kSampleRate};
    c->time_base = track.stream->time_base;
    if (!openEncoder(track, "audio"))
        return false;
    const int samples = (track.codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) ? 10000 : c->frame_size;
    track.frame = av_frame_alloc();
    track.tmpFrame = av_frame_alloc();
    if (!track.frame || !track.tmpFrame) {
        TAVI_LOG_ERROR("cannot allocate an audio frame");
        return false;
    }
    track.frame->format = c->sample_fmt;
    av_channel_layout_copy(&track.frame->ch_layout, &c->ch_layout);
    track.frame->sample_rate = kSampleRate;
    track.frame->nb_samples = samples;
    if (av_frame_get_buffer(track.frame, 0) < 0) {
        TAVI_LOG_ERROR("cannot allocate an audio frame's buffer");
        return false;
    }
    track.tmpFrame->format = AV_SAMPLE_FMT_S16;
    av_channel_layout_copy(&track.tmpFrame->ch_layout, &c->ch_layout);
    track.tmpFrame->sample_rate = kSampleRate;
    track.tmpFrame->nb_samples = samples;
    if (avcodec_parameters_from_context(track.stream->codecpar, c) < 0) {
        TAVI_LOG_ERROR("cannot copy the encoder's parameters to its stream");
        return false;
    }
    if (swr_alloc_set_opts2(&track.resampler, &c->ch_layout, c->sample_fmt, kSampleRate, &c->ch_layout,
                            AV_SAMPLE_FMT_S16, kSampleRate, 0, nullptr) < 0 ||
        !track.resampler) {
        TAVI_LOG_ERROR("cannot allocate the audio resampler");
        return false;
    }
    if (swr_init(track.resampler) < 0) {
        TAVI_LOG_ERROR("cannot initialise the audio resampler");
        return false;
    }
    m_audioFrameBytes = samples * c->ch_layout.nb_channels * 2;
    return true;
}

bool flvOutput::connect(const AVIOInterruptCB &interrupt)
{
    if (!m_setUp)
        return false;
    // The caller's interrupt, and the I/O deadline.
    m_interrupt = interrupt;
    outputContext->interrupt_callback = {&flvOutput::interrupted, this};
    m_ioDeadline = steadyMs() + kIoMs;
    av_dump_format(outputContext, 0, nameForLog(outputContext->url).constData(), 1);
    if (!(outputFormat->flags & AVFMT_NOFILE)) {
        AVDictionary *ioOptions = nullptr;
        av_dict_set(&ioOptions, "protocol_whitelist", m_protocols, 0);
        // A small socket buffer: what a slow uplink cannot carry stays in our
        // queues, where the encoder sees it and drops pictures, instead of
        // seconds of stream waiting in the kernel.
        // Sound packets and each picture's last segment go out at once, not
        // held for an acknowledgement (a round trip each on a real network).
        if (m_live) {
            av_dict_set(&ioOptions, "send_buffer_size", "32768", 0);
            av_dict_set(&ioOptions, "tcp_nodelay", "1", 0);
        }
        const int opened = avio_open2(&outputContext->pb, outputContext->url, AVIO_FLAG_WRITE,
                                      &outputContext->interrupt_callback, &ioOptions);
        av_dict_free(&ioOptions);
        if (opened < 0)
            return false;
        m_ioOpen = true;
    }
    AVDictionary *options = nullptr;
    if (m_mp4) {
        // Fragments after an empty movie box, each standing on its own, so
        // that a killed recording stays playable up to its last fragment.
        // Sound alone has no key frames to cut at: it is cut every second.
        av_dict_set(&options, "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
        av_dict_set(&options, "frag_duration", "1000000", 0);
    }
    const int written = avformat_write_header(outputContext, &options);
    av_dict_free(&options);
    if (written < 0)
        return false;
    m_ioDeadline = 0;
    m_headerWritten = true;
    m_video.nextPts = 0;
    m_audio.nextPts = 0;
    m_soundStarted = m_queuedAny = false;
    m_audio.samplesCount = 0;
    stagingFill = 0;
    m_sendEnd = false;
    m_queuedUntil = m_sentUntil = 0;
    m_sendFailed = false;
    m_sender = std::thread(&flvOutput::sendLoop, this);
    return true;
}

int flvOutput::interrupted(void *opaque)
{
    auto *self = static_cast<flvOutput *>(opaque);
    if (self->m_interrupt.callback && self->m_interrupt.callback(self->m_interrupt.opaque))
        return 1;
    const long long deadline = self->m_ioDeadline;
    return deadline != 0 && steadyMs() > deadline;
}

double flvOutput::sendBacklog() const
{
    if (!m_live)
        return 0.0;
    std::lock_guard<std::mutex> lock(m_sendLock);
    return m_sendQueue.empty() ? 0.0 : m_queuedUntil - m_sentUntil;
}

void flvOutput::sendLoop()
{
    tavi::ensureSignalStack();
    for (;;) {
        Queued next{};
        {
            std::unique_lock<std::mutex> lock(m_sendLock);
            m_sendCond.wait(lock, [this] { return !m_sendQueue.empty() || m_sendEnd; });
            if (m_sendQueue.empty())
                return;
            next = m_sendQueue.front();
        }
        AVPacket *packet = next.packet;
        m_ioDeadline = steadyMs() + kIoMs;
        // A class stream goes out as it is encoded: interleaving would hold
        // each picture until the sound of its time was encoded too. The
        // player keeps the tracks apart anyway.
        const int written =
            m_live ? av_write_frame(outputContext, packet) : av_interleaved_write_frame(outputContext, packet);
        std::lock_guard<std::mutex> lock(m_sendLock);
        m_sendQueue.pop_front();
        av_packet_free(&packet);
        if (written < 0) {
            // The deadline stays: what is left to close the output gives up
            // at once on a dead link.
            m_sendFailed = true;
            return;
        }
        m_ioDeadline = 0;
        m_sentUntil = next.at;
    }
}

bool flvOutput::stopSending()
{
    if (m_sender.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_sendLock);
            m_sendEnd = true;
        }
        m_sendCond.notify_one();
        m_sender.join();
    }
    std::lock_guard<std::mutex> lock(m_sendLock);
    for (Queued &queued : m_sendQueue)
        av_packet_free(&queued.packet);
    m_sendQueue.clear();
    return !m_sendFailed;
}

bool flvOutput::encodeAndWrite(OutputStream &track, const AVFrame *frame)
{
    if (m_sendFailed)
        return false;
    if (avcodec_send_frame(track.encoderContext, frame) < 0)
        return true; // an encoder hiccup loses one frame, not the output
    for (;;) {
        const int received = avcodec_receive_packet(track.encoderContext, packet);
        if (received < 0)
            return true;
        av_packet_rescale_ts(packet, track.encoderContext->time_base, track.stream->time_base);
        packet->stream_index = track.stream->index;
        const double at = packetSeconds(outputContext, packet);
        if (m_live && m_queuedAny && at < m_firstSeconds) {
            // The pictures went first (a late microphone): a class stream is
            // not interleaved, and the muxer refuses a packet stamped before
            // the first one it wrote, failing the whole output.
            av_packet_unref(packet);
            continue;
        }
        if (!m_queuedAny)
            m_firstSeconds = at;
        m_queuedAny = true;
        if (&track == &m_audio)
            m_soundStarted = true;
        AVPacket *queued = m_sendFailed ? nullptr : av_packet_alloc();
        if (!queued) {
            av_packet_unref(packet);
            return false;
        }
        av_packet_move_ref(queued, packet);
        {
            std::lock_guard<std::mutex> lock(m_sendLock);
            m_queuedUntil = std::max(m_queuedUntil, at);
            m_sendQueue.push_back({queued, at});
        }
        m_sendCond.notify_one();
    }
}

bool flvOutput::writeVideo(const uint8_t *yuv)
{
    if (!m_hasVideo || !m_headerWritten)
        return false;
    AVCodecContext *c = m_video.encoderContext;
    const int ySize = c->width * c->height;
    AVFrame *frame = m_video.frame;
    frame->data[0] = const_cast<uint8_t *>(yuv);
    frame->data[1] = const_cast<uint8_t *>(yuv) + ySize;
    frame->data[2] = const_cast<uint8_t *>(yuv) + ySize * 5 / 4;
    frame->linesize[0] = c->width;
    frame->linesize[1] = c->width / 2;
    frame->linesize[2] = c->width / 2;
    frame->pts = m_video.nextPts++;
    // Hand the picture over by reference, not by copy: it stays queued until
    // the next one replaces it, and the encoder copies it in before that.
    frame->buf[0] = av_buffer_create(
        const_cast<uint8_t *>(yuv), size_t(ySize) * 3 / 2, [](void *, uint8_t *) {}, nullptr, AV_BUFFER_FLAG_READONLY);
    const bool written = encodeAndWrite(m_video, frame);
    av_buffer_unref(&frame->buf[0]);
    return written;
}

bool flvOutput::writeAudio(const uint8_t *bytes, int size)
{
    if (!m_hasAudio || !m_headerWritten || m_audioFrameBytes <= 0)
        return false;
    OutputStream &track = m_audio;
    const int samples = track.tmpFrame->nb_samples;
    while (size > 0) {
        // A chunk larger than the free room is staged in parts.
        const int room = kStagingBytes - stagingFill;
        const int part = size < room ? size : room;
        std::memcpy(stagingBuffer + stagingFill, bytes, size_t(part));
        stagingFill += part;
        bytes += part;
        size -= part;

        int consumed = 0;
        while (stagingFill - consumed >= m_audioFrameBytes) {
            const uint8_t *in[1] = {stagingBuffer + consumed};
            consumed += m_audioFrameBytes;
            track.nextPts += samples;
            if (av_frame_make_writable(track.frame) < 0)
                continue;
            const int outSamples = int(av_rescale_rnd(swr_get_delay(track.resampler, kSampleRate) + samples,
                                                      kSampleRate, kSampleRate, AV_ROUND_UP));
            const int converted = swr_convert(track.resampler, track.frame->data,
                                              outSamples < samples ? outSamples : samples, in, samples);
            if (converted < 0)
                TAVI_LOG_WARN("audio frame at sample " << track.samplesCount << " not converted (error " << converted
                                                       << ")");
            track.frame->pts =
                av_rescale_q(track.samplesCount, AVRational{1, kSampleRate}, track.encoderContext->time_base);
            track.samplesCount += samples;
            if (!encodeAndWrite(track, track.frame))
                return false;
        }
        if (consumed > 0) {
            std::memmove(stagingBuffer, stagingBuffer + consumed, size_t(stagingFill - consumed));
            stagingFill -= consumed;
        }
    }
    return true;
}

bool flvOutput::finish(bool drain)
{
    bool ok = true;
    if (drain && m_headerWritten) {
        if (m_hasVideo)
            ok = encodeAndWrite(m_video, nullptr) && ok;
        if (m_hasAudio)
            ok = encodeAndWrite(m_audio, nullptr) && ok;
    }
    ok = stopSending() && ok;
    if (m_headerWritten && ok) {
        m_ioDeadline = steadyMs() + kIoMs;
        ok = av_write_trailer(outputContext) == 0;
    }
    m_headerWritten = false;
    return ok;
}

void flvOutput::freeTrack(OutputStream &track)
{
    avcodec_free_context(&track.encoderContext);
    if (track.frame) {
        // Video planes point into captured pictures, not into the frame.
        if (!track.frame->buf[0])
            std::memset(track.frame->data, 0, sizeof(track.frame->data));
        av_frame_free(&track.frame);
    }
    av_frame_free(&track.tmpFrame);
    swr_free(&track.resampler);
    track = OutputStream();
}

void flvOutput::close()
{
    stopSending();
    freeTrack(m_video);
    freeTrack(m_audio);
    av_packet_free(&packet);
    std::free(stagingBuffer);
    stagingBuffer = nullptr;
    stagingFill = 0;
    if (outputContext) {
        if (m_ioOpen)
            avio_closep(&outputContext->pb);
        avformat_free_context(outputContext);
    }
    outputContext = nullptr;
    outputFormat = nullptr;
    m_hasVideo = m_hasAudio = false;
    m_audioFrameBytes = 0;
    m_setUp = m_ioOpen = m_headerWritten = m_mp4 = m_live = m_soundStarted = m_queuedAny = false;
    m_protocols = nullptr;
    m_ioDeadline = 0;
}
