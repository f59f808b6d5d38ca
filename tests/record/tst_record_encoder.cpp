// The encoder and FLV writer fed with made-up pictures and samples; the picture queue that turns any capture rate into
// the encoder's rate, the bounds of both queues, the microphone's time line, and the screen cast's picture copy.

#include "recordprobe.h"

#include "base/pictureconverter.h"
#include "base/picturefit.h"
#include "record/audiochunklist.h"
#include "record/capturetimeline.h"
#include "record/flvoutput.h"
#include "record/getvideothread.h"
#include "record/savevideothread.h"
#include "record/screencast.h"
#include "record/sendaudiothread.h"
#include "record/videoframequeue.h"
#include "sound.h"
#include "testsupport.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

#include <QFile>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Stereo samples of a 440 Hz tone from sample `from` on, as the microphone hands them over.
uint8_t *toneChunk(long long from, int frames, int amplitude)
{
    auto *samples = static_cast<int16_t *>(std::malloc(size_t(frames) * 4));
    for (int i = 0; i < frames; ++i)
        samples[2 * i] = samples[2 * i + 1] = int16_t(amplitude * std::sin(2 * M_PI * 440 * double(from + i) / 44100));
    return reinterpret_cast<uint8_t *>(samples);
}

// Records `seconds` of pictures arriving at `fps`, with a 440 Hz tone in 50 ms
// chunks. The captures end one after the other, `first` first: the recording
// goes on until both have ended, so what the other one still pushes is kept.
bool encodeAtRate(saveVideoThread &encoder, const QString &path, double fps, double seconds,
                  saveVideoThread::Capture first = saveVideoThread::SoundCapture)
{
    encoder.setVideoSize(kWidth, kHeight);
    if (!encoder.setOutputName(path.toLocal8Bit().constData()) || !encoder.startEncoding())
        return false;
    const auto pushSound = [&] {
        const int chunk = 2205;
        for (long long n = 0; n + chunk <= seconds * 44100; n += chunk)
            encoder.pushAudioChunk(toneChunk(n, chunk, 8000), chunk * 4);
        encoder.captureEnded(saveVideoThread::SoundCapture);
    };
    const auto pushPictures = [&] {
        for (int i = 0; i < int(seconds * fps); ++i)
            encoder.pushVideoFrame(makePicture(i), int(std::lround(i * 1000.0 / fps)));
        encoder.captureEnded(saveVideoThread::PictureCapture);
    };
    const bool soundFirst = first == saveVideoThread::SoundCapture;
    if (soundFirst)
        pushSound();
    else
        pushPictures();
    if (encoder.stopRequested()) {
        qWarning("the recording was told to finish while a capture still ran");
        encoder.stopEncoding();
        encoder.wait(60000);
        return false;
    }
    if (soundFirst)
        pushPictures();
    else
        pushSound();
    return encoder.wait(60000) && !encoder.outputFailed();
}

} // namespace

class tst_recordencoder : public QObject
{
    Q_OBJECT
private slots:
    // A desktop's class picture: even, in proportion, within 1920 on the long side and 1080 on the short one, a
    // portrait desktop standing. Then where a picture is shown: 1:1 where it fits, else the largest size in proportion.
    void pictureSizes_data()
    {
        QTest::addColumn<QSize>("source");
        QTest::addColumn<QSize>("area"); // none: the class picture's size
        QTest::addColumn<QSize>("expected");
        const QSize none;
        QTest::newRow("4K desktop") << QSize(3840, 2160) << none << QSize(1920, 1080);
        QTest::newRow("1080p desktop") << QSize(1920, 1080) << none << QSize(1920, 1080);
        QTest::newRow("odd desktop") << QSize(1001, 777) << none << QSize(1000, 776);
        QTest::newRow("portrait 1440p") << QSize(1440, 2560) << none << QSize(1080, 1920);
        QTest::newRow("two monitors side by side") << QSize(3840, 1080) << none << QSize(1920, 540);
        QTest::newRow("just over, odd") << QSize(1921, 1081) << none << QSize(1918, 1080);
        QTest::newRow("tiny") << QSize(3, 3) << none << QSize(2, 2);
        QTest::newRow("1x1") << QSize(1, 1) << none << QSize(0, 0);
        QTest::newRow("shown 1:1 in a larger area") << QSize(1920, 1080) << QSize(1920, 1200) << QSize(1920, 1080);
        QTest::newRow("shown smaller, wide area") << QSize(1920, 1080) << QSize(720, 524) << QSize(720, 405);
        QTest::newRow("shown smaller, tall area") << QSize(1440, 1080) << QSize(720, 524) << QSize(699, 524);
        QTest::newRow("no area") << QSize(1920, 1080) << QSize(0, 0) << QSize(1920, 1080);
        QTest::newRow("a sliver of an area") << QSize(1920, 1080) << QSize(1, 1) << QSize(1, 1);
        QTest::newRow("nothing to show") << QSize(0, 0) << QSize(720, 524) << QSize();
    }
    void pictureSizes()
    {
        QFETCH(QSize, source);
        QFETCH(QSize, area);
        QFETCH(QSize, expected);
        if (!area.isValid())
            QCOMPARE(GetVideoThread::classPictureSize(source.width(), source.height()), expected);
        else
            QCOMPARE(fittedPictureSize(source, area), expected);
    }

