#include "video/mediainput.h"

#include "base/logging.h"
#include "base/streamaddress.h"
#include "video/videostate.h"

#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
}

bool isNetworkAddress(const QString &url)
{
    const int scheme = url.indexOf(QLatin1String("://"));
    if (scheme <= 0)
        return false;
    return url.left(scheme).compare(QLatin1String("file"), Qt::CaseInsensitive) != 0;
}

bool isLiveInput(const QString &url, long long duration)
{
    if (!isNetworkAddress(url))
        return false;
    static const char *const streaming[] = {"rtmp", "rtmps", "rtmpt", "rtmpe", "rtmpte", "rtmpts",
                                            "rtsp", "rtsps", "rtp",   "udp",   "srt",    "tcp"};
    const QString scheme = url.left(url.indexOf(QLatin1String("://"))).toLower();
    for (const char *name : streaming)
        if (scheme == QLatin1String(name))
            return true;
    return duration == AV_NOPTS_VALUE;
}

bool inputAddress(const QString &url, bool classStreamOnly, InputAddress *out)
{
    const QByteArray utf8 = url.toUtf8();
    if (utf8.size() > kAddressLimit) {
        TAVI_LOG_ERROR("Address too long (" << utf8.size() << " bytes, at most " << kAddressLimit << "), not played.");
        return false;
    }
    QString why;
    const tavi::MediaAddress kind = tavi::mediaAddressKind(url, classStreamOnly, &why);
    if (kind == tavi::MediaAddress::Refused) {
        TAVI_LOG_ERROR("Address refused, not played: " << why);
        return false;
    }
    out->path = utf8;
    out->classStream = kind == tavi::MediaAddress::ClassStream;
    out->protocols = tavi::protocolWhitelist(kind);
    return true;
}

QByteArray addressForLog(const QString &url)
{
    if (tavi::hasAddressScheme(url))
        return tavi::streamAddressForLog(url).toUtf8();
    return tavi::logExcerpt(url, 300).toUtf8();
}

int decodeInterruptCallback(void *opaque)
{
    auto *state = static_cast<VideoState *>(opaque);
    if (state->quit)
        return AVERROR_EOF;
    const int64_t deadline = state->ioDeadline;
    if (deadline != 0 && steadyMs() > deadline)
        return AVERROR_EXIT;
    return 0;
}

void reportPlaybackError(const char *message)
{
    TAVI_LOG_ERROR(message);
}

static AVFormatContext *openProbed(VideoState *state, const QByteArray &path, Probe probe, int deadlineMs,
                                   const char *probeBytes, const char *analyzeMicroseconds);

AVFormatContext *openInput(VideoState *state, const QByteArray &path, Probe probe, int deadlineMs)
{
    AVFormatContext *input = openProbed(state, path, probe, deadlineMs, "262144", "400000");
    // A live server may send the sound at once and the video only from its
    // next key frame on, after the brief probe has ended: look once more,
    // longer than any sensible key frame interval.
    if (input && probe == Probe::Brief && lastStreamOfType(input, AVMEDIA_TYPE_VIDEO) < 0 && !state->quit) {
        avformat_close_input(&input);
        input = openProbed(state, path, probe, deadlineMs, "1048576", "2500000");
    }
    return input;
}

static AVFormatContext *openProbed(VideoState *state, const QByteArray &path, Probe probe, int deadlineMs,
                                   const char *probeBytes, const char *analyzeMicroseconds)
{
    AVFormatContext *input = avformat_alloc_context();
    if (!input)
        return nullptr;
    input->interrupt_callback.callback = decodeInterruptCallback;
    input->interrupt_callback.opaque = state;
    AVDictionary *options = nullptr;
    // Nothing else is ever opened for this input, however the server
    // redirects or whatever the data names.
    av_dict_set(&options, "protocol_whitelist", state->protocols ? state->protocols : tavi::kLocalFileProtocols, 0);
    // RTMP's connect and play are small messages, each answered before the next: held back for an
    // acknowledgement (Nagle against delayed ACKs) they took a class's join some 200 ms longer.
    av_dict_set(&options, "tcp_nodelay", "1", 0);
    if (probe == Probe::Brief) {
        // The FLV demuxer usually learns both streams from their sequence
        // headers; what is left to probe is the first key frame.
        av_dict_set(&options, "probesize", probeBytes, 0);
        av_dict_set(&options, "analyzeduration", analyzeMicroseconds, 0);
        av_dict_set(&options, "fpsprobesize", "0", 0);
    }
    state->ioDeadline = deadlineMs > 0 ? steadyMs() + deadlineMs : 0;
    int ret = avformat_open_input(&input, path.constData(), nullptr, &options);
    av_dict_free(&options);
    if (ret < 0) {
        char text[AV_ERROR_MAX_STRING_SIZE] = {0};
        av_strerror(ret, text, sizeof(text));
        if (!state->quit)
            TAVI_LOG_ERROR("Could not open " << addressForLog(QString::fromUtf8(path)).constData() << ": " << text);
        avformat_close_input(&input);
        state->ioDeadline = 0;
        return nullptr;
    }
    if (probe == Probe::AudioOnly) {
        input->probesize = 2048;
        input->max_analyze_duration = 500;
    }
    ret = avformat_find_stream_info(input, nullptr);
    state->ioDeadline = 0;
    if (ret < 0) {
        reportPlaybackError("Could't find stream infomation.");
        avformat_close_input(&input);
        return nullptr;
    }
    return input;
}

int lastStreamOfType(AVFormatContext *input, int type)
{
    int found = -1;
    for (unsigned i = 0; i < input->nb_streams; ++i)
        if (input->streams[i]->codecpar->codec_type == type)
            found = int(i);
    return found;
}

int firstStreamOfType(AVFormatContext *input, int type)
{
    for (unsigned i = 0; i < input->nb_streams; ++i)
        if (input->streams[i]->codecpar->codec_type == type)
            return int(i);
    return -1;
}

bool openStreamDecoder(AVStream *stream, AVCodecContext **codec, bool threaded, bool lowDelay)
{
    if (*codec)
        return true;
    const AVCodec *decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!decoder)
        return false;
    AVCodecContext *context = avcodec_alloc_context3(decoder);
    if (!context)
        return false;
    if (avcodec_parameters_to_context(context, stream->codecpar) < 0) {
        avcodec_free_context(&context);
        return false;
    }
    context->pkt_timebase = stream->time_base;
    AVDictionary *options = nullptr;
    if (threaded)
        av_dict_set(&options, "threads", "auto", 0);
    if (lowDelay)
        av_dict_set(&options, "thread_type", "slice", 0);
    const int ret = avcodec_open2(context, decoder, &options);
    av_dict_free(&options);
    if (ret < 0) {
        avcodec_free_context(&context);
        return false;
    }
    *codec = context;
    return true;
}
