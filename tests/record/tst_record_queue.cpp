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
        QTest::newRow("stale pictures dropped") << 0 << 40 << 3 << 40 << 40 << 1 << 1;
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
        VideoFrameQueue queue;
        for (int i = 0; i < pushed; ++i)
            queue.pushVideoFrame(static_cast<uint8_t *>(av_mallocz(16)), first + i * step);
        VideoFrameNode *node = queue.takeVideoFrame(now, false);
        QTEST(node ? node->timestampMs : -1, "taken");
        QTEST(queue.count(), "left");
        QTEST(int(queue.counters().stale), "stale");
        if (!node)
            return;
        // Until the next picture is due, the last one is shown again.
        queue.adoptLastVideoNode(node);
        QCOMPARE(queue.takeVideoFrame(now + 10, false), node);
        QTEST(queue.count(), "left");
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
        VideoFrameNode *node = queue.takeVideoFrame(100, false);
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
        const auto row = [](const char *name, long long before, long long samples, long long at, long long clock,
                            long long silence, long long skip, bool dropped, long long lagFill, long long stop,
                            bool owes, long long closing) {
            QTest::newRow(name) << before << samples << at << clock << silence << skip << dropped << lagFill << stop
                                << owes << closing;
        };
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
        row("on time", 100, 20, 100, 130, 0, 0, false, 0, 120, false, 0);
        row("within tolerance", 100, 20, 125, 150, 0, 0, false, 0, 150, true, 30);
        row("gap filled with silence", 100, 20, 300, 330, 200, 0, false, 0, 320, false, 0);
        row("sound from before the start cut", 0, 80, -50, 40, 0, 50, false, 0, 40, true, 10);
        row("block wholly before the start", 0, 20, -50, 40, 0, 20, false, 0, 40, true, 40);
        row("unstamped ahead of the clock dropped", 0, 100, none, 30, 0, 0, true, 0, 30, true, 30);
        row("unstamped lagging the clock filled", 100, 20, none, 400, 0, 0, false, 180, 400, true, 100);
        row("stamped lagging the clock left as it is", 100, 20, 100, 400, 0, 0, false, 0, 500, true, 380);
        row("stop before what was handed over", 300, 20, 300, 320, 0, 0, false, 0, 200, false, 0);
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
