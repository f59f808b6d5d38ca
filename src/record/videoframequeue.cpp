#include "record/videoframequeue.h"

extern "C" {
#include <libavutil/mem.h>
}

#include <cstdlib>

#include <sys/mman.h>

namespace {
// Room after a picture for converters and encoders that read or write whole
// SIMD blocks past its last row, as FFmpeg pads its own buffers.
constexpr size_t kPicturePadding = 64;

// Picture buffers are pages of their own rather than the allocator's. A
// 3 MB block freed to glibc raises its mmap threshold, after which such
// blocks come from the heap of whichever thread asked, and a queue that
// deepens and drains leaves its high water in each of those heaps for good.
// Unmapped, a buffer goes back to the system at once.
uint8_t *mapPicture(int bytes)
{
    void *pages =
        mmap(nullptr, size_t(bytes) + kPicturePadding, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return pages == MAP_FAILED ? nullptr : static_cast<uint8_t *>(pages);
}

void unmapPicture(uint8_t *data, int bytes)
{
    if (data)
        munmap(data, size_t(bytes) + kPicturePadding);
}
} // namespace

VideoFrameQueue::VideoFrameQueue() = default;

VideoFrameQueue::~VideoFrameQueue()
{
    clearVideoFrames();
    for (uint8_t *spare : m_spares)
        unmapPicture(spare, m_spareBytes);
}

void VideoFrameQueue::freeNode(VideoFrameNode *node)
{
    if (!node)
        return;
    if (node->bytes > 0)
        giveBackBuffer(node->data, node->bytes);
    else
        av_free(node->data);
    std::free(node);
}

void VideoFrameQueue::giveBackBuffer(uint8_t *data, int bytes)
{
    {
        std::lock_guard<std::mutex> lock(m_spareLock);
        if (data && bytes == m_spareBytes && int(m_spares.size()) < kSpares) {
            m_spares.push_back(data);
            return;
        }
    }
    unmapPicture(data, bytes);
}

uint8_t *VideoFrameQueue::takeBuffer(int bytes)
{
    {
        std::lock_guard<std::mutex> lock(m_spareLock);
        if (bytes != m_spareBytes) {
            // Another picture size: the spares of the old one go.
            for (uint8_t *spare : m_spares)
                unmapPicture(spare, m_spareBytes);
            m_spares.clear();
            m_spareBytes = bytes;
        }
        if (!m_spares.empty()) {
            uint8_t *spare = m_spares.back();
            m_spares.pop_back();
            return spare;
        }
    }
    return bytes > 0 ? mapPicture(bytes) : nullptr;
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
        if (bytes > 0)
            giveBackBuffer(data, bytes);
        else
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