    // A 4K desktop halved for a 1080p class: as swscale's own area filter would, also with rows longer than the
    // picture (the desktop's stride).
    void halvedPictureIsAnAreaAverage()
    {
        const int w = 98, h = 31, stride = 2 * w * 4 + 64;
        QByteArray source(stride * 2 * h, Qt::Uninitialized);
        quint32 seed = 7;
        for (char &byte : source)
            byte = char((seed = seed * 1103515245u + 12345u) >> 24);
        // Thin dark strokes on white, the worst case of text.
        for (int y = 0; y < 2 * h; y += 3)
            std::memset(source.data() + y * stride, 0, size_t(2 * w * 4));
        const int targetStride = w * 4 + 16;
        QByteArray ours(targetStride * h + 64, '\0');
        halvePicture32(reinterpret_cast<const uint8_t *>(source.constData()), stride,
                       reinterpret_cast<uint8_t *>(ours.data()), targetStride, w, h);
        QByteArray reference(w * 4 * h + 64, '\0');
        PictureConverter converter;
        SwsContext *area = converter.get(2 * w, 2 * h, AV_PIX_FMT_BGRA, w, h, AV_PIX_FMT_BGRA, SWS_AREA);
        QVERIFY(area);
        const uint8_t *in[4] = {reinterpret_cast<const uint8_t *>(source.constData()), nullptr, nullptr, nullptr};
        const int inLines[4] = {stride, 0, 0, 0};
        uint8_t *out[4] = {reinterpret_cast<uint8_t *>(reference.data()), nullptr, nullptr, nullptr};
        const int outLines[4] = {w * 4, 0, 0, 0};
        sws_scale(area, in, inLines, 0, 2 * h, out, outLines);
        int worst = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w * 4; ++x)
                worst = std::max(
                    worst, std::abs(int(uchar(ours[y * targetStride + x])) - int(uchar(reference[y * w * 4 + x]))));
        QVERIFY2(worst <= 2, qPrintable(QStringLiteral("a channel differs by %1").arg(worst)));
    }

    // A screen-cast buffer may end with the last row's last pixel, without
    // its padding: the copy reads nothing past it (the next page faults).
    void screenCastRowsEndAtLastPixel()
    {
        const size_t page = size_t(sysconf(_SC_PAGESIZE));
        auto *map =
            static_cast<uint8_t *>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        QVERIFY(map != MAP_FAILED);
        const auto unmap = qScopeGuard([&] { munmap(map, 2 * page); });
        QCOMPARE(mprotect(map + page, page, PROT_NONE), 0);
        const int rows = 3, stride = 64, row = 40;
        const size_t bytes = size_t(stride) * (rows - 1) + row;
        uint8_t *data = map + page - bytes;
        for (size_t i = 0; i < bytes; ++i)
            data[i] = uint8_t(i * 7 + 1);
        std::vector<uint8_t> copy;
        ScreenCast::copyRows(data, rows, stride, row, &copy);
        QCOMPARE(copy.size(), size_t(stride) * rows);
        QVERIFY(std::equal(data, data + bytes, copy.begin()));
    }

    // Any capture rate gives 25 pictures a second, sound alongside, whichever
    // capture ends first. A local name ending in ".mp4", in any case, gets an
    // MP4 (fragmented, so that it stays playable when the recording is cut
    // off: the capture test reads one while it is written); everything else
    // FLV. One encoder records every row: pictures left over from before a
    // recording must not reach it.
    void rateAndContainer_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<double>("fps");
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("endsFirst");
        const int sound = saveVideoThread::SoundCapture;
        const int pictures = saveVideoThread::PictureCapture;
        const QString mp4 = QStringLiteral("mov,mp4,m4a,3gp,3g2,mj2");
        const QString flv = QStringLiteral("flv");
        QTest::newRow("lower case, 25") << "lower.mp4" << 25.0 << mp4 << sound;
        QTest::newRow("upper case, 60") << "UPPER.MP4" << 60.0 << mp4 << pictures;
        QTest::newRow("flv, 10") << "plain.flv" << 10.0 << flv << pictures;
        QTest::newRow("other extension, 60") << "other.mkv" << 60.0 << flv << sound;
        QTest::newRow("mp4 not at the end") << "class.mp4.part" << 25.0 << flv << pictures;
        QTest::newRow("no extension") << "mp4" << 25.0 << flv << sound;
        QTest::newRow("rtmp address") << "rtmp://127.0.0.1:1/live/class.mp4" << 25.0 << flv << pictures;
    }

    void rateAndContainer()
    {
        QFETCH(QString, name);
        QFETCH(double, fps);
        QFETCH(QString, format);
        QFETCH(int, endsFirst);
        const bool mp4 = format != QLatin1String("flv");
        {
            flvOutput output;
            QVERIFY(output.setUp(name.toLocal8Bit().constData(), true, kWidth, kHeight));
            QCOMPARE(QString::fromLatin1(output.containerName()), QLatin1String(mp4 ? "mp4" : "flv"));
        }
        if (name.contains(QLatin1String("://")))
            return;
        saveVideoThread &encoder = m_encoder;
        for (int i = 0; i < 50; ++i)
            encoder.pushVideoFrame(makePicture(i), 5000 + i * 40);
        QVERIFY(encodeAtRate(encoder, name, fps, 2.0, saveVideoThread::Capture(endsFirst)));
        const RecordProbe probe = probeRecording(name);
        QCOMPARE(probe.formatName, format);
        QCOMPARE(probe.videoCodec, QStringLiteral("h264"));
        QCOMPARE(probe.audioCodec, QStringLiteral("aac"));
        const QString figures =
            QStringLiteral("%1 pictures, audio %2 s").arg(probe.videoFrames).arg(probe.audioSeconds());
        QVERIFY2(std::abs(probe.videoFrames - 50) <= 2, qPrintable(figures));
        // The tracks end together: the last picture lasts until the end of the sound.
        QVERIFY2(std::abs(probe.audioSeconds() - probe.videoSeconds()) <= 0.03, qPrintable(figures));
        const saveVideoThread::Stats stats = encoder.stats();
        QVERIFY(fps >= 25 || stats.repeated > 0);
        QVERIFY(fps <= 25 || stats.staleDropped > 0);
        // A recording is the user's document: made as the umask says.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        QCOMPARE(testsupport::fileMode(name), int(0666 & ~mask));
    }

    // Only class streams and plain files are written, under names that fit: every other protocol is refused before
    // FFmpeg opens it, a publisher of class streams writes no file at all, and a name of 128 bytes or more is refused,
    // never cut to a different one.
    void refusedOutputs_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("classStreamOnly");
        QTest::newRow("file on a publisher") << "published.flv" << true;
        QTest::newRow("file: address") << "file:written.flv" << false;
        QTest::newRow("pipe") << "pipe:1" << false;
        QTest::newRow("http") << "http://127.0.0.1:1/x.flv" << false;
        QTest::newRow("rtmp without a host") << "rtmp:///live/x" << false;
        QTest::newRow("name of 128 bytes") << QString(128, QLatin1Char('b')) << false;
    }

    void refusedOutputs()
    {
        QFETCH(QString, name);
        QFETCH(bool, classStreamOnly);
        const QByteArray local = name.toLocal8Bit();
        const bool tooLong = local.size() >= 128;
        if (tooLong) {
            saveVideoThread encoder;
            QVERIFY(encoder.setOutputName(local.left(127).constData()));
            QVERIFY(!encoder.setOutputName(local.constData()));
            QVERIFY(encoder.outputName().isEmpty());
            encoder.setVideoSize(kWidth, kHeight);
            QVERIFY(!encoder.startEncoding());
        } else {
            flvOutput output;
            QVERIFY(!output.setUp(local.constData(), true, kWidth, kHeight, classStreamOnly));
        }
        sendAudioThread sender;
        sender.setClassStreamOnly(classStreamOnly);
        QCOMPARE(sender.setOutputName(local.constData()), !tooLong);
        QVERIFY(!sender.startEncoding());
        QVERIFY(!QFile::exists(QStringLiteral("published.flv")) && !QFile::exists(QStringLiteral("written.flv")));
    }

    void unwritableOutputIsReported()
    {
        saveVideoThread encoder;
        QSignalSpy failed(&encoder, &saveVideoThread::sig_outputFailed);
        encoder.setVideoSize(kWidth, kHeight);
        QVERIFY(encoder.setOutputName("no/such/folder/out.flv"));
        QVERIFY(encoder.startEncoding());
        QVERIFY(failed.wait(10000) || failed.count() == 1);
        QVERIFY(encoder.wait(5000));
        QVERIFY(encoder.outputFailed());
        // Pictures and sound pushed while nothing consumes stay bounded; the oldest sound goes first.
        for (int i = 0; i < 3000; ++i)
            encoder.pushVideoFrame(makePicture(i), i * 10);
        QVERIFY(encoder.videoQueue().count() <= encoder.videoQueue().limit());
        AudioChunkList &sound = encoder.audioChunks();
        sound.setLimitBytes(1000);
        for (int i = 0; i < 30; ++i) {
            auto *bytes = static_cast<uint8_t *>(std::malloc(100));
            bytes[0] = uint8_t(i);
            encoder.pushAudioChunk(bytes, 100);
        }
        QCOMPARE(sound.count(), 10);
        QCOMPARE(sound.counters().dropped, 20LL);
        AudioChunk chunk;
        QVERIFY(sound.takeFirst(&chunk));
        QCOMPARE(int(chunk.data[0]), 20);
        std::free(chunk.data);
    }

    // The microphone may push before the sender's thread gets to run: chunks
    // pushed as that thread starts (here from its started() signal, which comes
    // before its loop) are part of the dialogue, its first 100 ms of a tone.
    // Chunks left from before the start are not.
    void dialogueKeepsItsFirstChunks()
    {
        const int chunkFrames = 441; // 10 ms
        auto chunk = [&](int index, bool tone) {
            return toneChunk(index * chunkFrames, chunkFrames, tone ? 12000 : 0);
        };
        sendAudioThread sender;
        for (int i = 0; i < 20; ++i) // a tone from before the start
            sender.pushAudioChunk(chunk(i, true), chunkFrames * 4);
        QSemaphore firstPushed;
        connect(
            &sender, &QThread::started, &sender,
            [&] {
                for (int i = 0; i < 10; ++i)
                    sender.pushAudioChunk(chunk(i, true), chunkFrames * 4);
                firstPushed.release();
            },
            Qt::DirectConnection);
        const QString path = QStringLiteral("dialogue.flv");
        QVERIFY(sender.setOutputName(path.toLocal8Bit().constData()));
        QVERIFY(sender.startEncoding());
        QVERIFY(firstPushed.tryAcquire(1, 10000));
        for (int i = 10; i < 50; ++i)
            sender.pushAudioChunk(chunk(i, false), chunkFrames * 4);
        sender.stopEncoding();
        QVERIFY(sender.wait(20000));
        QVERIFY(!sender.outputFailed());

        const QVector<qint16> pcm = testsupport::samplesOf({"-i", path});
        const int count = pcm.size();
        // 500 ms pushed; the encoder adds its 1,024 samples of delay in front.
        QVERIFY2(std::abs(count - 1024 - 22050) <= 1024, qPrintable(QString::number(count)));
        auto rms = [&](int fromMs, int toMs) {
            return testsupport::rms(pcm.mid(1024 + fromMs * 441 / 10, (toMs - fromMs) * 441 / 10));
        };
        const QString figures =
            QStringLiteral("%1 samples, rms %2 then %3").arg(count).arg(rms(5, 95)).arg(rms(150, 450));
        QVERIFY2(rms(5, 95) > 5000, qPrintable(figures)); // the tone: 12,000 / sqrt(2)
        QVERIFY2(rms(150, 450) < 500, qPrintable(figures));
    }

    void takeAtEncoderTime_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("pushed");
        QTest::addColumn<int>("now");
        QTest::addColumn<int>("taken"); // stamp of the picture taken, -1 for none
        QTest::addColumn<int>("left");
        QTest::addColumn<int>("stale");
        QTest::addColumn<int>("limit"); // of the queue; 0: as made
        QTest::newRow("one due node waits for its successor") << 0 << 0 << 1 << 40 << -1 << 1 << 0 << 0;
        QTest::newRow("stale pictures dropped") << 0 << 40 << 3 << 40 << 40 << 1 << 1 << 0;
        QTest::newRow("nothing due yet") << 500 << 40 << 5 << 40 << -1 << 5 << 0 << 0;
        QTest::newRow("first due, next far") << 0 << 500 << 2 << 0 << 0 << 1 << 0 << 0;
        // 100 queued is not more than 100: no catch-up, the last picture is repeated.
        QTest::newRow("catch up after 101 queued") << 500 << 1 << 101 << 40 << 500 << 100 << 0 << 0;
        // A full queue drops the oldest pictures.
        QTest::newRow("full queue of 8") << 0 << 40 << 20 << 460 << 480 << 7 << 0 << 8;
    }

    void takeAtEncoderTime()
    {
        QFETCH(int, first);
        QFETCH(int, step);
        QFETCH(int, pushed);
        QFETCH(int, now);
        QFETCH(int, limit);
        VideoFrameQueue queue;
        if (limit)
            queue.setLimit(limit);
        for (int i = 0; i < pushed; ++i)
            queue.pushVideoFrame(static_cast<uint8_t *>(av_mallocz(16)), first + i * step);
        QCOMPARE(queue.counters().overflow, limit ? pushed - limit : 0LL);
        QCOMPARE(queue.counters().highWater, limit ? limit : pushed);
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
        row("stamped later than it arrived", 100, 20, 200, 130, 0, 0, false, 0, 120, false, 0);
    }

    // Blocks of 10 ms (a sample a millisecond) heard from 1,000 ms on, each
    // arriving 5 ms after its end; the first stamp `behind` the truth, each
    // next one `catchUp` ms nearer it; or all arriving at once, 400 ms late.
    void firstStampsSettle_data()
    {
        QTest::addColumn<int>("behind");
        QTest::addColumn<int>("catchUp");
        QTest::addColumn<bool>("burst");
        QTest::addColumn<int>("held"); // blocks up to the one that settles
        QTest::addColumn<int>("start"); // where the first block is placed, less 1,000
        QTest::newRow("steady: a window of sound") << 0 << 0 << false << 11 << 0;
        QTest::newRow("catching up: till the start stops rising") << 200 << 10 << false << 31 << 0;
        QTest::newRow("burst") << 0 << 0 << true << 11 << 0;
        QTest::newRow("stamps after the arrival: the arrival") << -50 << 0 << false << 11 << 5;
        QTest::newRow("never settling: a second of sound") << 2000 << 10 << false << 100 << -1010;
    }

    void firstStampsSettle()
    {
        QFETCH(int, behind);
        QFETCH(int, catchUp);
        QFETCH(bool, burst);
        StampSettler settler(1000);
        int blocks = 0;
        for (bool holding = true; holding && blocks < 1000; ++blocks) {
            const int heard = 1000 + 10 * blocks;
            const int error = behind > 0 ? std::max(0, behind - catchUp * blocks) : behind;
            holding = settler.hold(10, heard - error, burst ? 1400 : heard + 15);
        }
        QTEST(blocks, "held");
        QFETCH(int, start);
        QCOMPARE(settler.stampAt(0), 1000LL + start);
        QCOMPARE(settler.stampAt(30), 1030LL + start);
        QVERIFY(!settler.hold(10, 0, 0));
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

private:
    saveVideoThread m_encoder;
};

QTEST_GUILESS_MAIN(tst_recordencoder)
#include "tst_record_encoder.moc"
