#pragma once

#include <QList>
#include <QMutex>

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
    int limitBytes() const;

    // Takes ownership of data.
    void pushAudioChunk(uint8_t *data, int size);
    // The oldest chunk; false when empty. The caller frees data.
    bool takeFirst(AudioChunk *chunk);
    // Drops every queued chunk with its bytes.
    void clear();
    bool isEmpty() const;
    int count() const;

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
    QList<AudioChunk *> audioChunks;
    long long m_bytes = 0;
    int m_limitBytes = 4 * 1024 * 1024;
    Counters m_counters;
};
