#include "record/capturerun.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <QDebug>

bool readCapturePacket(AVFormatContext *input, int streamIndex, AVPacket *packet, bool paused, CaptureRun &run)
{
    if (av_read_frame(input, packet) < 0) {
        qDebug() << "read failed!";
        run.pauseBeforeRetry(10);
        return false;
    }
    if (paused) {
        av_packet_unref(packet);
        return false;
    }
    if (packet->stream_index != streamIndex) {
        qDebug() << "other" << packet->stream_index;
        av_packet_unref(packet);
        return false;
    }
    return true;
}
