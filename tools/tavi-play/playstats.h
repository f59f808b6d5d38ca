#pragma once

#include <QString>
#include <QVector>

#include <mutex>

// What tavi-play measures about the pictures it receives: time to the
// first, gaps, the sound-to-picture offset, the rate and how far the
// pictures fell behind the live edge. add() runs on the
// player's video thread, the rest on the main thread.
class PlayStats
{
public:
    // clocked: the audio clock runs, so the offset means something.
    void add(double pts, double audioTime, double sinceStart, double frameDuration, bool clocked);
    int pictures() const;
    QString report() const;
    double picturesPerSecond() const;
    double wallLagLeast() const;
    double wallLagMost() const;

private:
    // Pictures a second since the first; under the lock.
    double rate() const;

    mutable std::mutex m_mutex;
    int m_pictures = 0;
    // Behind the live edge: arrival time minus stream time, against the
    // least it has been so far (the reader at its most current).
    double m_firstPts = 0;
    double m_lastArrival = 0;
    double m_leastLag = 0;
    double m_mostBehind = 0;
    double m_firstPicture = -1;
    double m_lastPts = 0;
    int m_dropped = 0;
    // Wall clock minus stream time, from the 3rd second on: beside another
    // reader's of the same stream (a server's), how far behind it this one is.
    double m_wallLagLeast = 1e300;
    double m_wallLagMost = -1e300;
    QVector<double> m_offsetsMs;
};
