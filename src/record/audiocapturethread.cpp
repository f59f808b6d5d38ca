#include "record/audiocapturethread.h"

#include "base/signalstack.h"

#include "record/flvoutput.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <QDateTime>
#include <QDebug>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

audioCaptureThread::audioCaptureThread(QObject *parent) : QThread(parent) {}

audioCaptureThread::~audioCaptureThread()
{
    // Derived parts are gone already: the owner stops the thread first.
    m_run.stop();
    wait();
    closeDevice();
}

int audioCaptureThread::openDevice(QString name)
{
    Q_UNUSED(name);
    if (isRunning() && !wait(3000))
        return InputFailed;
    closeDevice();
    QString formatName, url;
    if (!platformInput(&formatName, &url)) {
        std::fprintf(stderr, "Couldn't open input stream audio.\n");
        return InputFailed;
    }
    if (!m_source.isEmpty())
        url = m_source;
    const AVInputFormat *format = av_find_input_format(formatName.toUtf8().constData());
    // Ask for the encoder's own rate and layout; whatever comes is converted.
    AVDictionary *options = nullptr;
    av_dict_set_int(&options, "sample_rate", flvOutput::kSampleRate, 0);
    av_dict_set_int(&options, "channels", flvOutput::kChannels, 0);
    // 10 ms fragments: PulseAudio otherwise hands a monitor over in blocks
    // of up to seconds, and each fragment is heard that much later.
    if (formatName == QLatin1String("pulse"))
        av_dict_set_int(&options, "fragment_size", flvOutput::kSampleRate / 100 * flvOutput::kChannels * 2, 0);
    formatContext = avformat_alloc_context();
    const int opened = avformat_open_input(&formatContext, url.toUtf8().constData(), format, &options);
    av_dict_free(&options);
    if (opened != 0) {
        std::fprintf(stderr, "Couldn't open input stream audio.\n");
        formatContext = nullptr;
        return InputFailed;
    }
    streamIndex = -1;
    for (unsigned i = 0; i < formatContext->nb_streams; ++i) {
        if (formatContext->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            streamIndex = int(i);
            break;
        }
    }
    if (streamIndex < 0) {
        std::printf("Didn't find a video stream.\n");
        closeDevice();
        return InputFailed;
    }
    const AVCodecParameters *parameters = formatContext->streams[streamIndex]->codecpar;
    const AVCodec *decoder = avcodec_find_decoder(parameters->codec_id);
    if (!decoder) {
        std::printf("audio Codec not found.\n");
        closeDevice();
        return DecoderFailed;
    }
    codecContext = avcodec_alloc_context3(decoder);
    if (!codecContext || avcodec_parameters_to_context(codecContext, parameters) < 0 ||
        avcodec_open2(codecContext, decoder, nullptr) < 0) {
        std::printf("Could not open video codec.\n");
        closeDevice();
        return DecoderFailed;
    }
    frame = av_frame_alloc();
    return Ready;
}

void audioCaptureThread::closeDevice()
{
    av_frame_free(&frame);
    avcodec_free_context(&codecContext);
    if (formatContext)
        avformat_close_input(&formatContext);
    formatContext = nullptr;
    streamIndex = -1;
}

void audioCaptureThread::startCapture()
{
    if (!formatContext || isRunning())
        return;
    m_startMs = QDateTime::currentMSecsSinceEpoch();
    m_stopMs = 0;
    m_pausedMs = 0;
    m_pauseStartMs = 0;
    m_run.start();
    start(QThread::InheritPriority);
}

void audioCaptureThread::stopCapture()
{
    const long long now = QDateTime::currentMSecsSinceEpoch();
    if (paused && m_pauseStartMs)
        m_pausedMs += now - m_pauseStartMs;
    if (m_run.running())
        m_stopMs = now;
    paused = false;
    m_run.stop();
}

void audioCaptureThread::pauseCapture()
{
    if (!paused)
        m_pauseStartMs = QDateTime::currentMSecsSinceEpoch();
    paused = true;
}

void audioCaptureThread::resumeCapture()
{
    if (paused && m_pauseStartMs)
        m_pausedMs += QDateTime::currentMSecsSinceEpoch() - m_pauseStartMs;
    m_pauseStartMs = 0;
    paused = false;
}

long long audioCaptureThread::capturedMs() const
{
    const long long stopMs = m_stopMs;
    const long long now = stopMs ? stopMs : QDateTime::currentMSecsSinceEpoch();
    long long pausedMs = m_pausedMs;
    if (paused && m_pauseStartMs)
        pausedMs += now - m_pauseStartMs;
    return now - m_startMs - pausedMs;
}

long long audioCaptureThread::stopCapturedMs() const
{
    return m_stopMs - m_startMs - m_pausedMs;
}

long long audioCaptureThread::capturedAtMs(const AVFrame *frame) const
{
    const int64_t pts = frame->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE || !formatContext || streamIndex < 0)
        return CaptureTimeline::kNoStamp;
    const long long wallMs = av_rescale_q(pts, formatContext->streams[streamIndex]->time_base, AVRational{1, 1000});
    return CaptureTimeline::captureTime(wallMs, QDateTime::currentMSecsSinceEpoch(), capturedMs());
}

void audioCaptureThread::deliverSilence(long long samples)
{
    if (samples <= 0)
        return;
    const size_t size = size_t(samples) * flvOutput::kChannels * 2;
    auto *buffer = static_cast<uint8_t *>(std::calloc(size, 1));
    if (buffer)
        deliver(buffer, int(size));
}

