// The picture queue that turns any capture rate into the encoder's rate,
// the bounds of both queues, and the microphone's time line.

#include "record/audiochunklist.h"
#include "record/capturetimeline.h"
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

    // At 1,000 samples a second a sample is a millisecond. Each row hands
    // over `before` ms on time, then one block; "none" has no stamp.
    void microphoneTimeline_data()
    {
        const long long none = CaptureTimeline::kNoStamp;
        QTest::addColumn<long long>("before");
        QTest::addColumn<long long>("samples");
        QTest::addColumn<long long>("at");
        QTest::addColumn<long long>("clock");
        QTest::addColumn<long long>("silence");
        QTest::addColumn<long long>("skip");
        QTest::addColumn<bool>("dropped");
        QTest::addColumn<long long>("lagFill"); // silence after the block
        QTest::addColumn<long long>("stop"); // a stop at this capture time...
        QTest::addColumn<bool>("owes"); // ...still wants sound from the device
        QTest::addColumn<long long>("closing"); // silence that ends the time line there
        QTest::newRow("on time") << 100LL << 20LL << 100LL << 130LL << 0LL << 0LL << false << 0LL << 120LL << false
                                 << 0LL;
        QTest::newRow("within tolerance")
            << 100LL << 20LL << 125LL << 150LL << 0LL << 0LL << false << 0LL << 150LL << true << 30LL;
        QTest::newRow("gap filled with silence")
            << 100LL << 20LL << 300LL << 330LL << 200LL << 0LL << false << 0LL << 320LL << false << 0LL;
        QTest::newRow("sound from before the start cut")
            << 0LL << 80LL << -50LL << 40LL << 0LL << 50LL << false << 0LL << 40LL << true << 10LL;
        QTest::newRow("block wholly before the start")
            << 0LL << 20LL << -50LL << 40LL << 0LL << 20LL << false << 0LL << 40LL << true << 40LL;
        QTest::newRow("unstamped ahead of the clock dropped")
            << 0LL << 100LL << none << 30LL << 0LL << 0LL << true << 0LL << 30LL << true << 30LL;
        QTest::newRow("unstamped lagging the clock filled")
            << 100LL << 20LL << none << 400LL << 0LL << 0LL << false << 180LL << 400LL << true << 100LL;
        QTest::newRow("stamped lagging the clock left as it is")
            << 100LL << 20LL << 100LL << 400LL << 0LL << 0LL << false << 0LL << 500LL << true << 380LL;
        QTest::newRow("stop before what was handed over")
            << 300LL << 20LL << 300LL << 320LL << 0LL << 0LL << false << 0LL << 200LL << false << 0LL;
    }

    void microphoneTimeline()
    {
        QFETCH(long long, before);
        QFETCH(long long, samples);
        QFETCH(long long, at);
        QFETCH(long long, clock);
        CaptureTimeline timeline(1000);
        timeline.place(before, 0, before);
        QCOMPARE(timeline.delivered(), before);
        const CaptureTimeline::Placement place = timeline.place(samples, at, clock);
        QTEST(place.silence, "silence");
        QTEST(place.skip, "skip");
        QTEST(place.drop, "dropped");
        QTEST(timeline.lagFill(clock), "lagFill");
        QFETCH(long long, stop);
        QTEST(timeline.owes(stop), "owes");
        QTEST(timeline.closingSilence(stop), "closing");
        QVERIFY(!timeline.owes(stop));
    }

    // Device stamps are wall-clock milliseconds; anything else says nothing.
    void deviceStamps()
    {
        QCOMPARE(CaptureTimeline::captureTime(9950, 10000, 500), 450LL);
        QCOMPARE(CaptureTimeline::captureTime(10900, 10000, 500), 1400LL);
        QCOMPARE(CaptureTimeline::captureTime(11001, 10000, 500), CaptureTimeline::kNoStamp);
        QCOMPARE(CaptureTimeline::captureTime(-1, 10000, 500), CaptureTimeline::kNoStamp);
    }
};

QTEST_APPLESS_MAIN(tst_recordqueue)
#include "tst_record_queue.moc"
