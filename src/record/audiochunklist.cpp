#include "record/audiochunklist.h"

#include <cstdlib>

AudioChunkList::AudioChunkList() = default;

AudioChunkList::~AudioChunkList()
{
    clear();
}

void AudioChunkList::setLimitBytes(int bytes)
{
    QMutexLocker locker(&audioLock);
    m_limitBytes = bytes < 1 ? 1 : bytes;
}

void AudioChunkList::pushAudioChunk(uint8_t *data, int size)
{
    auto *chunk = new AudioChunk{data, size};
    QList<AudioChunk *> dropped;
    {
        QMutexLocker locker(&audioLock);
        audioChunks.append(chunk);
        m_bytes += size;
        ++m_counters.pushed;
        // Keep at least the newest chunk.
        while (m_bytes > m_limitBytes && audioChunks.size() > 1) {
            AudioChunk *old = audioChunks.takeFirst();
            m_bytes -= old->size;
            ++m_counters.dropped;
            dropped.append(old);
        }
        if (audioChunks.size() > m_counters.highWater)
            m_counters.highWater = audioChunks.size();
        m_pushed.wakeAll();
    }
    for (AudioChunk *old : dropped) {
        std::free(old->data);
        delete old;
    }
}

bool AudioChunkList::takeFirst(AudioChunk *chunk)
{
    QMutexLocker locker(&audioLock);
    if (audioChunks.isEmpty())
        return false;
    AudioChunk *first = audioChunks.takeFirst();
    m_bytes -= first->size;
    *chunk = *first;
    delete first;
    return true;
}

void AudioChunkList::clear()
{
    QList<AudioChunk *> old;
    {
        QMutexLocker locker(&audioLock);
        old.swap(audioChunks);
        m_bytes = 0;
    }
    for (AudioChunk *chunk : old) {
        std::free(chunk->data);
        delete chunk;
    }
}

void AudioChunkList::wakeWaiters()
{
    QMutexLocker locker(&audioLock);
    m_pushed.wakeAll();
}

bool AudioChunkList::isEmpty() const
{
    QMutexLocker locker(&audioLock);
    return audioChunks.isEmpty();
}

int AudioChunkList::count() const
{
    QMutexLocker locker(&audioLock);
    return audioChunks.size();
}

AudioChunkList::Counters AudioChunkList::counters() const
{
    QMutexLocker locker(&audioLock);
    return m_counters;
}

void AudioChunkList::resetCounters()
{
    QMutexLocker locker(&audioLock);
    m_counters = Counters();
}
