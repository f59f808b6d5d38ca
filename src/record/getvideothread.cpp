#include "record/getvideothread.h"

#include "base/logging.h"
#include "base/picturefit.h"
#include "base/signalstack.h"

#include "record/picturecompositor.h"
#include "record/savevideothread.h"
#include "record/screencast.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

#include <QDateTime>

namespace {
// A class picture's bounds: a larger desktop costs every student a 4K
// decode and spreads the same bits over four times the pixels.
constexpr int kClassLongSide = 1920;
constexpr int kClassShortSide = 1080;
} // namespace

GetVideoThread::GetVideoThread(QObject *parent) : QThread(parent) {}

QSize GetVideoThread::classPictureSize(int width, int height)
{
    if (width < 2 || height < 2)
        return QSize(qMax(0, width) & ~1, qMax(0, height) & ~1);
    const bool portrait = height > width;
    const int maxW = portrait ? kClassShortSide : kClassLongSide;
    const int maxH = portrait ? kClassLongSide : kClassShortSide;
    if (width <= maxW && height <= maxH)
        return QSize(width & ~1, height & ~1);
    const double scale = qMin(double(maxW) / width, double(maxH) / height);
    const int w = qBound(2, int(width * scale + 0.5) & ~1, maxW);
    const int h = qBound(2, int(height * scale + 0.5) & ~1, maxH);
    return QSize(w, h);
}

GetVideoThread::~GetVideoThread()
{
    // Also ends a wait on the portal's dialog.
    stopCapture();
    wait();
    closeDevice();
}

CaptureInput::Result GetVideoThread::openDevice(int mode)
{
    // The previous capture must have released its device first.
    if (isRunning() && !wait(3000)) {
        TAVI_LOG_WARN("video capture: the last capture has not ended");
        return CaptureInput::InputFailed;
    }
    closeDevice();
    if (mode == 0 && ScreenCast::waylandSession()) {
        // The portal is asked on the capture thread; until the user has
        // chosen a monitor its size is the one remembered from the last time.
        int width = 0, height = 0;
        ScreenCast::rememberedSize(&width, &height);
        const QSize size = classPictureSize(width, height);
        m_useScreenCast = true;
        setPictureSize(size.width(), size.height());
        return CaptureInput::Ready;
    }
    QString formatName, url;
    if (!platformInput(mode, &formatName, &url)) {
        TAVI_LOG_WARN("video capture: no camera found");
        return CaptureInput::InputFailed;
    }
    // The desktop at the encoder's rate: x11grab's own default (NTSC's 29.97)
    // would grab and convert a picture in six only for the encoder to drop.
    const auto open = [&](const QRect &area) {
        AVDictionary *options = nullptr;
        if (mode == 0)
            av_dict_set_int(&options, "framerate", flvOutput::kFrameRate, 0);
        if (mode == 0 && area.width() >= 2 && area.height() >= 2) {
            const QByteArray size = QByteArray::number(area.width()) + 'x' + QByteArray::number(area.height());
            av_dict_set(&options, "video_size", size.constData(), 0);
            av_dict_set_int(&options, "grab_x", area.x(), 0);
            av_dict_set_int(&options, "grab_y", area.y(), 0);
        }
        const CaptureInput::Result opened = openInput(formatName.toUtf8().constData(), url, &options);
        av_dict_free(&options);
        return opened;
    };
    CaptureInput::Result opened = open(m_captureArea);
    // A monitor that went away since it was chosen: the whole screen.
    if (opened != CaptureInput::Ready && mode == 0 && !m_captureArea.isEmpty())
        opened = open(QRect());
    return opened;
}

CaptureInput::Result GetVideoThread::openInput(const char *formatName, const QString &url, AVDictionary **options)
{
    closeDevice();
    const CaptureInput::Result opened = m_input.open(formatName, url, AVMEDIA_TYPE_VIDEO, options);
    if (opened != CaptureInput::Ready)
        return opened;
    // 4:2:0 needs even sizes; an odd last row or column is left out.
    const QSize size = classPictureSize(m_input.decoder()->width, m_input.decoder()->height);
    setPictureSize(size.width(), size.height());
    return CaptureInput::Ready;
}

void GetVideoThread::setPictureSize(int width, int height)
{
    m_width = width;
    m_height = height;
    if (encoder)
        encoder->setVideoSize(m_width, m_height);
    if (m_compositor)
        m_compositor->setPictureSize(QSize(m_width, m_height));
}

void GetVideoThread::closeDevice()
{
    m_useScreenCast = false;
    m_input.close();
}

void GetVideoThread::startCapture()
{
    if ((!m_input.isOpen() && !m_useScreenCast) || isRunning())
        return;
    m_captureFailed = false;
    m_failure = PictureBroken;
    if (m_useScreenCast) {
        std::lock_guard<std::mutex> lock(m_screenCastMutex);
        m_screenCast = std::make_shared<ScreenCast>();
    }
    m_run.start();
    start(QThread::InheritPriority);
}

void GetVideoThread::stopCapture()
{
    paused = false;
    m_run.stop();
    std::lock_guard<std::mutex> lock(m_screenCastMutex);
    if (m_screenCast)
        m_screenCast->cancel();
}

