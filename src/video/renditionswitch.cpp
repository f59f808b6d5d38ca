#include "video/renditionswitch.h"

#include "base/logging.h"
#include "video/mediainput.h"
#include "video/videoplayer_thread.h"
#include "video/videostate.h"

#include <algorithm>

namespace {
constexpr int kTickMs = 250;
// The stream's own pace over the last seconds, against the wall clock.
constexpr double kPaceWindow = 1.5;
constexpr double kSlowPace = 0.85;
// A stall (no data at all) is the reconnector's to mend: a slow link still
// brings something in most ticks.
constexpr double kSteadyShare = 0.75;
constexpr double kSlowBehind = 0.25;
// A probe lagging this far behind its own edge cannot keep pace.
constexpr double kProbeBehind = 0.5;
constexpr double kProbeSettle = 3.0;
} // namespace

RenditionSwitch::RenditionSwitch(VideoPlayer_Thread *first, VideoPlayer_Thread *second, QObject *parent)
    : QObject(parent), m_players{first, second}
{
    m_shown = first;
    m_tick.setInterval(kTickMs);
    connect(&m_tick, &QTimer::timeout, this, &RenditionSwitch::tick);
    for (VideoPlayer_Thread *player : m_players) {
        connect(
            player, &VideoPlayer_Thread::sig_GetOneFrame, this, [this, player](const QImage &) { spareShowed(player); },
            Qt::DirectConnection);
    }
}

void RenditionSwitch::start(const QString &full, const QString &low)
{
    if (m_spare != Spare::None)
        dropSpare("the class starts again");
    m_full = full;
    m_low = low;
    m_started = true;
    m_onLow = false;
    m_reason = NoReason;
    m_failedProbes = 0;
    m_lowAgain = 0;
    m_fellBehindAt.clear();
    VideoPlayer_Thread *player = current();
    m_shown = player;
    player->setVolume(m_volume);
    player->stop(false);
    player->startPlay(full);
    // After the start: a new run counts its reopens from 0.
    clearSamples();
    if (m_paused)
        player->pause();
    if (!m_low.isEmpty())
        m_tick.start();
}

void RenditionSwitch::stop(bool wait)
{
    m_started = false;
    m_paused = false;
    m_tick.stop();
    m_spare = Spare::None;
    m_onLow = false;
    m_reason = NoReason;
    current()->stop(wait);
    spare()->stop(wait);
}

void RenditionSwitch::pause()
{
    m_paused = true;
    if (m_spare != Spare::None)
        dropSpare("the class is paused");
    current()->pause();
}

void RenditionSwitch::resume()
{
    m_paused = false;
    clearSamples();
    current()->play();
}

void RenditionSwitch::setVolume(int percent)
{
    m_volume = percent;
    current()->setVolume(percent);
}

void RenditionSwitch::clearSamples()
{
    m_samples.clear();
    m_seenReopens = current()->playbackState().behindReopens;
}

double RenditionSwitch::newestPts(const VideoState &state)
{
    return std::max(state.videoQueuedPts.load(), state.audioQueuedEnd.load());
}

void RenditionSwitch::addSample(std::deque<Sample> &samples, double now, double pts)
{
    if (pts <= 0)
        return;
    if (!samples.empty() && pts < samples.back().pts - 1.0)
        samples.clear();
    samples.push_back({now, pts});
    while (samples.size() > 2 && now - samples[1].at >= kPaceWindow)
        samples.pop_front();
}

bool RenditionSwitch::arrivesSlowly(const std::deque<Sample> &samples, double behindEdge)
{
    if (samples.size() < 2 || behindEdge < kSlowBehind)
        return false;
    const double wall = samples.back().at - samples.front().at;
    if (wall < kPaceWindow - 0.1)
        return false;
    int moved = 0;
    for (size_t i = 1; i < samples.size(); ++i)
        moved += samples[i].pts > samples[i - 1].pts ? 1 : 0;
    const double pace = (samples.back().pts - samples.front().pts) / wall;
    return pace < kSlowPace && moved >= kSteadyShare * double(samples.size() - 1);
}

void RenditionSwitch::tick()
{
    if (!m_started || m_paused)
        return;
    const double now = steadySeconds();
    if (m_spare == Spare::Probing)
        watchProbe(now);
    else if (m_spare == Spare::GoingDown && !m_spareShowing &&
             (now - m_spareStarted > kOpenWithin ||
              (now - m_spareStarted > kDataWithin && newestPts(spare()->playbackState()) <= 0))) {
        TAVI_LOG_WARN("The low rendition " << addressForLog(m_low).constData() << " gave no picture; staying on "
                                           << "the full one");
        dropSpare("no picture");
        m_lowAgain = now + kLowRetryAfter;
    }
    watchCurrent(now);
}

