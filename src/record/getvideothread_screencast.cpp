#include "record/getvideothread.h"

#include "record/savevideothread.h"
#include "record/screencast.h"

#include "base/logging.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

namespace {
// The class runs at 25 pictures a second.
constexpr auto kPicturePeriod = std::chrono::milliseconds(40);
// The first time the user chooses in the portal's dialog: time to read it.
constexpr int kPortalTimeoutMs = 180000;

GetVideoThread::Failure failureOf(ScreenCast::Result result)
{
    switch (result) {
    case ScreenCast::Missing:
        return GetVideoThread::ScreenShareMissing;
    case ScreenCast::Refused:
        return GetVideoThread::ScreenShareRefused;
    default:
        return GetVideoThread::ScreenShareFailed;
    }
}
// The encoder's picture (YUV 4:2:0, w x h) with the desktop's last picture
// in it: another size keeps its shape, centred between black bars.
struct CentredPicture
{
    CentredPicture(int width, int height)
        : w(width), h(height), ySize(size_t(width) * size_t(height)), yuv(ySize * 3 / 2)
    {
    }

    // False when the picture could not be converted.
    bool take(const ScreenCast::Picture &picture, PictureConverter &scaler)
    {
        if (picture.width != convertedWidth || picture.height != convertedHeight) {
            std::memset(yuv.data(), 16, ySize);
            std::memset(yuv.data() + ySize, 128, ySize / 2);
            convertedWidth = picture.width;
            convertedHeight = picture.height;
        }
        const double scale = std::min(double(w) / picture.width, double(h) / picture.height);
        const int dw = std::max(2, int(picture.width * scale) & ~1);
        const int dh = std::max(2, int(picture.height * scale) & ~1);
        const int x = ((w - dw) / 2) & ~1, y = ((h - dh) / 2) & ~1;
        SwsContext *context = scaler.get(picture.width, picture.height, picture.format, dw, dh, AV_PIX_FMT_YUV420P,
                                         dw < picture.width || dh < picture.height ? SWS_AREA : SWS_BICUBIC);
        if (!context)
            return false;
        const uint8_t *source[4] = {picture.data.data(), nullptr, nullptr, nullptr};
        const int sourceLines[4] = {picture.stride, 0, 0, 0};
        uint8_t *planes[4] = {yuv.data() + size_t(y) * w + x, yuv.data() + ySize + size_t(y / 2) * (w / 2) + x / 2,
                              yuv.data() + ySize * 5 / 4 + size_t(y / 2) * (w / 2) + x / 2, nullptr};
        const int lines[4] = {w, w / 2, w / 2, 0};
        sws_scale(context, source, sourceLines, 0, picture.height, planes, lines);
        return true;
    }

    const int w, h;
    const size_t ySize;
    std::vector<uint8_t> yuv;
    int convertedWidth = 0, convertedHeight = 0;
};
} // namespace

void GetVideoThread::runScreenCast()
{
    std::shared_ptr<ScreenCast> cast;
    {
        std::lock_guard<std::mutex> lock(m_screenCastMutex);
        cast = m_screenCast;
    }
    const ScreenCast::Result opened = cast->open(kPortalTimeoutMs);
    // A stop during the dialog is no failure.
    bool failed = opened != ScreenCast::Opened && m_run.running();
    Failure failure = failureOf(opened);
    // The desktop as last converted: the compositor sends nothing while
    // nothing changes, and the class goes on showing it.
    CentredPicture desktop(m_width, m_height);
    bool haveYuv = false;
    ScreenCast::Picture picture;
    firstFrameTaken = false;
    bool firstPicture = true;
    auto next = std::chrono::steady_clock::now();
    while (opened == ScreenCast::Opened && m_run.running()) {
        if (cast->ended()) {
            failed = m_run.running();
            failure = ScreenShareEnded;
            break;
        }
        if (cast->takePicture(&picture)) {
            haveYuv = desktop.take(picture, m_scaler) || haveYuv;
            // The teacher's preview, as for the X11 desktop.
            AVFrame view{};
            view.data[0] = picture.data.data();
            view.linesize[0] = picture.stride;
            view.width = picture.width;
            view.height = picture.height;
            view.format = picture.format;
            previewPicture(&view);
        }
        if (haveYuv && !paused) {
            const int bytes = int(desktop.yuv.size());
            uint8_t *buffer = encoder->pictureBuffer(bytes);
            if (buffer) {
                // The encoder waits for the first picture; the sound taken
                // while the user was at the dialog would run behind it.
                if (firstPicture)
                    encoder->audioChunks().clear();
                firstPicture = false;
                std::memcpy(buffer, desktop.yuv.data(), desktop.yuv.size());
                finishPicture(buffer, bytes, stampPicture());
            }
        }
        // Paced on the clock; a late turn does not bring a burst after it.
        const auto now = std::chrono::steady_clock::now();
        next += kPicturePeriod;
        if (next < now)
            next = now;
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - now);
        m_run.pace(int(wait.count()));
    }
    cast->close();
    {
        std::lock_guard<std::mutex> lock(m_screenCastMutex);
        m_screenCast.reset();
    }
    if (failed)
        TAVI_LOG_WARN("screen cast: the capture ended: " << cast->errorText().toUtf8().constData());
    captureEnded(failed, failure);
}
