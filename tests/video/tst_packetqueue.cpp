#include "video/packetqueue.h"

#include <QtTest>

#include <thread>

namespace {

AVPacket *packetOf(int size, int tag)
{
    AVPacket *packet = av_packet_alloc();
    av_new_packet(packet, size);
    memset(packet->data, tag & 0xff, size_t(size));
    packet->pts = tag;
    packet->stream_index = 0;
    return packet;
}

} // namespace

class TestPacketQueue : public QObject
{
    Q_OBJECT

private slots:
    void orderAndByteAccounting()
    {
        PacketQueue q;
        packetQueueInit(&q);
        for (int i = 1; i <= 5; ++i) {
            AVPacket *p = packetOf(i * 100, i);
            QCOMPARE(packetQueuePut(&q, p), 0);
            // The queue took the data over; the caller's packet is blank.
            QVERIFY(p->data == nullptr);
            av_packet_free(&p);
        }
        QCOMPARE(q.count.load(), 5);
        QCOMPARE(q.bytes.load(), 1500);
        AVPacket *out = av_packet_alloc();
        for (int i = 1; i <= 5; ++i) {
            QCOMPARE(packetQueueGet(&q, out, 0), 1);
            QCOMPARE(out->pts, int64_t(i));
            QCOMPARE(out->size, i * 100);
            QCOMPARE(int(out->data[i * 100 - 1]), i);
            av_packet_unref(out);
        }
        QCOMPARE(q.count.load(), 0);
        QCOMPARE(q.bytes.load(), 0);
        QCOMPARE(packetQueueGet(&q, out, 0), 0);
        av_packet_free(&out);
        packetQueueDestroy(&q);
    }

    void flushEmptiesAndQueueStaysUsable()
    {
        PacketQueue q;
        packetQueueInit(&q);
        for (int i = 0; i < 10; ++i) {
            AVPacket *p = packetOf(64, i);
            packetQueuePut(&q, p);
            av_packet_free(&p);
        }
        packetQueueFlush(&q);
        QCOMPARE(q.count.load(), 0);
        QCOMPARE(q.bytes.load(), 0);
        QVERIFY(!q.first && !q.last);
        AVPacket *p = packetOf(7, 42);
        packetQueuePut(&q, p);
        AVPacket *out = av_packet_alloc();
        QCOMPARE(packetQueueGet(&q, out, 0), 1);
        QCOMPARE(out->pts, int64_t(42));
        av_packet_free(&p);
        av_packet_free(&out);
        packetQueueDestroy(&q);
    }

    void putAndGetAcrossThreads()
    {
        PacketQueue q;
        packetQueueInit(&q);
        const int total = 20000;
        std::atomic<bool> done{false};
        std::thread producer([&] {
            for (int i = 0; i < total; ++i) {
                AVPacket *p = packetOf(1 + i % 50, i);
                packetQueuePut(&q, p);
                av_packet_free(&p);
            }
            done = true;
        });
        std::thread flusher([&] {
            // Flushing while others put and get must keep the books right.
            for (int i = 0; i < 50; ++i) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                packetQueueFlush(&q);
            }
        });
        int got = 0;
        int64_t last = -1;
        bool ordered = true;
        AVPacket *out = av_packet_alloc();
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 20000) {
            if (packetQueueGet(&q, out, 0)) {
                ordered = ordered && out->pts > last;
                last = out->pts;
                ++got;
                av_packet_unref(out);
            } else if (done) {
                break;
            }
        }
        producer.join();
        flusher.join();
        QVERIFY(ordered);
        QVERIFY(got > 0);
        // After a final drain the counters are back to zero.
        while (packetQueueGet(&q, out, 0))
            av_packet_unref(out);
        QCOMPARE(q.count.load(), 0);
        QCOMPARE(q.bytes.load(), 0);
        av_packet_free(&out);
        packetQueueDestroy(&q);
    }

};

QTEST_GUILESS_MAIN(TestPacketQueue)
#include "tst_packetqueue.moc"
