#include "video/inputreconnector.h"

#include "base/logging.h"
#include "video/playback.h"
#include "video/videostate.h"

#include <QMetaObject>
#include <QObject>

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
}

namespace {
constexpr int kSilentReadMs = InputReconnector::kSilentReadMs;
constexpr int kReopenMs = 2000;
constexpr int kFirstRetryMs = 10;
// Seconds behind the live edge that make a live input reopen, once every
// packet read for kBehindMs has been that late: a link that caught up after
// a stall brings a burst of late packets, and then is current again. A link
// slower than the stream makes the lag grow by a fraction of a second each
// second, and only the server can drop what waits for it on the way: the
// bound keeps the class within 2 s of its live edge.
constexpr double kBehindLimit = 0.8;
constexpr int kBehindMs = 400;

QByteArray extradataOf(AVFormatContext *input, int index)
{
    if (index < 0)
        return {};
    const AVCodecParameters *par = input->streams[index]->codecpar;
    if (!par->extradata || par->extradata_size <= 0)
        return {};
    return QByteArray(reinterpret_cast<const char *>(par->extradata), par->extradata_size);
}

void attachExtradata(AVPacket *packet, QByteArray *extra)
{
    if (extra->isEmpty())
        return;
    uint8_t *side = av_packet_new_side_data(packet, AV_PKT_DATA_NEW_EXTRADATA, size_t(extra->size()));
    if (side)
        memcpy(side, extra->constData(), size_t(extra->size()));
    extra->clear();
}
} // namespace

void tellInputFlowing(VideoState *state, bool flowing)
{
    // Not every player has the signal.
    QObject *player = state->player;
    if (player && player->metaObject()->indexOfSignal("sig_inputFlowing(bool)") >= 0)
        QMetaObject::invokeMethod(player, "sig_inputFlowing", Qt::DirectConnection, Q_ARG(bool, flowing));
}

InputReconnector::InputReconnector(VideoState *state, const QByteArray &path, Probe probe, bool needVideo, bool live)
    : m_state(state), m_path(path), m_probe(probe), m_needVideo(needVideo), m_live(live), m_lastGood(steadyMs())
{
}

bool InputReconnector::read(AVPacket *packet)
{
    // Taken up again after it was let go: at once, not as a failure.
    if (m_letGo && !m_state->formatContext) {
        m_letGo = false;
        m_lastAttempt = steadyMs();
        if (!reopen("taken up again"))
            waitToRetry();
        return false;
    }
    m_letGo = false;
    if (m_live)
        armRead();
    // A reopen that failed has let go of the input: as a failed read.
    if (m_state->formatContext && av_read_frame(m_state->formatContext, packet) >= 0) {
        if (m_live) {
            readOk();
            prepare(packet);
            if (m_lost) {
                m_lost = false;
                tellInputFlowing(m_state, true);
            }
            const int index = packet->stream_index;
            const bool timed = index == (m_needVideo ? m_state->videoStreamIndex : m_state->audioStreamIndex);
            if (timed && packet->pts != AV_NOPTS_VALUE &&
                fallenBehind(double(packet->pts) * av_q2d(m_state->formatContext->streams[index]->time_base))) {
                av_packet_unref(packet);
                m_lastAttempt = steadyMs();
                ++m_state->behindReopens;
                // What the old input still has on its way is dropped: let go
                // of it first, so it leaves the slow link to the new one.
                avformat_close_input(&m_state->formatContext);
                // What the player still holds of the old input plays
                // meanwhile; the rest is older than the new input's start.
                if (reopen("behind the live edge"))
                    dropQueued(m_state);
                return false;
            }
        }
        return true;
    }
    if (m_state->quit)
        return false;
    if (!m_live) {
        m_state->readEnded = true;
        return false;
    }
    if (!m_lost) {
        m_lost = true;
        tellInputFlowing(m_state, false);
    }
    if (!readFailed())
        waitToRetry();
    return false;
}

void InputReconnector::letGo()
{
    if (!m_live || !m_state->formatContext)
        return;
    avformat_close_input(&m_state->formatContext);
    m_letGo = true;
    TAVI_LOG_INFO("Let go of " << addressForLog(QString::fromUtf8(m_path)).constData());
}

void InputReconnector::rested()
{
    if (m_live)
        readOk();
}

