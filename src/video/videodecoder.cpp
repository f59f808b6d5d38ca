#include "video/videodecoder.h"

#include "base/pictureconverter.h"
#include "base/picturefit.h"
#include "base/signalstack.h"

#include "video/videostate.h"

#include <QImage>
#include <QMetaObject>

#include <algorithm>

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/imgutils.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

namespace {

// Row alignment of the pictures handed to the converter, as FFmpeg's own
// frame buffers have it (the widest SIMD registers, AVX-512).
constexpr int kRowAlign = 64;

struct Decoder
{
    VideoState *is = nullptr;
    bool paced = false;
    // Built again only when the pictures' size or format changes.
    PictureConverter scaler;
    // Picture buffers of the current size, back in the pool once every
    // image that wraps one is gone: a class's hour of pictures reuses a few
    // buffers instead of asking the allocator for megabytes 25 times a
    // second from one thread and giving them back from another.
    AVBufferPool *pool = nullptr;
    size_t poolBytes = 0;
    AVFrame *frame = nullptr;
    bool shownFirst = false;
};

bool wallClock(const VideoState *is)
{
    return !is->audioOpen || is->audioDone;
}

// Waits while paused; a wall clock is held back by the time spent paused.
void waitWhilePaused(VideoState *is)
{
    if (!is->paused)
        return;
    const double start = steadySeconds();
    is->wait([is] { return !is->paused || is->quit; });
    if (wallClock(is))
        is->shiftPlayClock(start - steadySeconds());
}

// The picture's size in square pixels: a stream whose pixels are not
// square is shown at its intended proportions.
QSize squareSize(const AVFrame *frame)
{
    const AVRational sar = frame->sample_aspect_ratio;
    if (sar.num <= 0 || sar.den <= 0 || sar.num == sar.den)
        return QSize(frame->width, frame->height);
    const double w = double(frame->width) * sar.num / sar.den;
    if (!(w >= 1 && w <= 16384))
        return QSize(frame->width, frame->height);
    return QSize(int(w + 0.5), frame->height);
}

void emitPicture(Decoder &d, AVFrame *frame, double pts)
{
    VideoState *is = d.is;
    if (frame->width <= 0 || frame->height <= 0 || frame->format < 0 || !frame->data[0])
        return;
    // Converted at the size it is shown at, here rather than by the GUI
    // thread, with a filter that keeps text: an area average when made
    // smaller, bicubic otherwise; 1:1 where the area has room.
    const int64_t area = is->displayArea.load();
    const QSize own = squareSize(frame);
    const QSize shown = fittedPictureSize(own, QSize(int(area >> 32), int(area & 0xffffffff)));
    const int width = shown.width();
    const int height = shown.height();
    const bool smaller = width < frame->width || height < frame->height;
    SwsContext *scaler = d.scaler.get(frame->width, frame->height, frame->format, width, height, AV_PIX_FMT_RGB32,
                                      smaller ? SWS_AREA : SWS_BICUBIC);
    if (!scaler)
        return;
    // A picture buffer of its own each time (from the pool): the image that
    // wraps it is the copy that crosses threads. FFmpeg's converters write
    // whole SIMD blocks, up to 64 bytes past a row of a width that is no
    // multiple of 16 pixels, so the buffer is laid out as FFmpeg lays out its
    // own frames: rows aligned to 64 bytes, and padding after the last one.
    if (av_image_check_size(unsigned(width), unsigned(height), 0, nullptr) < 0)
        return;
    const int stride = FFALIGN(width * 4, kRowAlign);
    const size_t bytes = size_t(stride) * size_t(height) + kRowAlign;
    if (bytes != d.poolBytes) {
        // Buffers still out are freed as they come back.
        av_buffer_pool_uninit(&d.pool);
        d.pool = av_buffer_pool_init(bytes, nullptr);
        d.poolBytes = d.pool ? bytes : 0;
    }
    AVBufferRef *buffer = d.pool ? av_buffer_pool_get(d.pool) : nullptr;
    if (!buffer)
        return;
    uint8_t *pixels = buffer->data;
    const auto giveBack = [](void *ref) {
        auto *b = static_cast<AVBufferRef *>(ref);
        av_buffer_unref(&b);
    };
    QImage image(pixels, width, height, stride, QImage::Format_RGB32, giveBack, buffer);
    if (image.isNull()) {
        av_buffer_unref(&buffer);
        return;
    }
    uint8_t *planes[4] = {pixels, nullptr, nullptr, nullptr};
    int strides[4] = {stride, 0, 0, 0};
    sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, planes, strides);
    image.setText(QStringLiteral("pts"), QString::number(pts, 'f', 6));
    // The screen draws a picture of another size (one converted before a
    // resize) in these proportions.
    image.setText(QStringLiteral("source"), QStringLiteral("%1x%2").arg(own.width()).arg(own.height()));
    if (is->player)
        QMetaObject::invokeMethod(is->player, "sig_GetOneFrame", Qt::DirectConnection, Q_ARG(QImage, image));
}

