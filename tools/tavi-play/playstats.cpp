#include "playstats.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>

void PlayStats::add(double pts, double audioTime, double sinceStart, double frameDuration, bool clocked)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_pictures == 0) {
        m_firstPicture = sinceStart;
        m_firstPts = pts;
    } else if (frameDuration > 0) {
        // Pictures missing between two received ones.
        const double gap = pts - m_lastPts;
        if (gap > 1.5 * frameDuration)
            m_dropped += int(std::lround(gap / frameDuration)) - 1;
    }
    m_lastPts = pts;
    m_lastArrival = sinceStart;
    const double lag = (sinceStart - m_firstPicture) - (pts - m_firstPts);
    m_leastLag = std::min(m_leastLag, lag);
    m_mostBehind = std::max(m_mostBehind, lag - m_leastLag);
    if (sinceStart - m_firstPicture >= 3) {
        const double wallLag = QDateTime::currentMSecsSinceEpoch() / 1000.0 - pts;
        m_wallLagLeast = std::min(m_wallLagLeast, wallLag);
        m_wallLagMost = std::max(m_wallLagMost, wallLag);
    }
    ++m_pictures;
    if (clocked)
        m_offsetsMs.append(std::fabs(audioTime - pts) * 1000.0);
}

double PlayStats::picturesPerSecond() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return rate();
}

double PlayStats::rate() const
{
    const double receiving = m_lastArrival - m_firstPicture;
    return receiving > 0 ? (m_pictures - 1) / receiving : 0;
}

double PlayStats::wallLagLeast() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_wallLagLeast;
}

double PlayStats::wallLagMost() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_wallLagMost;
}

int PlayStats::pictures() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pictures;
}

QString PlayStats::report() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    double mean = 0;
    double p95 = 0;
    if (!m_offsetsMs.isEmpty()) {
        QVector<double> sorted = m_offsetsMs;
        std::sort(sorted.begin(), sorted.end());
        for (double v : sorted)
            mean += v;
        mean /= sorted.size();
        p95 = sorted[std::min<int>(sorted.size() - 1, int(std::ceil(0.95 * sorted.size())) - 1)];
    }
    return QStringLiteral("first picture: %1 s\npictures: %2\noffset mean: %3 ms\noffset p95: %4 ms\ndropped: %5\n"
                          "pictures per second: %6\nbehind live edge max: %7 s\nwall lag least: %8 s\n"
                          "wall lag most: %9 s\n")
        .arg(m_firstPicture, 0, 'f', 3)
        .arg(m_pictures)
        .arg(mean, 0, 'f', 1)
        .arg(p95, 0, 'f', 1)
        .arg(m_dropped)
        .arg(rate(), 0, 'f', 2)
        .arg(m_mostBehind, 0, 'f', 3)
        .arg(m_wallLagLeast, 0, 'f', 3)
        .arg(m_wallLagMost, 0, 'f', 3);
}
