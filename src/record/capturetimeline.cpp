#include "record/capturetimeline.h"

#include <algorithm>

CaptureTimeline::Placement CaptureTimeline::place(long long samples, long long atMs, long long clockMs)
{
    Placement placement;
    m_stamped = atMs != kNoStamp;
    if (samples <= 0)
        return placement;
    if (m_stamped) {
        // The device says when the block was heard: sound and pictures of
        // one moment get the same time. None was heard after it arrived (a
        // clock filter that overshoots stamps the future).
        atMs = std::min(atMs, clockMs - samples * 1000 / m_rate);
        const long long gapMs = atMs - deliveredMs();
        if (gapMs > kStampToleranceMs)
            placement.silence = samplesOf(gapMs);
        else if (-gapMs > kStampToleranceMs)
            placement.skip = std::min(samples, samplesOf(-gapMs));
    } else if ((m_delivered + samples) * 1000 / m_rate > clockMs + kMaxLeadMs) {
        placement.drop = true;
        return placement;
    }
    m_delivered += placement.silence + samples - placement.skip;
    return placement;
}

long long CaptureTimeline::lagFill(long long clockMs)
{
    if (m_stamped)
        return 0;
    const long long lagMs = clockMs - deliveredMs();
    if (lagMs <= kMaxLagMs)
        return 0;
    const long long silence = samplesOf(lagMs - kFillToLagMs);
    m_delivered += silence;
    return silence;
}

long long CaptureTimeline::closingSilence(long long stopMs)
{
    const long long silence = samplesOf(stopMs - deliveredMs());
    m_delivered += silence;
    return silence;
}

long long CaptureTimeline::captureTime(long long stampMs, long long wallNowMs, long long clockMs)
{
    if (stampMs > wallNowMs + 1000 || stampMs < wallNowMs - 10000)
        return kNoStamp;
    return clockMs - (wallNowMs - stampMs);
}

bool StampSettler::hold(long long samples, long long atMs, long long clockMs)
{
    if (m_settled)
        return false;
    const long long heldMs = m_samples * 1000 / m_rate;
    const long long start = atMs - heldMs;
    m_samples += samples;
    const long long latest = clockMs - m_samples * 1000 / m_rate;
    m_latest = m_implied.empty() ? latest : std::min(m_latest, latest);
    m_start = std::min(start, m_latest);
    // The newest implied start against the last one a window of sound before it.
    for (auto it = m_implied.rbegin(); it != m_implied.rend(); ++it)
        if (it->heldMs <= heldMs - kWindowMs) {
            m_settled = start - it->startMs <= kMaxRiseMs;
            break;
        }
    m_implied.push_back({heldMs, start});
    if (m_samples * 1000 / m_rate >= kMaxHoldMs)
        m_settled = true;
    if (m_settled)
        m_implied = {};
    return !m_settled;
}