bool audioCaptureThread::drainingTail(const CaptureTimeline &timeline) const
{
    const long long stopMs = m_stopMs;
    if (!stopMs)
        return false;
    // Never more than one second past the stop.
    if (QDateTime::currentMSecsSinceEpoch() > stopMs + 1000)
        return false;
    return timeline.owes(stopCapturedMs());
}

uint8_t *audioCaptureThread::toStereo(const AVFrame *frame, int *size)
{
    *size = 0;
    const bool direct = frame->format == AV_SAMPLE_FMT_S16 && frame->sample_rate == flvOutput::kSampleRate &&
        frame->ch_layout.nb_channels == flvOutput::kChannels;
    if (direct) {
        const int bytes = frame->nb_samples * flvOutput::kChannels * 2;
        auto *buffer = static_cast<uint8_t *>(std::malloc(size_t(bytes)));
        if (buffer) {
            std::memcpy(buffer, frame->data[0], size_t(bytes));
            *size = bytes;
        }
        return buffer;
    }
    if (!m_resampler) {
        AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
        AVChannelLayout inLayout;
        if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&inLayout, frame->ch_layout.nb_channels);
        else
            av_channel_layout_copy(&inLayout, &frame->ch_layout);
        swr_alloc_set_opts2(&m_resampler, &stereo, AV_SAMPLE_FMT_S16, flvOutput::kSampleRate, &inLayout,
                            AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&inLayout);
        if (m_resampler && swr_init(m_resampler) < 0)
            swr_free(&m_resampler);
    }
    if (!m_resampler)
        return nullptr;
    const int capacity = swr_get_out_samples(m_resampler, frame->nb_samples);
    auto *buffer = static_cast<uint8_t *>(std::malloc(size_t(capacity > 0 ? capacity : 1) * 4));
    if (!buffer)
        return nullptr;
    uint8_t *out[1] = {buffer};
    const int converted =
        swr_convert(m_resampler, out, capacity, const_cast<const uint8_t **>(frame->extended_data), frame->nb_samples);
    *size = converted > 0 ? converted * 4 : 0;
    return buffer;
}

void audioCaptureThread::deliverBlock(CaptureTimeline &timeline, uint8_t *buffer, int size, long long atMs)
{
    const int sampleBytes = flvOutput::kChannels * 2;
    const long long samples = buffer ? size / sampleBytes : 0;
    const CaptureTimeline::Placement place = timeline.place(samples, atMs, capturedMs());
    deliverSilence(place.silence);
    const long long kept = samples - place.skip;
    if (!buffer || place.drop || kept <= 0) {
        std::free(buffer);
        return;
    }
    if (place.skip > 0)
        std::memmove(buffer, buffer + place.skip * sampleBytes, size_t(kept * sampleBytes));
    deliver(buffer, int(kept * sampleBytes));
}

void audioCaptureThread::settleBlock(CaptureTimeline &timeline, uint8_t *buffer, int size, long long atMs)
{
    const bool stamped = buffer && size > 0 && atMs != CaptureTimeline::kNoStamp;
    if (stamped && !m_settler.settled()) {
        m_held.emplace_back(buffer, size);
        const int sampleBytes = flvOutput::kChannels * 2;
        if (m_settler.hold(size / sampleBytes, atMs, capturedMs()) && m_run.running())
            return;
        releaseHeld(timeline);
        return;
    }
    releaseHeld(timeline);
    deliverBlock(timeline, buffer, size, atMs);
}

void audioCaptureThread::releaseHeld(CaptureTimeline &timeline)
{
    m_settler.settle();
    long long before = 0;
    for (const auto &[buffer, size] : m_held) {
        deliverBlock(timeline, buffer, size, m_settler.stampAt(before));
        before += size / (flvOutput::kChannels * 2);
    }
    m_held.clear();
}

void audioCaptureThread::deliverPacket(AVPacket *packet, CaptureTimeline &timeline)
{
    if (avcodec_send_packet(codecContext, packet) < 0)
        std::fprintf(stderr, "video Audio Error.\n");
    av_packet_unref(packet);
    while (avcodec_receive_frame(codecContext, frame) == 0) {
        int size = 0;
        uint8_t *buffer = toStereo(frame, &size);
        // The device stamps each block with the wall time it was heard, so
        // sound and pictures of one moment get the same time and the
        // encoder never waits longer than the device's own latency.
        settleBlock(timeline, buffer, size, capturedAtMs(frame));
        av_frame_unref(frame);
    }
}

void audioCaptureThread::run()
{
    tavi::ensureSignalStack();
    if (!codecContext || !hasReceiver()) {
        closeDevice();
        loopEnded();
        return;
    }
    AVPacket *packet = av_packet_alloc();
    CaptureTimeline timeline(flvOutput::kSampleRate);
    m_settler = StampSettler(flvOutput::kSampleRate);
    while (packet && (m_run.running() || drainingTail(timeline))) {
        if (!readCapturePacket(formatContext, streamIndex, packet, paused, m_run))
            continue;
        deliverPacket(packet, timeline);
        // A microphone that falls behind the clock (samples lost while the
        // machine is busy) is filled with silence, so sound and pictures
        // keep the same time line.
        if (!paused && m_held.empty())
            deliverSilence(timeline.lagFill(capturedMs()));
    }
    releaseHeld(timeline);
    // What the device did not hand over up to the stop is silence.
    if (m_stopMs)
        deliverSilence(timeline.closingSilence(stopCapturedMs()));
    swr_free(&m_resampler);
    av_packet_free(&packet);
    loopEnded();
    qDebug() << "record stopping...audio";
    m_run.stop();
    closeDevice();
    qDebug() << "record finished!";
}
