// The picture queue that turns any capture rate into the encoder's rate,
// and the bounds of both queues.

#include "record/audiochunklist.h"
#include "record/videoframequeue.h"

extern "C" {
#include <libavutil/mem.h>
}

#include <QtTest>

#include <cstdlib>

class tst_recordqueue : public QObject
{
    Q_OBJECT
private slots:
    void takeAtEncoderTime_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("pushed");
        QTest::addColumn<int>("now");
        QTest::addColumn<int>("taken"); // stamp of the picture taken, -1 for none
        QTest::addColumn<int>("left");
        QTest::addColumn<int>("stale");
        QTest::newRow("one due node waits for its successor") << 0 << 0 << 1 << 40 << -1 << 1 << 0;
        QTest::newRow("stale pictures dropped") << 0 << 30 << 3 << 40 << 30 << 1 << 1;
        QTest::newRow("nothing due yet") << 500 << 40 << 5 << 40 << -1 << 5 << 0;
        QTest::newRow("first due, next far") << 0 << 500 << 2 << 0 << 0 << 1 << 0;
        // 100 queued is not more than 100: no catch-up, the last picture is repeated.
        QTest::newRow("catch up after 101 queued") << 500 << 1 << 101 << 40 << 500 << 100 << 0;
    }

    void takeAtEncoderTime()
    {
        QFETCH(int, first);
        QFETCH(int, step);
        QFETCH(int, pushed);
        QFETCH(int, now);
        QFETCH(int, taken);
        QFETCH(int, left);
        QFETCH(int, stale);
        VideoFrameQueue queue;
        for (int i = 0; i < pushed; ++i)
            queue.pushVideoFrame(static_cast<uint8_t *>(av_mallocz(16)), first + i * step);
        VideoFrameNode *node = queue.takeVideoFrame(now, false);
        QCOMPARE(node ? node->timestampMs : -1, taken);
        QCOMPARE(queue.count(), left);
        QCOMPARE(queue.counters().stale, (long long)stale);
        if (!node)
            return;
        // Until the next picture is due, the last one is shown again.
        queue.adoptLastVideoNode(node);
        QCOMPARE(queue.takeVideoFrame(now + 10, false), node);
        QCOMPARE(queue.count(), left);
    }

    void fullQueueDropsOldest()
    {
        VideoFrameQueue queue;
        queue.setLimit(8);
        for (int i = 0; i < 20; ++i)
            queue.pushVideoFrame(static_cast<uint8_t *>(av_mallocz(16)), i * 10);
        QCOMPARE(queue.count(), 8);
        QCOMPARE(queue.counters().overflow, 12LL);
        QCOMPARE(queue.counters().highWater, 8);
        VideoFrameNode *node = queue.takeVideoFrame(125, false);
        QVERIFY(node);
        QCOMPARE(node->timestampMs, 120); // the oldest kept one
        queue.adoptLastVideoNode(node);
    }

    void audioListDropsOldestBeyondLimit()
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
        QVERIFY(!list.takeFirst(&chunk));
    }
};

QTEST_APPLESS_MAIN(tst_recordqueue)
#include "tst_record_queue.moc"
