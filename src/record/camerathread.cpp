#include "record/camerathread.h"

#include "base/logging.h"
#include "base/signalstack.h"
#include "record/devmag.h"
#include "record/flvoutput.h"
#include "record/picturecompositor.h"
#include "record/recordnotice.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <QElapsedTimer>

#include <cerrno>
#include <limits>

namespace {
// A camera's picture is never larger than this in a class: an inset is a
// fifth of it, and MJPEG at this size costs little to decode.
const char *const kCameraSize = "640x480";
// A paced input's longest wait for one picture: a time stamp that jumps
// does not hold the camera.
constexpr int kMaxPaceMs = 200;
} // namespace

CameraThread::CameraThread(std::shared_ptr<PictureCompositor> compositor, QObject *parent)
    : QThread(parent), m_compositor(std::move(compositor))
{
    // A start asked for while the last run was still ending.
    connect(this, &QThread::finished, this, [this] {
        if (m_wanted && !isRunning()) {
            m_run.start();
            start();
        }
    });
}

QString CameraThread::failureText(int failure)
{
    switch (failure) {
    case NotFound:
        return recordText::shown(recordText::kCameraNotFound);
    case Busy:
        return recordText::shown(recordText::kCameraBusy);
    case Lost:
        return recordText::shown(recordText::kCameraLost);
    default:
        return recordText::shown(recordText::kCameraFailed);
    }
}

CameraThread::~CameraThread()
{
    stopCamera();
    wait();
}

void CameraThread::setInput(const QString &formatName, const QString &name)
{
    std::lock_guard<std::mutex> lock(m_inputMutex);
    m_formatName = formatName;
    m_name = name;
}

void CameraThread::startCamera()
{
    m_wanted = true;
    if (isRunning())
        return;
    m_run.start();
    start();
}

void CameraThread::stopCamera()
{
    m_wanted = false;
    m_run.stop();
}

bool CameraThread::open(const QString &formatName, const QString &name, Failure *failure)
{
    const QByteArray format = formatName.toUtf8();
    const char *const formatArg = format.isEmpty() ? nullptr : format.constData();
    // A webcam: MJPEG at a small size where it offers it, else what it offers.
    const bool device = formatName == QLatin1String("v4l2");
    const int attempts = device ? 3 : 1;
    for (int attempt = 0; attempt < attempts && m_run.running(); ++attempt) {
        AVDictionary *options = nullptr;
        if (device && attempt == 0)
            av_dict_set(&options, "input_format", "mjpeg", 0);
        if (device && attempt < 2)
            av_dict_set(&options, "video_size", kCameraSize, 0);
        const CaptureInput::Result opened = m_input.open(formatArg, name, AVMEDIA_TYPE_VIDEO, &options);
        av_dict_free(&options);
        if (opened == CaptureInput::Ready)
            return true;
        if (m_input.lastError() == AVERROR(EBUSY)) {
            *failure = Busy;
            return false;
        }
    }
    *failure = OpenFailed;
    return false;
}

void CameraThread::run()
{
    tavi::ensureSignalStack();
    QString formatName, name;
    {
        std::lock_guard<std::mutex> lock(m_inputMutex);
        formatName = m_formatName;
        name = m_name;
    }
    Failure failure = NotFound;
    bool failed = false;
    if (name.isEmpty()) {
        const std::vector<DeviceEntry> cameras = devMag::instance()->cameras();
        formatName = devMag::instance()->videoFormatName();
        name = cameras.empty() ? QString() : cameras.front().displayName;
        failed = name.isEmpty();
    }
    if (!failed && !open(formatName, name, &failure))
        failed = m_run.running();
    if (!failed && m_run.running()) {
        TAVI_LOG_INFO("camera: " << formatName << " '" << name << "' " << m_input.decoder()->width << "x"
                                 << m_input.decoder()->height);
        emit sig_opened();
        failed = !readPictures();
        failure = Lost;
    }
    m_compositor->setCameraPicture(nullptr, QSize());
    m_input.close();
    m_scaler.reset();
    for (std::shared_ptr<std::vector<uint8_t>> &buffer : m_buffers)
        buffer.reset();
    if (failed) {
        TAVI_LOG_WARN("camera: " << (failure == Lost ? "ended" : "not opened") << " (" << int(failure) << ")");
        m_wanted = false;
        m_run.stop();
        emit sig_failed(failure);
    }
}

