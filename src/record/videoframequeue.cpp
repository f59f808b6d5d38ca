#include "record/videoframequeue.h"

extern "C" {
#include <libavutil/mem.h>
}

#include <cstdio>
#include <cstdlib>

VideoFrameQueue::VideoFrameQueue() = default;

VideoFrameQueue::~VideoFrameQueue()
{
    clearVideoFrames();
    for (uint8_t *spare : m_spares)
        av_free(spare);
}

void VideoFrameQueue::freeNode(VideoFrameNode *node)
{
    if (!node)
        return;
    uint8_t *data = node->data;
    if (node->bytes > 0) {
        std::lock_guard<std::mutex> lock(m_spareLock);
        if (node->bytes == m_spareBytes && int(m_spares.size()) < kSpares) {
            m_spares.push_back(data);
            data = nullptr;
        }
    }
    av_free(data);
    std::free(node);
}

uint8_t *VideoFrameQueue::takeBuffer(int bytes)
{
    {
        std::lock_guard<std::mutex> lock(m_spareLock);
        if (bytes != m_spareBytes) {
            // Another picture size: the spares of the old one go.
            for (uint8_t *spare : m_spares)
                av_free(spare);
            m_spares.clear();
            m_spareBytes = bytes;
        }
        if (!m_spares.empty()) {
            uint8_t *spare = m_spares.back();
            m_spares.pop_back();
            return spare;
        }
    }
    return static_cast<uint8_t *>(av_malloc(size_t(bytes)));
}

void VideoFrameQueue::setLimit(int pictures)
{
    QMutexLocker locker(&videoQueueLock);
    m_limit = pictures < 1 ? 1 : pictures;
}

void VideoFrameQueue::pushVideoFrame(uint8_t *data, int timestampMs, int bytes)
{
    auto *node = static_cast<VideoFrameNode *>(std::malloc(sizeof(VideoFrameNode)));
    if (!node) {
        av_free(data);
        return;
    }
    node->data = data;
    node->timestampMs = timestampMs;
    node->next = nullptr;
    node->bytes = bytes;

    VideoFrameNode *dropped = nullptr;
    {
        QMutexLocker locker(&videoQueueLock);
        if (!videoHead)
            videoHead = node;
        else
            videoTail->next = node;
        videoTail = node;
        ++videoCount;
        ++m_counters.pushed;
        ++m_pushes;
        m_pushed.wakeAll();
        // Unlink the overflow here; free it outside the lock.
        while (videoCount > m_limit) {
            VideoFrameNode *old = videoHead;
            videoHead = old->next;
            --videoCount;
            ++m_counters.overflow;
            old->next = dropped;
            dropped = old;
        }
        if (videoCount > m_counters.highWater)
            m_counters.highWater = videoCount;
    }
    while (dropped) {
        VideoFrameNode *next = dropped->next;
        freeNode(dropped);
        dropped = next;
    }
}

VideoFrameNode *VideoFrameQueue::takeVideoFrame(double tMs, bool stopping)
{
    QMutexLocker locker(&videoQueueLock);
    VideoFrameNode *node = videoHead;
    if (!node)
        return nullptr;
    const double due = tMs + kSlackMs;
    if (due >= node->timestampMs) {
        for (;;) {
            VideoFrameNode *next = node->next;
            if (!next) {
                // Waiting for the next capture costs a frame of delay; only
                // a successor that could still be due is waited for.
                if (!stopping && tMs - node->timestampMs >= kSlackMs)
                    return nullptr;
                break;
            }
            if (next->timestampMs > due)
                break;
            --videoCount;
            videoHead = next;
            ++m_counters.stale;
            freeNode(node);
            node = next;
        }
    } else if (videoCount <= kCatchUpCount) {
        node = m_lastVideoNode;
    }
    if (videoTail == node)
        videoTail = nullptr;
    if (node && node != m_lastVideoNode) {
        videoHead = node->next;
        --videoCount;
        node->next = nullptr;
    }
    return node;
}

void VideoFrameQueue::adoptLastVideoNode(VideoFrameNode *node)
{
    VideoFrameNode *previous = nullptr;
    {
        QMutexLocker locker(&videoQueueLock);
        if (node == m_lastVideoNode)
            return;
        previous = m_lastVideoNode;
        m_lastVideoNode = node;
    }
    freeNode(previous);
}

void VideoFrameQueue::clearVideoFrames()
{
    VideoFrameNode *list = nullptr;
    VideoFrameNode *last = nullptr;
    {
        QMutexLocker locker(&videoQueueLock);
        list = videoHead;
        last = m_lastVideoNode;
        videoHead = videoTail = m_lastVideoNode = nullptr;
        videoCount = 0;
    }
    while (list) {
        VideoFrameNode *next = list->next;
        if (list != last)
            freeNode(list);
        list = next;
    }
    freeNode(last);
}

int VideoFrameQueue::count() const
{
    QMutexLocker locker(&videoQueueLock);
    return videoCount;
}

int VideoFrameQueue::newestTimestampMs() const
{
    QMutexLocker locker(&videoQueueLock);
    return videoTail && videoCount > 0 ? videoTail->timestampMs : -1;
}

long long VideoFrameQueue::pushes() const
{
    QMutexLocker locker(&videoQueueLock);
    return m_pushes;
}

void VideoFrameQueue::wakeWaiters()
{
    QMutexLocker locker(&videoQueueLock);
    m_pushed.wakeAll();
}

VideoFrameNode *VideoFrameQueue::lastVideoNode() const
{
    QMutexLocker locker(&videoQueueLock);
    return m_lastVideoNode;
}

VideoFrameQueue::Counters VideoFrameQueue::counters() const
{
    QMutexLocker locker(&videoQueueLock);
    return m_counters;
}

void VideoFrameQueue::resetCounters()
{
    QMutexLocker locker(&videoQueueLock);
    m_counters = Counters();
}
