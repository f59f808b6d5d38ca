#include "video/packetqueue.h"

#include <QtTest>

#include <thread>

namespace {

// Puts a packet whose size and bytes follow from the tag, its stamp; true
// when the queue took it and its data over, leaving the caller's blank.
bool put(PacketQueue *q, int tag)
{
    AVPacket *packet = av_packet_alloc();
    av_new_packet(packet, 1 + tag % 50);
    memset(packet->data, tag & 0xff, size_t(packet->size));
    packet->pts = tag;
    packet->stream_index = 0;
    const bool taken = packetQueuePut(q, packet) == 0 && packet->data == nullptr;
    av_packet_free(&packet);
    return taken;
}

} // namespace

class TestPacketQueue : public QObject
{
    Q_OBJECT

private slots:
    void putGetAndFlushAcrossThreads()
    {
        PacketQueue q;
        packetQueueInit(&q);
        QVERIFY(put(&q, 0) && put(&q, 1) && put(&q, 2));
        QCOMPARE(q.count.load(), 3);
        QCOMPARE(q.bytes.load(), 6);
        std::atomic<bool> done{false};
        std::thread producer([&] {
            for (int i = 3; i < 20000; ++i)
                put(&q, i);
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
        bool intact = true;
        AVPacket *out = av_packet_alloc();
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 20000) {
            if (packetQueueGet(&q, out, 0)) {
                // In order, each with its own size and bytes.
                intact = intact && out->pts > last && out->size == 1 + out->pts % 50 &&
                    out->data[out->size - 1] == uint8_t(out->pts & 0xff);
                last = out->pts;
                ++got;
                av_packet_unref(out);
            } else if (done) {
                break;
            }
        }
        producer.join();
        flusher.join();
        QVERIFY(intact);
        QVERIFY(got > 0);
        // After a final drain the counters are back to zero.
        while (packetQueueGet(&q, out, 0))
            av_packet_unref(out);
        QCOMPARE(q.count.load(), 0);
        QCOMPARE(q.bytes.load(), 0);
        QVERIFY(!q.first && !q.last);
        // And the queue stays usable.
        QVERIFY(put(&q, 42));
        QCOMPARE(packetQueueGet(&q, out, 0), 1);
        QCOMPARE(out->pts, int64_t(42));
        av_packet_free(&out);
        packetQueueDestroy(&q);
    }
};

QTEST_GUILESS_MAIN(TestPacketQueue)
#include "tst_packetqueue.moc"