void GetVideoThread::pauseCapture()
{
    paused = true;
}

void GetVideoThread::resumeCapture()
{
    firstFrameTaken = false;
    paused = false;
}

int GetVideoThread::stampPicture()
{
    // The stamps run on the wall clock from the first picture after a start
    // or a resume, on from the encoder's time then: paused time is left out.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (!firstFrameTaken) {
        m_stampStartMs = now;
        m_stampBaseMs = qint64(encoder->videoClockMs.load());
        firstFrameTaken = true;
    }
    return int(now - m_stampStartMs + m_stampBaseMs);
}

void GetVideoThread::pushPicture(const AVFrame *picture, int timestampMs)
{
    const int w = m_width, h = m_height;
    const int ySize = w * h;
    // The camera alone: the desktop is only the class's clock.
    if (m_compositor && m_compositor->coversDesktop()) {
        const int bytes = ySize * 3 / 2;
        uint8_t *buffer = encoder->pictureBuffer(bytes);
        if (buffer && m_compositor->compose(buffer, w, h)) {
            m_cameraShown = true;
            previewComposed(buffer);
            encoder->pushVideoFrame(buffer, timestampMs, bytes);
            return;
        }
        // Gone meanwhile: the desktop after all.
        encoder->giveBackPictureBuffer(buffer, bytes);
    }
    // A picture no larger than the class's is converted as it is, less an
    // odd last row or column; a larger one is scaled down with an area
    // filter, which keeps thin strokes of text where others drop them.
    bool scaled = (picture->width & ~1) != w || (picture->height & ~1) != h;
    int sourceW = scaled ? picture->width : w;
    int sourceH = scaled ? picture->height : h;
    const uint8_t *const *sourcePlanes = picture->data;
    const int *sourceLines = picture->linesize;
    // A 4K desktop for a 1080p class: halved at once, then only converted.
    const uint8_t *half[4] = {nullptr, nullptr, nullptr, nullptr};
    const int halfLines[4] = {FFALIGN(w * 4, 64), 0, 0, 0};
    const AVPixelFormat format = AVPixelFormat(picture->format);
    if (scaled && picture->width == 2 * w && picture->height == 2 * h && picture->linesize[0] >= picture->width * 4 &&
        (format == AV_PIX_FMT_BGR0 || format == AV_PIX_FMT_BGRA || format == AV_PIX_FMT_RGB0 ||
         format == AV_PIX_FMT_RGBA || format == AV_PIX_FMT_0RGB || format == AV_PIX_FMT_0BGR)) {
        // Padding after the last row for the converter's whole SIMD blocks.
        m_half.resize(size_t(halfLines[0]) * size_t(h) + 64);
        halvePicture32(picture->data[0], picture->linesize[0], m_half.data(), halfLines[0], w, h);
        half[0] = m_half.data();
        sourcePlanes = half;
        sourceLines = halfLines;
        scaled = false;
        sourceW = w;
        sourceH = h;
    }
    SwsContext *scaler =
        m_scaler.get(sourceW, sourceH, picture->format, w, h, AV_PIX_FMT_YUV420P, scaled ? SWS_AREA : SWS_BICUBIC);
    const int bytes = ySize * 3 / 2;
    uint8_t *buffer = encoder->pictureBuffer(bytes);
    if (!scaler || !buffer || picture->width < w || picture->height < h) {
        encoder->giveBackPictureBuffer(buffer, bytes);
        return;
    }
    uint8_t *planes[4] = {buffer, buffer + ySize, buffer + ySize * 5 / 4, nullptr};
    int lines[4] = {w, w / 2, w / 2, 0};
    sws_scale(scaler, sourcePlanes, sourceLines, 0, sourceH, planes, lines);
    finishPicture(buffer, bytes, timestampMs);
}

void GetVideoThread::finishPicture(uint8_t *buffer, int bytes, int timestampMs)
{
    m_cameraShown = m_compositor && m_compositor->compose(buffer, m_width, m_height);
    if (m_cameraShown)
        previewComposed(buffer);
    encoder->pushVideoFrame(buffer, timestampMs, bytes);
}

void GetVideoThread::previewComposed(const uint8_t *buffer)
{
    const int w = m_width, h = m_height, ySize = w * h;
    const uint8_t *planes[4] = {buffer, buffer + ySize, buffer + ySize * 5 / 4, nullptr};
    const int lines[4] = {w, w / 2, w / 2, 0};
    previewPlanes(planes, lines, w, h, AV_PIX_FMT_YUV420P);
}

void GetVideoThread::setPreview(int width, int height, int intervalMs)
{
    const bool on = width > 0 && height > 0;
    m_previewIntervalMs = qMax(1, intervalMs);
    m_previewSize = on ? (qint64(width) << 32 | qint64(height)) : 0;
}

void GetVideoThread::previewPicture(const AVFrame *picture)
{
    if (!m_cameraShown)
        previewPlanes(picture->data, picture->linesize, picture->width, picture->height, picture->format);
}

