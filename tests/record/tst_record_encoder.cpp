// The encoder and FLV writer fed with made-up pictures and samples.

#include "recordprobe.h"

#include "record/savevideothread.h"
#include "record/sendaudiothread.h"

extern "C" {
#include <libavutil/mem.h>
}

#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {
constexpr int kWidth = 320;
constexpr int kHeight = 240;

uint8_t *makePicture(int index)
{
    const int ySize = kWidth * kHeight;
    auto *data = static_cast<uint8_t *>(av_malloc(size_t(ySize) * 3 / 2));
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            data[y * kWidth + x] = uint8_t(x + y + index * 8);
    std::memset(data + ySize, 128, size_t(ySize) / 2);
    return data;
}

// Two seconds of a 440 Hz tone in chunks of 50 ms.
void pushTone(double seconds, const std::function<void(uint8_t *, int)> &push)
{
    const int chunkSamples = 2205;
    const int chunks = int(seconds * 44100 / chunkSamples);
    long long n = 0;
    for (int c = 0; c < chunks; ++c) {
        auto *bytes = static_cast<int16_t *>(std::malloc(size_t(chunkSamples) * 4));
        for (int i = 0; i < chunkSamples; ++i, ++n) {
            const auto v = int16_t(8000 * std::sin(2 * M_PI * 440 * double(n) / 44100));
            bytes[2 * i] = bytes[2 * i + 1] = v;
        }
        push(reinterpret_cast<uint8_t *>(bytes), chunkSamples * 4);
    }
}

// Records `seconds` of pictures arriving at `fps` into path.
bool encodeAtRate(saveVideoThread &encoder, const QString &path, double fps, double seconds)
{
    encoder.setVideoSize(kWidth, kHeight);
    if (!encoder.setOutputName(path.toLocal8Bit().constData()) || !encoder.startEncoding())
        return false;
    pushTone(seconds, [&](uint8_t *b, int s) { encoder.pushAudioChunk(b, s); });
    const int pictures = int(seconds * fps);
    for (int i = 0; i < pictures; ++i)
        encoder.pushVideoFrame(makePicture(i), int(std::lround(i * 1000.0 / fps)));
    encoder.stopEncoding();
    return encoder.wait(60000) && !encoder.outputFailed();
}
} // namespace

class tst_recordencoder : public QObject
{
    Q_OBJECT
private slots:
    void anyCaptureRateGivesTwentyFive_data();
    void anyCaptureRateGivesTwentyFive();
    void mp4NameHoldsFlv();
    void nameOverLimitIsRefused();
    void unwritableOutputIsReported();
    void reusedEncoderKeepsRecordingsApart();
};

void tst_recordencoder::anyCaptureRateGivesTwentyFive_data()
{
    QTest::addColumn<double>("fps");
    QTest::newRow("10") << 10.0;
    QTest::newRow("25") << 25.0;
    QTest::newRow("60") << 60.0;
}

void tst_recordencoder::anyCaptureRateGivesTwentyFive()
{
    QFETCH(double, fps);
    saveVideoThread encoder;
    const QString path = QStringLiteral("rate%1.flv").arg(int(fps));
    QVERIFY(encodeAtRate(encoder, path, fps, 2.0));
    const RecordProbe probe = probeRecording(path);
    QVERIFY(probe.ok);
    QCOMPARE(probe.videoCodec, QStringLiteral("h264"));
    QCOMPARE(probe.audioCodec, QStringLiteral("aac"));
    QVERIFY2(std::abs(probe.videoFrames - 50) <= 2, qPrintable(QString::number(probe.videoFrames)));
    QVERIFY2(std::abs(probe.audioSeconds() - probe.videoSeconds()) <= 0.1,
             qPrintable(QStringLiteral("audio %1 s, video %2 s").arg(probe.audioSeconds()).arg(probe.videoSeconds())));
    const saveVideoThread::Stats stats = encoder.stats();
    QCOMPARE(stats.captured, (long long)(2 * fps));
    if (fps < 25)
        QVERIFY(stats.repeated > 0);
    if (fps > 25)
        QVERIFY(stats.staleDropped > 0);
}

void tst_recordencoder::mp4NameHoldsFlv()
{
    saveVideoThread encoder;
    QVERIFY(encodeAtRate(encoder, QStringLiteral("lesson.mp4"), 25, 1.0));
    const RecordProbe probe = probeRecording(QStringLiteral("lesson.mp4"));
    QCOMPARE(probe.formatName, QStringLiteral("flv"));
    QCOMPARE(probe.videoCodec, QStringLiteral("h264"));
}

void tst_recordencoder::nameOverLimitIsRefused()
{
    saveVideoThread encoder;
    const QByteArray fits(127, 'a');
    QVERIFY(encoder.setOutputName(fits.constData()));
    QCOMPARE(encoder.outputName(), fits);
    const QByteArray tooLong(128, 'b');
    QVERIFY(!encoder.setOutputName(tooLong.constData()));
    QVERIFY(encoder.outputName().isEmpty()); // never cut to a different name
    encoder.setVideoSize(kWidth, kHeight);
    QVERIFY(!encoder.startEncoding());

    sendAudioThread sender;
    QVERIFY(!sender.setOutputName(tooLong.constData()));
    QVERIFY(!sender.startEncoding());
}

void tst_recordencoder::unwritableOutputIsReported()
{
    saveVideoThread encoder;
    QSignalSpy failed(&encoder, &saveVideoThread::sig_outputFailed);
    encoder.setVideoSize(kWidth, kHeight);
    QVERIFY(encoder.setOutputName("no/such/folder/out.flv"));
    QVERIFY(encoder.startEncoding());
    QVERIFY(failed.wait(10000) || failed.count() == 1);
    QVERIFY(encoder.wait(5000));
    QVERIFY(encoder.outputFailed());
    // Pictures pushed while nothing consumes stay bounded.
    for (int i = 0; i < 3000; ++i)
        encoder.pushVideoFrame(makePicture(i), i * 10);
    QVERIFY(encoder.videoQueue().count() <= encoder.videoQueue().limit());
    QVERIFY(encoder.stats().overflowDropped > 0);
}

void tst_recordencoder::reusedEncoderKeepsRecordingsApart()
{
    saveVideoThread encoder;
    QVERIFY(encodeAtRate(encoder, QStringLiteral("first.flv"), 25, 2.0));
    // Leftovers pushed after the first recording ended must not reach the next.
    for (int i = 0; i < 50; ++i)
        encoder.pushVideoFrame(makePicture(i), 5000 + i * 40);
    QVERIFY(encodeAtRate(encoder, QStringLiteral("second.flv"), 25, 1.0));
    const RecordProbe second = probeRecording(QStringLiteral("second.flv"));
    QVERIFY2(std::abs(second.videoFrames - 25) <= 2, qPrintable(QString::number(second.videoFrames)));
    QVERIFY(probeRecording(QStringLiteral("first.flv")).videoFrames >= 48);
}

QTEST_GUILESS_MAIN(tst_recordencoder)
#include "tst_record_encoder.moc"
