#include "record/captureinput.h"

#include "base/logging.h"
#include "record/capturerun.h"
#include "record/devmag.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
}

namespace {
QString errorText(int error)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return QString::fromUtf8(text);
}
} // namespace

CaptureInput::Result CaptureInput::open(const char *formatName, const QString &url, AVMediaType type,
                                        AVDictionary **options)
{
    close();
    m_lastError = 0;
    devMag::instance(); // registers the input devices
    const char *kind = av_get_media_type_string(type);
    const AVInputFormat *format = formatName ? av_find_input_format(formatName) : nullptr;
    if (formatName && !format) {
        TAVI_LOG_WARN(kind << " input: FFmpeg has no input format " << formatName);
        return InputFailed;
    }
    int result = avformat_open_input(&m_format, url.toUtf8().constData(), format, options);
    if (result < 0) {
        m_lastError = result;
        TAVI_LOG_WARN(kind << " input: cannot open " << (formatName ? formatName : "") << " '" << url
                           << "': " << errorText(result));
        m_format = nullptr;
        return InputFailed;
    }
    // A picture's size is known only once a packet has been probed (image files).
    if (type == AVMEDIA_TYPE_VIDEO && avformat_find_stream_info(m_format, nullptr) < 0)
        TAVI_LOG_WARN(kind << " input: '" << url << "' could not be probed; its stream is taken as it is");
    m_stream = av_find_best_stream(m_format, type, -1, -1, nullptr, 0);
    if (m_stream < 0) {
        TAVI_LOG_WARN(kind << " input: '" << url << "' has no " << kind << " stream");
        close();
        return InputFailed;
    }
    const AVCodecParameters *parameters = m_format->streams[m_stream]->codecpar;
    const AVCodec *codec = avcodec_find_decoder(parameters->codec_id);
    m_decoder = codec ? avcodec_alloc_context3(codec) : nullptr;
    result = !m_decoder ? AVERROR_DECODER_NOT_FOUND : avcodec_parameters_to_context(m_decoder, parameters);
    if (result >= 0)
        result = avcodec_open2(m_decoder, codec, nullptr);
    if (result < 0) {
        TAVI_LOG_WARN(kind << " input: cannot decode " << avcodec_get_name(parameters->codec_id) << " of '" << url
                           << "': " << errorText(result));
        close();
        return DecoderFailed;
    }
    // 4:2:0 pictures need two rows and two columns.
    if (type == AVMEDIA_TYPE_VIDEO && (m_decoder->width < 2 || m_decoder->height < 2)) {
        TAVI_LOG_WARN(kind << " input: '" << url << "' has pictures of " << m_decoder->width << "x"
                           << m_decoder->height);
        close();
        return DecoderFailed;
    }
    m_frame = av_frame_alloc();
    if (!m_frame) {
        close();
        return DecoderFailed;
    }
    m_readFailing = false;
    return Ready;
}

void CaptureInput::close()
{
    av_frame_free(&m_frame);
    avcodec_free_context(&m_decoder);
    if (m_format)
        avformat_close_input(&m_format);
    m_stream = -1;
}

long long CaptureInput::toMs(int64_t pts) const
{
    return av_rescale_q(pts, m_format->streams[m_stream]->time_base, AVRational{1, 1000});
}

bool CaptureInput::read(AVPacket *packet, bool paused, CaptureRun &run)
{
    const int result = av_read_frame(m_format, packet);
    m_lastError = result < 0 ? result : 0;
    if (result < 0) {
        if (!m_readFailing)
            TAVI_LOG_WARN("capture: reading the device failed (" << errorText(result) << "); trying again");
        m_readFailing = true;
        run.pauseBeforeRetry(10);
        return false;
    }
    m_readFailing = false;
    if (paused || packet->stream_index != m_stream) {
        av_packet_unref(packet);
        return false;
    }
    return true;
}