bool CameraThread::readPictures()
{
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = m_input.frame();
    // A file or a generator gives its pictures as fast as they are read:
    // they are paced on their time stamps, as a camera hands them.
    QElapsedTimer clock;
    long long firstMs = 0;
    QElapsedTimer failing;
    // Pictures that stand alone (MJPEG, raw) beyond the class's rate are not
    // decoded: the capture takes at most one per class picture.
    const AVCodecDescriptor *codec = avcodec_descriptor_get(m_input.decoder()->codec_id);
    const bool standAlone = codec && (codec->props & AV_CODEC_PROP_INTRA_ONLY);
    long long lastSlot = std::numeric_limits<long long>::min();
    bool ok = packet != nullptr;
    while (ok && m_run.running()) {
        if (!m_input.read(packet, false, m_run)) {
            const int error = m_input.lastError();
            if (error == AVERROR_EOF)
                ok = false;
            else if (error != 0 && !failing.isValid())
                failing.start();
            else if (error != 0 && failing.elapsed() >= kLostAfterMs)
                ok = false;
            continue;
        }
        failing.invalidate();
        if (packet->pts != AV_NOPTS_VALUE) {
            const long long at = m_input.toMs(packet->pts);
            if (!clock.isValid()) {
                clock.start();
                firstMs = at;
            }
            const long long wait = at - firstMs - clock.elapsed();
            if (wait > 0)
                m_run.pace(int(qMin<long long>(wait, kMaxPaceMs)));
            const long long slot = at * flvOutput::kFrameRate / 1000;
            if (standAlone && slot == lastSlot) {
                av_packet_unref(packet);
                continue;
            }
            lastSlot = slot;
        }
        int result = avcodec_send_packet(m_input.decoder(), packet);
        av_packet_unref(packet);
        // A broken picture of a camera is left out; the next may decode.
        if (result < 0 && result != AVERROR(EAGAIN))
            continue;
        while ((result = avcodec_receive_frame(m_input.decoder(), frame)) == 0) {
            takePicture(frame);
            av_frame_unref(frame);
        }
    }
    av_packet_free(&packet);
    return ok || !m_run.running();
}

void CameraThread::takePicture(const AVFrame *frame)
{
    const QSize size = m_compositor->cameraSize(QSize(frame->width, frame->height));
    if (size.isEmpty())
        return;
    const int w = size.width(), h = size.height();
    // Made smaller for the inset (cheap, at a fifth of the class's width),
    // larger and smooth for the camera alone.
    SwsContext *scaler = m_scaler.get(frame->width, frame->height, frame->format, w, h, AV_PIX_FMT_YUV420P,
                                      w < frame->width ? SWS_BILINEAR : SWS_BICUBIC);
    if (!scaler)
        return;
    const size_t ySize = size_t(w) * size_t(h);
    // Padding after the last row for the converter's whole SIMD blocks.
    std::shared_ptr<std::vector<uint8_t>> yuv = spareBuffer(ySize * 3 / 2 + 64);
    uint8_t *planes[4] = {yuv->data(), yuv->data() + ySize, yuv->data() + ySize * 5 / 4, nullptr};
    const int lines[4] = {w, w / 2, w / 2, 0};
    sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, planes, lines);
    m_compositor->setCameraPicture(std::move(yuv), size);
}

std::shared_ptr<std::vector<uint8_t>> CameraThread::spareBuffer(size_t bytes)
{
    // A slot never filled, or one whose buffer the compositor no longer
    // holds: only this pool has it, and nobody can take it from here.
    for (std::shared_ptr<std::vector<uint8_t>> &buffer : m_buffers) {
        if (!buffer) {
            buffer = std::make_shared<std::vector<uint8_t>>(bytes);
            return buffer;
        }
        if (buffer.use_count() == 1) {
            std::atomic_thread_fence(std::memory_order_acquire);
            buffer->resize(bytes);
            return buffer;
        }
    }
    return std::make_shared<std::vector<uint8_t>>(bytes);
}
