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
    for (int i = 0; i < ySize; ++i)
        data[i] = uint8_t(i % kWidth + i / kWidth + index * 8);
    std::memset(data + ySize, 128, size_t(ySize) / 2);
    return data;
}

// Records `seconds` of pictures arriving at `fps`, with a 440 Hz tone in 50 ms chunks.
bool encodeAtRate(saveVideoThread &encoder, const QString &path, double fps, double seconds)
{
    encoder.setVideoSize(kWidth, kHeight);
    if (!encoder.setOutputName(path.toLocal8Bit().constData()) || !encoder.startEncoding())
        return false;
    const int chunk = 2205;
    for (long long n = 0; n + chunk <= seconds * 44100;) {
        auto *samples = static_cast<int16_t *>(std::malloc(size_t(chunk) * 4));
        for (int i = 0; i < chunk; ++i, ++n)
            samples[2 * i] = samples[2 * i + 1] = int16_t(8000 * std::sin(2 * M_PI * 440 * double(n) / 44100));
        encoder.pushAudioChunk(reinterpret_cast<uint8_t *>(samples), chunk * 4);
    }
    for (int i = 0; i < int(seconds * fps); ++i)
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
    QCOMPARE(probe.audioCodec, QStringLiteral("aac"));
    const QString figures = QStringLiteral("%1 pictures, audio %2 s").arg(probe.videoFrames).arg(probe.audioSeconds());
    QVERIFY2(std::abs(probe.videoFrames - 50) <= 2, qPrintable(figures));
    QVERIFY2(std::abs(probe.audioSeconds() - probe.videoSeconds()) <= 0.1, qPrintable(figures));
    const saveVideoThread::Stats stats = encoder.stats();
    QVERIFY(fps >= 25 || stats.repeated > 0);
    QVERIFY(fps <= 25 || stats.staleDropped > 0);
}

void tst_recordencoder::nameOverLimitIsRefused()
{
    saveVideoThread encoder;
    const QByteArray fits(127, 'a');
    QVERIFY(encoder.setOutputName(fits.constData()));
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
}

void tst_recordencoder::reusedEncoderKeepsRecordingsApart()
{
    saveVideoThread encoder;
    QVERIFY(encodeAtRate(encoder, QStringLiteral("first.flv"), 25, 2.0));
    // Leftovers pushed after the first recording ended must not reach the next.
    for (int i = 0; i < 50; ++i)
        encoder.pushVideoFrame(makePicture(i), 5000 + i * 40);
    QVERIFY(encodeAtRate(encoder, QStringLiteral("second.flv"), 25, 1.0));
    const int frames = probeRecording(QStringLiteral("second.flv")).videoFrames;
    QVERIFY2(std::abs(frames - 25) <= 2, qPrintable(QString::number(frames)));
}

QTEST_GUILESS_MAIN(tst_recordencoder)
#include "tst_record_encoder.moc"