// The picture's time in stream seconds; moves the video clock past it.
double pictureTime(VideoState *is, const AVFrame *frame)
{
    // A picture without a time stamp takes its time from the running clock.
    double pts = is->videoClock;
    if (frame->best_effort_timestamp != AV_NOPTS_VALUE && is->videoTimeBase.den) {
        pts = double(frame->best_effort_timestamp) * av_q2d(is->videoTimeBase);
        is->videoClock = pts;
    }
    double delay = is->frameDuration;
    delay += frame->repeat_pict * delay * 0.5;
    is->videoClock = is->videoClock + delay;
    return pts;
}

// Live pictures on the wall clock keep close to the newest one.
void followWallClock(VideoState *is, double pts)
{
    if (!wallClock(is))
        return;
    if (!is->playClockValid) {
        is->playClockOffset = pts - steadySeconds();
        is->playClockValid = true;
    }
    if (is->live) {
        const double behind = is->videoQueuedPts - playPosition(is);
        if (behind > kLiveBacklogHigh)
            is->shiftPlayClock(behind - kLiveBacklogLow);
    }
}

// Waits until the play clock reaches pts: false when a seek made the
// picture stale. The wait ends at the picture's due time, or earlier when
// the audio callback moves the clock other than with time (or hands over
// the audio the clock is held at), a pause, a seek or a stop.
bool waitForTurn(VideoState *is, double pts, int serial)
{
    while (!is->quit) {
        waitWhilePaused(is);
        if (is->seekSerial != serial)
            return false;
        // Before the clock is read: a hand-over after it counts as a move.
        is->clockWaiter = true;
        const int moves = is->clockMoves;
        const bool held = playPositionHeld(is);
        const double ahead = pts - playPosition(is);
        if (ahead <= 0)
            break;
        if (!held)
            is->clockWaiter = false;
        const auto changed = [&] {
            return is->quit || is->paused || is->seekSerial != serial || is->clockMoves != moves;
        };
        if (held)
            is->wait(changed);
        else
            is->waitUntil(changed, steadyAfter(ahead));
    }
    is->clockWaiter = false;
    return true;
}

void showFrame(Decoder &d, AVFrame *frame)
{
    VideoState *is = d.is;
    const int serial = is->seekSerial;
    const double pts = pictureTime(is, frame);
    if (!d.paced) {
        is->seekFlagVideo = 0;
        emitPicture(d, frame, pts);
        return;
    }
    if (is->seekFlagVideo && pts < is->seekTime)
        return;
    is->seekFlagVideo = 0;

    // The first picture of a run is shown as soon as it decodes: a class
    // joined mid-stream shows its picture while the sound device starts.
    const bool first = !d.shownFirst;
    d.shownFirst = true;
    if (is->sync && !first) {
        followWallClock(is, pts);
        if (!waitForTurn(is, pts, serial))
            return;
    }
    if (!is->quit)
        emitPicture(d, frame, pts);
}

void receiveFrames(Decoder &d)
{
    AVCodecContext *codec = d.is->videoCodec;
    while (!d.is->quit && avcodec_receive_frame(codec, d.frame) == 0) {
        showFrame(d, d.frame);
        av_frame_unref(d.frame);
    }
}

void decodePacket(Decoder &d, AVPacket *packet)
{
    AVCodecContext *codec = d.is->videoCodec;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int ret = avcodec_send_packet(codec, packet);
        receiveFrames(d);
        if (ret != AVERROR(EAGAIN))
            break;
    }
}

// Hands the decoder's held-back pictures out at the end of the input.
void drain(Decoder &d)
{
    decodePacket(d, nullptr);
    avcodec_flush_buffers(d.is->videoCodec);
}

int decodeLoop(VideoState *is, bool paced)
{
    Decoder d;
    d.is = is;
    d.paced = paced;
    d.frame = av_frame_alloc();
    AVPacket *packet = av_packet_alloc();
    while (d.frame && packet && is->videoCodec && !is->quit) {
        waitWhilePaused(is);
        if (takePacket(is, &is->videoQueue, kVideoQueueLimit, packet, true) <= 0)
            break;
        if (isEndPacket(packet)) {
            drain(d);
            // The paced player ends with its input; the other waits for a
            // seek or the stop.
            if (paced)
                break;
        } else if (isFlushPacket(packet)) {
            avcodec_flush_buffers(is->videoCodec);
        } else if (packet->size > 0) {
            decodePacket(d, packet);
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    av_frame_free(&d.frame);
    d.scaler.reset();
    av_buffer_pool_uninit(&d.pool);
    is->requestQuit();
    is->decoderFinished = true;
    is->wake();
    return 0;
}

} // namespace

int videoDecodeThread(void *state)
{
    tavi::ensureSignalStack();
    return decodeLoop(static_cast<VideoState *>(state), true);
}

int videoPlayDecodeThread(void *state)
{
    tavi::ensureSignalStack();
    return decodeLoop(static_cast<VideoState *>(state), false);
}