void RenditionSwitch::watchCurrent(double now)
{
    const VideoState &state = current()->playbackState();
    addSample(m_samples, now, newestPts(state));
    for (const int reopens = state.behindReopens; m_seenReopens < reopens; ++m_seenReopens)
        m_fellBehindAt.append(now);
    m_fellBehindAt.erase(std::remove_if(m_fellBehindAt.begin(), m_fellBehindAt.end(),
                                        [now](double at) { return now - at > kBehindWindow; }),
                         m_fellBehindAt.end());
    if (m_onLow) {
        if (m_spare == Spare::None && now >= m_nextProbe)
            startSpare(Spare::Probing, now);
        return;
    }
    if (m_spare != Spare::None || now < m_lowAgain)
        return;
    Reason why = NoReason;
    if (m_fellBehindAt.size() >= 2)
        why = FellBehind;
    else if (arrivesSlowly(m_samples, state.behindEdge))
        why = SlowLink;
    if (why == NoReason)
        return;
    m_goingDownFor = why;
    TAVI_LOG_INFO("The link does not carry the class (" << (why == FellBehind ? "fell behind twice" : "arrives slowly")
                                                        << "); opening the low rendition");
    // The link cannot carry both: the rendition being left plays out what
    // it holds while the low one opens.
    current()->setLeaving(true);
    startSpare(Spare::GoingDown, now);
}

void RenditionSwitch::watchProbe(double now)
{
    const VideoState &state = spare()->playbackState();
    addSample(m_spareSamples, now, newestPts(state));
    const double first = m_spareFirstPicture;
    // By the wall clock, so that a probe that stalls lags too; and the
    // rendition that plays must not suffer for the probe.
    const double lag = m_spareSamples.empty() ? m_spareLeastLag : now - m_spareSamples.back().pts;
    m_spareLeastLag = std::min(m_spareLeastLag, lag);
    const char *failed = nullptr;
    if (state.behindReopens != m_spareSeenReopens)
        failed = "fell behind";
    else if (first > 0 && lag - m_spareLeastLag > kProbeBehind)
        failed = "lags";
    else if (current()->playbackState().behindEdge > kSlowBehind)
        failed = "the class lags beside it";
    else if (first > 0 && now - m_spareStarted > kProbeSettle && arrivesSlowly(m_spareSamples, kSlowBehind))
        failed = "arrives slowly";
    else if (first <= 0 && now - m_spareStarted > kOpenWithin)
        failed = "no picture";
    if (failed) {
        ++m_failedProbes;
        m_nextProbe = now + (m_failedProbes >= kProbesBeforeRest ? kRestedProbeEvery : kProbeEvery);
        dropSpare(failed);
        return;
    }
    if (first > 0 && now - first >= kProbeKeepsPace) {
        m_shown = spare();
        takeOver();
    }
}

void RenditionSwitch::startSpare(Spare role, double now)
{
    VideoPlayer_Thread *player = spare();
    player->stop(false);
    player->setVolume(0);
    m_spareShowing = false;
    m_spareFirstPicture = 0;
    m_spareSamples.clear();
    m_spareLeastLag = 1e300;
    m_spareStarted = now;
    m_spare = role;
    player->startPlay(role == Spare::Probing ? m_full : m_low);
    m_spareSeenReopens = 0;
}

void RenditionSwitch::dropSpare(const char *why)
{
    const Spare role = m_spare;
    m_spare = Spare::None;
    m_shown = current();
    spare()->stop(false);
    if (role == Spare::GoingDown)
        current()->setLeaving(false);
    TAVI_LOG_INFO((role == Spare::Probing ? "Probe of the full rendition ended: " : "Low rendition left: ") << why);
}

void RenditionSwitch::spareShowed(VideoPlayer_Thread *player)
{
    // The video thread of either player: only the spare's first pictures matter.
    if (player != spare() || m_spare == Spare::None || m_spareShowing)
        return;
    if (m_spareFirstPicture == 0)
        m_spareFirstPicture = steadySeconds();
    if (m_spare != Spare::GoingDown)
        return;
    // Its sound must run before it is heard instead of the other's.
    const VideoState &state = player->playbackState();
    if (state.audioOpen && !state.playClockValid)
        return;
    m_spareShowing = true;
    m_shown = player;
    QMetaObject::invokeMethod(this, &RenditionSwitch::takeOver, Qt::QueuedConnection);
}

void RenditionSwitch::takeOver()
{
    const Spare role = m_spare;
    if (role == Spare::None || !m_started)
        return;
    VideoPlayer_Thread *leaving = current();
    VideoPlayer_Thread *taking = spare();
    taking->setVolume(m_volume);
    leaving->setVolume(0);
    leaving->stop(false);
    m_current = 1 - m_current.load();
    m_shown = taking;
    m_spare = Spare::None;
    m_onLow = role == Spare::GoingDown;
    m_reason = m_onLow ? m_goingDownFor : NoReason;
    m_failedProbes = 0;
    m_nextProbe = steadySeconds() + kFirstProbeAfter;
    m_fellBehindAt.clear();
    clearSamples();
    TAVI_LOG_INFO("The " << (m_onLow ? "low" : "full") << " rendition plays now");
    emit switched();
}
