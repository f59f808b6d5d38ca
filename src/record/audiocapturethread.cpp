#include "record/audiocapturethread.h"

#include "base/echocanceller.h"
#include "base/logging.h"
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

#include <cstdlib>
#include <cstring>

audioCaptureThread::audioCaptureThread(QObject *parent) : QThread(parent)
{
    m_meter.setFormat(flvOutput::kSampleRate, flvOutput::kChannels);
}

void audioCaptureThread::setEchoCanceller(std::shared_ptr<EchoCanceller> canceller)
{
    std::lock_guard<std::mutex> lock(m_cancellerLock);
    m_canceller = std::move(canceller);
}

void audioCaptureThread::setMuted(bool muted)
{
    // Silence while muted says nothing of the microphone.
    if (m_muted.exchange(muted) != muted)
        m_meter.reset();
}

QString audioCaptureThread::sourceName() const
{
    std::lock_guard<std::mutex> lock(m_cancellerLock);
    return m_sourceName;
}

void audioCaptureThread::treat(uint8_t *&buffer, int &size, long long *atMs)
{
    if (!buffer || size <= 0)
        return;
    std::shared_ptr<EchoCanceller> canceller;
    {
        std::lock_guard<std::mutex> lock(m_cancellerLock);
        canceller = m_canceller;
    }
    if (canceller) {
        const long long heldBefore = canceller->held();
        canceller->process(reinterpret_cast<const int16_t *>(buffer), size / 2, m_cleaned);
        if (*atMs != CaptureTimeline::kNoStamp)
            *atMs -= heldBefore * 1000 / flvOutput::kSampleRate;
        const int bytes = int(m_cleaned.size() * sizeof(int16_t));
        if (bytes != size) {
            std::free(buffer);
            buffer = bytes > 0 ? static_cast<uint8_t *>(std::malloc(size_t(bytes))) : nullptr;
            size = buffer ? bytes : 0;
        }
        if (buffer)
            std::memcpy(buffer, m_cleaned.data(), size_t(size));
    }
    if (!buffer)
        return;
    if (m_muted)
        std::memset(buffer, 0, size_t(size));
    m_meter.measure(reinterpret_cast<const int16_t *>(buffer), size / 2);
}

audioCaptureThread::~audioCaptureThread()
{
    // Derived parts are gone already: the owner stops the thread first.
    m_run.stop();
    wait();
    closeDevice();
}

CaptureInput::Result audioCaptureThread::openDevice(const QString &source)
{
    if (isRunning() && !wait(3000)) {
        TAVI_LOG_WARN("audio capture: the last capture has not ended");
        return CaptureInput::InputFailed;
    }
    closeDevice();
    QString formatName, url;
    if (!platformInput(&formatName, &url)) {
        TAVI_LOG_WARN("audio capture: no microphone found");
        return CaptureInput::InputFailed;
    }
    if (!source.isEmpty())
        url = source;
    {
        std::lock_guard<std::mutex> lock(m_cancellerLock);
        m_sourceName = url;
    }
    // Ask for the encoder's own rate and layout; whatever comes is converted.
    AVDictionary *options = nullptr;
    av_dict_set_int(&options, "sample_rate", flvOutput::kSampleRate, 0);
    av_dict_set_int(&options, "channels", flvOutput::kChannels, 0);
    // 10 ms fragments: PulseAudio otherwise hands a monitor over in blocks
    // of up to seconds, and each fragment is heard that much later.
    if (formatName == QLatin1String("pulse"))
        av_dict_set_int(&options, "fragment_size", flvOutput::kSampleRate / 100 * flvOutput::kChannels * 2, 0);
    const CaptureInput::Result opened =
        m_input.open(formatName.toUtf8().constData(), url, AVMEDIA_TYPE_AUDIO, &options);
    av_dict_free(&options);
    return opened;
}

void audioCaptureThread::closeDevice()
{
    m_input.close();
}

void audioCaptureThread::startCapture()
{
    if (!m_input.isOpen() || isRunning())
        return;
    m_startMs = QDateTime::currentMSecsSinceEpoch();
    m_meter.reset();
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
    if (pts == AV_NOPTS_VALUE || !m_input.isOpen())
        return CaptureTimeline::kNoStamp;
    const long long wallMs = m_input.toMs(pts);
    return CaptureTimeline::captureTime(wallMs, QDateTime::currentMSecsSinceEpoch(), capturedMs());
}

void audioCaptureThread::deliverSilence(long long samples)
{
    if (samples <= 0)
        return;
    const size_t size = size_t(samples) * flvOutput::kChannels * 2;
    auto *buffer = static_cast<uint8_t *>(std::calloc(size, 1));
    if (!buffer)
        return;
    m_meter.measure(reinterpret_cast<const int16_t *>(buffer), (long long)(size / 2));
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
    AVFrame *frame = m_input.frame();
    const int sent = avcodec_send_packet(m_input.decoder(), packet);
    av_packet_unref(packet);
    // The sound is lost till the device sends what decodes; told once a run.
    if (sent < 0 && sent != AVERROR(EAGAIN) && !m_decodeFailed) {
        m_decodeFailed = true;
        TAVI_LOG_WARN("audio capture: the microphone sends sound that does not decode");
    }
    while (avcodec_receive_frame(m_input.decoder(), frame) == 0) {
        int size = 0;
        uint8_t *buffer = toStereo(frame, &size);
        // The device stamps each block with the wall time it was heard, so
        // sound and pictures of one moment get the same time and the
        // encoder never waits longer than the device's own latency.
        long long atMs = capturedAtMs(frame);
        const bool converted = buffer != nullptr;
        treat(buffer, size, &atMs);
        // All of it waits in the canceller for a whole frame.
        if (converted && !buffer) {
            av_frame_unref(frame);
            continue;
        }
        settleBlock(timeline, buffer, size, atMs);
        av_frame_unref(frame);
    }
}

void audioCaptureThread::run()
{
    tavi::ensureSignalStack();
    if (!m_input.isOpen() || !hasReceiver()) {
        closeDevice();
        loopEnded();
        return;
    }
    AVPacket *packet = av_packet_alloc();
    CaptureTimeline timeline(flvOutput::kSampleRate);
    m_settler = StampSettler(flvOutput::kSampleRate);
    m_decodeFailed = false;
    while (packet && (m_run.running() || drainingTail(timeline))) {
        if (!m_input.read(packet, paused, m_run))
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
    m_run.stop();
    closeDevice();
}
