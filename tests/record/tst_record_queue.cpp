// The picture queue that turns any capture rate into the encoder's rate,
// and the bounds of both queues.

#include "record/audiochunklist.h"
#include "record/videoframequeue.h"

extern "C" {
#include <libavutil/mem.h>
}

#include <QtTest>

#include <cstdlib>
#include <cstring>

namespace {
uint8_t *picture(uint8_t fill = 0)
{
    auto *data = static_cast<uint8_t *>(av_malloc(16));
    std::memset(data, fill, 16);
    return data;
}
} // namespace

class tst_recordqueue : public QObject
{
    Q_OBJECT
private slots:
    void oneDueNodeWaitsForSuccessor();
    void stalePicturesAreDropped();
    void notDueRepeatsLastPicture();
    void catchUpAfterHundredQueued();
    void fullQueueDropsOldest();
    void audioListDropsOldestBeyondLimit();
};

void tst_recordqueue::oneDueNodeWaitsForSuccessor()
{
    VideoFrameQueue queue;
    queue.pushVideoFrame(picture(), 0);
    QCOMPARE(queue.takeVideoFrame(40, false), nullptr);
    QCOMPARE(queue.count(), 1);
}

void tst_recordqueue::stalePicturesAreDropped()
{
    VideoFrameQueue queue;
    for (int stamp : {0, 30, 60})
        queue.pushVideoFrame(picture(), stamp);
    VideoFrameNode *node = queue.takeVideoFrame(40, false);
    QVERIFY(node);
    QCOMPARE(node->timestampMs, 30);
    QCOMPARE(queue.count(), 1);
    QCOMPARE(queue.counters().stale, 1LL);
    queue.adoptLastVideoNode(node);
    // The node stamped 60 stays until its time.
    QCOMPARE(queue.takeVideoFrame(50, false), node);
}

void tst_recordqueue::notDueRepeatsLastPicture()
{
    VideoFrameQueue queue;
    for (int i = 0; i < 5; ++i)
        queue.pushVideoFrame(picture(), 500 + i * 40);
    QCOMPARE(queue.takeVideoFrame(40, false), nullptr); // nothing shown yet
    QCOMPARE(queue.count(), 5);

    VideoFrameQueue second;
    second.pushVideoFrame(picture(), 0);
    second.pushVideoFrame(picture(), 500);
    VideoFrameNode *first = second.takeVideoFrame(0, false);
    QVERIFY(first);
    second.adoptLastVideoNode(first);
    QCOMPARE(second.takeVideoFrame(40, false), first);
    QCOMPARE(second.takeVideoFrame(80, false), first);
    QCOMPARE(second.count(), 1);
}

void tst_recordqueue::catchUpAfterHundredQueued()
{
    VideoFrameQueue queue;
    for (int i = 0; i < 101; ++i)
        queue.pushVideoFrame(picture(), 500 + i);
    VideoFrameNode *node = queue.takeVideoFrame(40, false);
    QVERIFY(node);
    QCOMPARE(node->timestampMs, 500);
    QCOMPARE(queue.count(), 100);
    queue.adoptLastVideoNode(node);
    // 100 queued is not more than 100: the last picture is repeated.
    QCOMPARE(queue.takeVideoFrame(40, false), node);
}

void tst_recordqueue::fullQueueDropsOldest()
{
    VideoFrameQueue queue;
    queue.setLimit(8);
    for (int i = 0; i < 20; ++i)
        queue.pushVideoFrame(picture(), i * 10);
    QCOMPARE(queue.count(), 8);
    QCOMPARE(queue.counters().overflow, 12LL);
    QCOMPARE(queue.counters().pushed, 20LL);
    QCOMPARE(queue.counters().highWater, 8);
    VideoFrameNode *node = queue.takeVideoFrame(125, false);
    QVERIFY(node);
    QCOMPARE(node->timestampMs, 120); // the oldest kept one is 120
    queue.adoptLastVideoNode(node);
}

void tst_recordqueue::audioListDropsOldestBeyondLimit()
{
    AudioChunkList list;
    list.setLimitBytes(1000);
    for (int i = 0; i < 30; ++i) {
        auto *bytes = static_cast<uint8_t *>(std::malloc(100));
        bytes[0] = uint8_t(i);
        list.pushAudioChunk(bytes, 100);
    }
    QCOMPARE(list.count(), 10);
    QCOMPARE(list.counters().dropped, 20LL);
    AudioChunk chunk;
    QVERIFY(list.takeFirst(&chunk));
    QCOMPARE(int(chunk.data[0]), 20); // the oldest ones went first
    std::free(chunk.data);
    list.clear();
    QVERIFY(list.isEmpty());
    QVERIFY(!list.takeFirst(&chunk));
}

QTEST_APPLESS_MAIN(tst_recordqueue)
#include "tst_record_queue.moc"
