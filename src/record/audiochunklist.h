#pragma once

#include <QList>
#include <QMutex>
#include <QWaitCondition>

#include <cstdint>

// PCM bytes from the microphone (malloc'd by the capture thread).
struct AudioChunk
{
    uint8_t *data;
    int size;
};

// FIFO of microphone chunks between a capture thread and an encoder.
// Bounded by bytes: when the encoder does not consume (stalled output), the
// oldest chunks are dropped and counted.
class AudioChunkList
{
public:
    AudioChunkList();
    ~AudioChunkList();
    AudioChunkList(const AudioChunkList &) = delete;
    AudioChunkList &operator=(const AudioChunkList &) = delete;

    void setLimitBytes(int bytes);

    // Takes ownership of data.
    void pushAudioChunk(uint8_t *data, int size);
    // The oldest chunk; false when empty. The caller frees data.
    bool takeFirst(AudioChunk *chunk);
    // Drops every queued chunk with its bytes.
    void clear();
    bool isEmpty() const;
    int count() const;
    // Waits until a chunk is queued or stopped() holds; stopped is checked
    // under the list's lock, so whoever makes it true calls wakeWaiters()
    // after.
    template<class Stopped> void waitForChunk(Stopped stopped)
    {
        QMutexLocker locker(&audioLock);
        while (audioChunks.isEmpty() && !stopped())
            m_pushed.wait(&audioLock);
    }
    void wakeWaiters();

    struct Counters
    {
        long long pushed = 0;
        long long dropped = 0;
        int highWater = 0; // chunks
    };
    Counters counters() const;
    void resetCounters();

private:
    mutable QMutex audioLock;
    QWaitCondition m_pushed;
    QList<AudioChunk *> audioChunks;
    long long m_bytes = 0;
    int m_limitBytes = 4 * 1024 * 1024;
    Counters m_counters;
};