void InputReconnector::waitToRetry()
{
    m_retryMs = m_retryMs ? m_retryMs * 2 : kFirstRetryMs;
    // Never past the moment the input is due to be reopened.
    const long long reopenAt = std::max(m_lastGood + kSilentReadMs, m_lastAttempt + kReopenMs);
    const long long until = std::min<long long>(steadyMs() + m_retryMs, reopenAt);
    VideoState *state = m_state;
    state->waitUntil([state] { return state->quit.load(); }, steadyAfter((until - steadyMs()) / 1000.0));
}

void InputReconnector::armRead()
{
    m_state->ioDeadline = steadyMs() + kSilentReadMs;
}

void InputReconnector::readOk()
{
    m_state->ioDeadline = 0;
    m_lastGood = steadyMs();
    m_retryMs = 0;
}

bool InputReconnector::readFailed()
{
    m_state->ioDeadline = 0;
    const long long now = steadyMs();
    if (now - m_lastGood < kSilentReadMs || now - m_lastAttempt < kReopenMs || m_state->quit)
        return false;
    m_lastAttempt = now;
    TAVI_LOG_WARN("No data from " << addressForLog(QString::fromUtf8(m_path)).constData() << " for "
                                  << (now - m_lastGood) << " ms, reopening it.");
    return reopen("silent");
}

bool InputReconnector::fallenBehind(double pts)
{
    const double lag = steadyMs() / 1000.0 - pts;
    // A new timeline (the publisher started again) sets a new edge.
    if (pts < m_lastPts - 1.0)
        m_leastLag = lag;
    m_lastPts = pts;
    m_leastLag = std::min(m_leastLag, lag);
    m_state->behindEdge = lag - m_leastLag;
    const long long now = steadyMs();
    if (lag - m_leastLag <= kBehindLimit)
        m_behindSince = 0;
    else if (m_behindSince == 0)
        m_behindSince = now;
    // Not more often than a reopen after silence.
    return m_behindSince != 0 && now - m_behindSince >= kBehindMs && now - m_lastAttempt >= kReopenMs;
}

bool InputReconnector::reopen(const char *why)
{
    AVFormatContext *fresh = openInput(m_state, m_path, m_probe, kSilentReadMs);
    if (!fresh)
        return false;
    const int video = lastStreamOfType(fresh, AVMEDIA_TYPE_VIDEO);
    // A class that played without sound goes on without it.
    const bool needAudio = m_state->audioStreamIndex >= 0;
    const int audio = needAudio ? firstStreamOfType(fresh, AVMEDIA_TYPE_AUDIO) : -1;
    if ((m_needVideo && video < 0) || (needAudio && audio < 0)) {
        avformat_close_input(&fresh);
        return false;
    }
    avformat_close_input(&m_state->formatContext);
    m_state->formatContext = fresh;
    m_state->videoStreamIndex = m_needVideo ? video : -1;
    m_state->audioStreamIndex = audio;
    m_state->videoStream = m_needVideo ? fresh->streams[video] : nullptr;
    m_state->audioStream = needAudio ? fresh->streams[audio] : nullptr;
    m_videoExtra = extradataOf(fresh, m_state->videoStreamIndex);
    m_audioExtra = extradataOf(fresh, audio);
    m_lastGood = steadyMs();
    m_retryMs = 0;
    // The edge stays: the server goes on with the publisher's own times (a
    // new publisher's earlier ones set a new edge, see fallenBehind), and
    // the first packets over a slow link come late already.
    m_behindSince = 0;
    TAVI_LOG_INFO("Reopened " << addressForLog(QString::fromUtf8(m_path)).constData() << " (" << why << ")");
    return true;
}

void InputReconnector::prepare(AVPacket *packet)
{
    const int index = packet->stream_index;
    if (index < 0 || index >= int(m_state->formatContext->nb_streams))
        return;
    const AVRational base = m_state->formatContext->streams[index]->time_base;
    const bool stamped = packet->pts != AV_NOPTS_VALUE && base.den > 0;
    if (index == m_state->videoStreamIndex) {
        attachExtradata(packet, &m_videoExtra);
        if (stamped)
            m_state->videoQueuedPts = double(packet->pts) * av_q2d(base);
    } else if (index == m_state->audioStreamIndex) {
        attachExtradata(packet, &m_audioExtra);
        if (stamped)
            m_state->audioQueuedEnd = double(packet->pts + packet->duration) * av_q2d(base);
    }
}
