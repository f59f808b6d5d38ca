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
        // one moment get the same time.
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
