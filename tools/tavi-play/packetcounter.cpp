#include "packetcounter.h"

#include "playstats.h"
#include "video/inputreconnector.h"
#include "video/videostate.h"

#include <QElapsedTimer>

#include <memory>

extern "C" {
#include <libavformat/avformat.h>
}

bool countPictures(const QString &address, double seconds, int frames, PlayStats &stats)
{
    InputAddress input;
    if (!inputAddress(address, false, &input))
        return false;
    const QByteArray &path = input.path;
    auto state = std::make_unique<VideoState>();
    state->protocols = input.protocols;
    QElapsedTimer clock;
    clock.start();
    state->formatContext = openInput(state.get(), path, Probe::Brief, 0);
    if (!state->formatContext)
        return false;
    state->videoStreamIndex = lastStreamOfType(state->formatContext, AVMEDIA_TYPE_VIDEO);
    state->audioStreamIndex = firstStreamOfType(state->formatContext, AVMEDIA_TYPE_AUDIO);
    bool ok = state->videoStreamIndex >= 0;
    if (ok) {
        const AVStream *video = state->formatContext->streams[state->videoStreamIndex];
        const double frameDuration = video->avg_frame_rate.num > 0 ? av_q2d(av_inv_q(video->avg_frame_rate)) : 0.04;
        InputReconnector reader(state.get(), path, Probe::Brief, true,
                                isLiveInput(address, state->formatContext->duration));
        AVPacket *packet = av_packet_alloc();
        while (packet && (seconds <= 0 || clock.elapsed() < seconds * 1000) &&
               (frames <= 0 || stats.pictures() < frames) && !state->readEnded) {
            if (!reader.read(packet))
                continue;
            const AVStream *stream = state->formatContext->streams[packet->stream_index];
            if (packet->stream_index == state->videoStreamIndex && packet->pts != AV_NOPTS_VALUE)
                stats.add(packet->pts * av_q2d(stream->time_base), 0, clock.nsecsElapsed() / 1e9, frameDuration, false);
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
    }
    avformat_close_input(&state->formatContext);
    return ok;
}
