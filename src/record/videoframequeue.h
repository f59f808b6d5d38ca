#pragma once

#include <QMutex>

#include <cstdint>
#include <mutex>
#include <vector>

// One captured picture: Y, U and V planes back to back, in a buffer from
// VideoFrameQueue::takeBuffer (bytes > 0) or av_malloc'd (bytes 0).
struct VideoFrameNode
{
    uint8_t *data;
    int timestampMs;
    VideoFrameNode *next;
    // Size of a buffer from takeBuffer(), which is used again; 0 for others.
    int bytes;
};

// Captured pictures waiting for the encoder. The encoder asks for the
// picture that belongs to an output time: stale pictures are dropped and the
// last one is repeated when nothing new is due, which turns any capture rate
// into the encoder's fixed rate. The queue is bounded: when the encoder
// cannot keep up (a stalled output), the oldest pictures are dropped and
// counted so memory stays flat.
class VideoFrameQueue
{
public:
    // More queued pictures than this and the head is used even if not due.
    static constexpr int kCatchUpCount = 100;
    // Half an output frame (25 a second): a picture stamped up to this much
    // after an output time is the one for it, and the newest picture is
    // taken at once when its successor, due a frame later, cannot be.
    static constexpr int kSlackMs = 20;

    VideoFrameQueue();
    ~VideoFrameQueue();
    VideoFrameQueue(const VideoFrameQueue &) = delete;
    VideoFrameQueue &operator=(const VideoFrameQueue &) = delete;

    // Most pictures kept; older ones are dropped on push. At least 1.
    void setLimit(int pictures);
    int limit() const { return m_limit; }

    // Takes ownership of data; bytes: its size when it came from takeBuffer().
    void pushVideoFrame(uint8_t *data, int timestampMs, int bytes = 0);
    // A picture buffer of bytes, one of the freed ones when it can: a fresh
    // 3 MB a picture costs the kernel its pages each time. Null when none
    // can be had.
    uint8_t *takeBuffer(int bytes);
    // Hands back a buffer from takeBuffer() that was not pushed.
    void giveBackBuffer(uint8_t *data, int bytes);
    // The picture to encode at output time tMs, or null when nothing can be
    // encoded yet. stopping: the newest picture is used although a
    // successor might still be due.
    VideoFrameNode *takeVideoFrame(double tMs, bool stopping);
    // Makes node the one last handed to the encoder, freeing the previous one.
    void adoptLastVideoNode(VideoFrameNode *node);
    // Frees every queued picture and the last handed-out one.
    void clearVideoFrames();

    int count() const;
    // Capture time of the newest queued picture, -1 when none is queued.
    int newestTimestampMs() const;
    VideoFrameNode *lastVideoNode() const;

    struct Counters
    {
        long long pushed = 0;
        long long stale = 0; // dropped because a newer one was due
        long long overflow = 0; // dropped because the queue was full
        int highWater = 0;
    };
    Counters counters() const;
    void resetCounters();

private:
    void freeNode(VideoFrameNode *node);

    static constexpr int kSpares = 4;
    std::mutex m_spareLock;
    std::vector<uint8_t *> m_spares;
    int m_spareBytes = 0;

    mutable QMutex videoQueueLock;
    VideoFrameNode *videoHead = nullptr;
    VideoFrameNode *videoTail = nullptr;
    VideoFrameNode *m_lastVideoNode = nullptr;
    int videoCount = 0;
    int m_limit = 1000;
    Counters m_counters;
};
