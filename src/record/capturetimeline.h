#pragma once

#include <vector>

// Where the microphone's sound goes on a recording's time line, which runs
// in milliseconds of capture time (pauses left out) from the start: gaps in
// what the device hands over are filled with silence, sound from before the
// start (or ahead of its time) is cut, a microphone that falls behind the
// clock is brought back with silence, and after a stop the capture reads on
// until the time line reaches the stop. Counts are in samples per channel.
class CaptureTimeline
{
public:
    // A block the device did not stamp with the wall clock.
    static constexpr long long kNoStamp = -(1LL << 62);
    // Stamped blocks this close to their place are taken as they are.
    static constexpr long long kStampToleranceMs = 30;
    // Unstamped sound this far ahead of the clock was buffered before the start.
    static constexpr long long kMaxLeadMs = 60;
    // Unstamped sound this far behind the clock is brought back to kFillToLagMs.
    static constexpr long long kMaxLagMs = 250;
    static constexpr long long kFillToLagMs = 100;

    explicit CaptureTimeline(int sampleRate) : m_rate(sampleRate) {}

    // What to hand over of a block: silence first, then the block from
    // sample skip on; nothing at all when dropped.
    struct Placement
    {
        long long silence = 0;
        long long skip = 0;
        bool drop = false;
    };
    // A block of samples heard at capture time atMs (kNoStamp when unknown),
    // with the capture clock at clockMs. What it places counts as handed over.
    Placement place(long long samples, long long atMs, long long clockMs);
    // After a packet: silence that brings an unstamped microphone that lags
    // the clock back near it (counted); 0 when none is due.
    long long lagFill(long long clockMs);
    // After a stop at capture time stopMs: whether the device still owes
    // sound before it.
    bool owes(long long stopMs) const { return deliveredMs() < stopMs; }
    // Silence that completes the time line up to stopMs (counted).
    long long closingSilence(long long stopMs);

    long long delivered() const { return m_delivered; }
    long long deliveredMs() const { return m_delivered * 1000 / m_rate; }

    // The capture time of a device stamp in wall-clock milliseconds, given
    // the wall clock and the capture clock now; kNoStamp for a stamp that is
    // not a wall-clock time (only those say when the sound was heard).
    static long long captureTime(long long stampMs, long long wallNowMs, long long clockMs);

private:
    long long samplesOf(long long ms) const { return ms > 0 ? ms * m_rate / 1000 : 0; }

    const int m_rate;
    long long m_delivered = 0;
    bool m_stamped = false;
};

// A source's first stamps may run behind and catch up while its clock
// filter converges (PulseAudio on a busy machine: 200 ms behind, caught up
// within half a second of sound); placed as they come they would leave a
// hole of silence every few blocks. Its first blocks are held until the
// start that their stamps imply (a block's stamp less the sound held before
// it) stops rising, and are then placed back to back from that start. No
// block was heard after it arrived, which bounds the start from above.
class StampSettler
{
public:
    // The implied start must rise no more than kMaxRiseMs over kWindowMs of sound.
    static constexpr long long kWindowMs = 100;
    static constexpr long long kMaxRiseMs = 5;
    // Sound held at most, whatever the stamps do.
    static constexpr long long kMaxHoldMs = 1000;

    explicit StampSettler(int sampleRate) : m_rate(sampleRate) {}

    // Takes a stamped block (heard at atMs, arrived at clockMs): true while
    // it and those before it are to be held; false once settled, for this
    // block and every later one.
    bool hold(long long samples, long long atMs, long long clockMs);
    // Ends the holding now (a stop).
    void settle() { m_settled = true; }
    bool settled() const { return m_settled; }
    // Where the held sound starts, samples in: the stamp to place that block with.
    long long stampAt(long long samples) const { return m_start + samples * 1000 / m_rate; }

private:
    struct Implied
    {
        long long heldMs;
        long long startMs;
    };

    int m_rate;
    bool m_settled = false;
    long long m_samples = 0;
    long long m_start = 0;
    long long m_latest = 0;
    std::vector<Implied> m_implied;
};