void GetVideoThread::previewPlanes(const uint8_t *const planes[4], const int lines[4], int w, int h, int format)
{
    const qint64 size = m_previewSize.load();
    if (size == 0)
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now - m_lastPreviewMs < m_previewIntervalMs.load() && now >= m_lastPreviewMs)
        return;
    m_lastPreviewMs = now;
    // In the desktop's proportions, averaged so that its text stays
    // readable: a few pictures a second, so the whole picture is read.
    const QSize own(w, h);
    const QSize shown = fittedPictureSize(own, QSize(int(size >> 32), int(size & 0xffffffff)));
    if (shown.isEmpty())
        return;
    const int sw = shown.width(), sh = shown.height();
    // The desktop's own pixels (X11's and PipeWire's usual order) are made
    // smaller by box averages, halving while twice the size or more, and by
    // Qt's smooth scaling for the rest: swscale's area filter takes 30 ms or
    // more a picture for these formats.
    if ((format == AV_PIX_FMT_BGR0 || format == AV_PIX_FMT_BGRA) && shown != own && lines[0] >= w * 4) {
        const uint8_t *pixels = planes[0];
        int line = lines[0], pw = w, ph = h;
        for (int pass = 0; pass < 2 && pw / 2 >= sw && ph / 2 >= sh; ++pass) {
            std::vector<uint8_t> &half = m_previewHalf[pass];
            const int halfLine = FFALIGN(pw / 2 * 4, 64);
            half.resize(size_t(halfLine) * size_t(ph / 2) + 64);
            halvePicture32(pixels, line, half.data(), halfLine, pw / 2, ph / 2);
            pixels = half.data(), line = halfLine, pw /= 2, ph /= 2;
        }
        const QImage view(pixels, pw, ph, line, QImage::Format_RGB32);
        QImage image = view.scaled(sw, sh, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (image.constBits() == view.constBits())
            image = view.copy();
        image.setText(QStringLiteral("source"), QStringLiteral("%1x%2").arg(w).arg(h));
        emit sig_preview(image);
        return;
    }
    SwsContext *scaler =
        m_previewScaler.get(w, h, format, sw, sh, AV_PIX_FMT_RGB32, shown == own ? SWS_BICUBIC : SWS_AREA);
    if (!scaler)
        return;
    // The converter writes whole SIMD blocks past a row's end: rows aligned
    // to 64 bytes and padding after the last, as FFmpeg's own frames.
    const int stride = FFALIGN(sw * 4, 64);
    auto *pixels = static_cast<uint8_t *>(av_malloc(size_t(stride) * size_t(sh) + 64));
    if (!pixels)
        return;
    QImage image(pixels, sw, sh, stride, QImage::Format_RGB32, av_free, pixels);
    if (image.isNull()) {
        av_free(pixels);
        return;
    }
    uint8_t *target[4] = {pixels, nullptr, nullptr, nullptr};
    int targetLines[4] = {stride, 0, 0, 0};
    sws_scale(scaler, planes, lines, 0, h, target, targetLines);
    image.setText(QStringLiteral("source"), QStringLiteral("%1x%2").arg(w).arg(h));
    emit sig_preview(image);
}

bool GetVideoThread::decodePacket(AVPacket *packet, int timestampMs)
{
    AVFrame *frame = m_input.frame();
    int result = avcodec_send_packet(m_input.decoder(), packet);
    av_packet_unref(packet);
    if (result < 0 && result != AVERROR(EAGAIN))
        return false;
    while ((result = avcodec_receive_frame(m_input.decoder(), frame)) == 0) {
        pushPicture(frame, timestampMs);
        previewPicture(frame);
        av_frame_unref(frame);
    }
    return result == AVERROR(EAGAIN) || result == AVERROR_EOF;
}

void GetVideoThread::run()
{
    tavi::ensureSignalStack();
    if (m_useScreenCast && encoder) {
        runScreenCast();
        return;
    }
    if (!m_input.isOpen() || !encoder) {
        closeDevice();
        if (encoder)
            encoder->captureEnded(saveVideoThread::PictureCapture);
        return;
    }
    AVPacket *packet = av_packet_alloc();
    firstFrameTaken = false;
    bool broken = false;
    while (m_run.running() && packet && !broken) {
        if (!m_input.read(packet, paused, m_run))
            continue;
        broken = !decodePacket(packet, stampPicture());
    }
    av_packet_free(&packet);
    if (broken)
        TAVI_LOG_WARN("video capture: a picture could not be decoded; the capture ends");
    captureEnded(broken, PictureBroken);
}

void GetVideoThread::captureEnded(bool failed, Failure failure)
{
    encoder->captureEnded(saveVideoThread::PictureCapture);
    m_scaler.reset();
    m_previewScaler.reset();
    std::vector<uint8_t>().swap(m_half);
    for (std::vector<uint8_t> &half : m_previewHalf)
        std::vector<uint8_t>().swap(half);
    m_lastPreviewMs = 0;
    m_cameraShown = false;
    paused = false;
    m_run.stop();
    closeDevice();
    if (failed) {
        m_failure = failure;
        m_captureFailed = true;
        emit sig_captureFailed();
    }
}
