// Audio output through a real sound server (PulseAudio's null sink under
// ./run test): refused streams, the audio clock, device channel counts, and
// two players sharing the sound system.

#include "playertest.h"
#include "video/audio_play.h"
#include "video/audiooutput.h"
#include "video/videoplayer_thread.h"

#include <SDL2/SDL.h>

#include <QSignalSpy>
#include <QtTest>

#include <csignal>
#include <memory>

using namespace playertest;

namespace {

QString tone(const QString &name, int channels = 2, double seconds = 2)
{
    const QString source = channels == 6 ? "aevalsrc=sin(330*2*PI*t)|sin(440*2*PI*t)|0|0|0|0:s=48000:c=5.1"
                                         : "sine=frequency=330:sample_rate=44100";
    return makeMedia(
        name, QStringLiteral("-f lavfi -i %1 -t %2 -ac %3 -c:a aac").arg(source).arg(seconds).arg(channels).split(' '));
}

} // namespace

class TestAudioOutput : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            qputenv("SDL_AUDIODRIVER", "dummy");
    }

    // SDL's audio must not take SIGINT and SIGTERM: its handlers only queue
    // an event nobody reads, and the program could no longer be ended.
    void endingSignalsStayDefault_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
    }

    void endingSignalsStayDefault()
    {
        QFETCH(int, signal);
        // The test library has a handler of its own there; SDL takes only
        // signals left at their default.
        struct sigaction before = {};
        struct sigaction plain = {};
        plain.sa_handler = SIG_DFL;
        QCOMPARE(::sigaction(signal, &plain, &before), 0);
        const bool initialised = initSdlAudio();
        struct sigaction after = {};
        ::sigaction(signal, nullptr, &after);
        if (initialised)
            quitSdlAudio();
        ::sigaction(signal, &before, nullptr);
        QVERIFY(initialised);
        QVERIFY(!(after.sa_flags & SA_SIGINFO));
        QVERIFY(after.sa_handler == SIG_DFL);
    }

    // Bad streams refused; then the decode step driven by hand, with the
    // device paused.
    void openAndDecode()
    {
        // The file opened into a fresh state, as the reader thread would.
        auto state = std::make_unique<VideoState>();
        VideoState *is = state.get();
        const QByteArray file = tone(QStringLiteral("tone.m4a")).toUtf8();
        QVERIFY(!file.isEmpty() && avformat_open_input(&is->formatContext, file.constData(), nullptr, nullptr) == 0);
        QVERIFY(avformat_find_stream_info(is->formatContext, nullptr) >= 0 && initSdlAudio());
        packetQueueInit(&is->audioQueue);
        QCOMPARE(audio_stream_component_open(is, -1), -1);
        QCOMPARE(audio_stream_component_open(is, 5), -1);
        AVCodecParameters *codec = is->formatContext->streams[0]->codecpar;
        const int rate = codec->sample_rate;
        codec->sample_rate = 0;
        QCOMPARE(audio_stream_component_open(is, 0), -1);
        QCOMPARE(is->audioDeviceId.load(), SDL_AudioDeviceID(0));
        codec->sample_rate = rate;
        QCOMPARE(audio_stream_component_open(is, 0), 0);
        QVERIFY(is->audioDeviceId.load() != 0);
        SDL_PauseAudioDevice(is->audioDeviceId, 1);
        detachAudioDevice(is);
        AVPacket *packet = av_packet_alloc();
        int n = 0;
        for (; av_read_frame(is->formatContext, packet) >= 0; ++n) {
            if (n == 20) {
                AVPacket *flush = av_packet_alloc();
                makeFlushPacket(flush);
                packetQueuePut(&is->audioQueue, flush);
                av_packet_free(&flush);
            }
            if (n >= 10 && n < 15) // stamps missing: the running clock goes on
                packet->pts = packet->dts = AV_NOPTS_VALUE;
            if (n == 30)
                packet->pts = packet->dts = 0; // a stamp resets the clock
            packetQueuePut(&is->audioQueue, packet);
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
        QVERIFY(n > 40);
        const double bytesPerSecond = 2.0 * is->audioTarget.channels * is->audioTarget.sampleRate;
        double pts = -1;
        double expected = -1;
        int chunks = 0;
        bool sawReset = false;
        for (int size; (size = audioDecodeFrame(is, &pts)) >= 0; ++chunks) {
            QVERIFY(size > 0);
            // Contiguous, stamps or not, and the flush plays nothing.
            if (expected >= 0 && chunks < 28)
                QVERIFY2(qAbs(pts - expected) < 0.002,
                         qPrintable(QStringLiteral("%1 %2 %3").arg(chunks).arg(pts).arg(expected)));
            sawReset = sawReset || (expected > 0.5 && pts < 0.1);
            expected = pts + size / bytesPerSecond;
            QCOMPARE(is->audioClock.load(), expected);
        }
        QVERIFY(chunks > 35);
        QVERIFY(sawReset);
        // Nothing queued: no audio, and the clock stands still.
        QVERIFY(audioDecodeFrame(is, &pts) < 0);
        QCOMPARE(is->audioClock.load(), expected);
        closeAudioDevice(is);
        is->release();
        quitSdlAudio();
    }

    // A player opens the device with the file's channels or the nearest the
    // server takes; a second player ending must not silence it.
    void channelsAndTwoPlayers_data()
    {
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("rate");
        QTest::addColumn<QList<int>>("opened"); // device channel counts allowed
        QTest::newRow("mono") << 1 << 44100 << QList<int>{1};
        QTest::newRow("5.1") << 6 << 48000 << QList<int>{6, 4, 2, 1};
    }
    void channelsAndTwoPlayers()
    {
        QFETCH(int, channels);
        QFETCH(int, rate);
        QFETCH(QList<int>, opened);
        const QString file = tone(QStringLiteral("tone%1.m4a").arg(channels), channels, 6);
        const QString shortFile = makeMedia(QStringLiteral("short.mp4"), classArgs(0.5));
        QVERIFY(!file.isEmpty() && !shortFile.isEmpty());
        AudioPlayer first;
        QVERIFY(first.startPlay(file));
        QVERIFY(QTest::qWaitFor([&] { return first.playbackState().audioClock > 0.5; }, 10000));
        const int deviceChannels = first.playbackState().audioTarget.channels;
        QVERIFY2(opened.contains(deviceChannels), qPrintable(QString::number(deviceChannels)));
        QCOMPARE(first.playbackState().audioTarget.sampleRate, rate);
        {
            VideoPlayer_Thread second;
            QSignalSpy finished(&second, &QThread::finished);
            QVERIFY(second.startPlay(shortFile));
            QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 10000);
        }
        const double before = first.playbackState().audioClock;
        QVERIFY(QTest::qWaitFor([&] { return first.playbackState().audioClock > before + 0.2; }, 5000));
        QVERIFY(first.stop(true));
    }
};

QTEST_GUILESS_MAIN(TestAudioOutput)
#include "tst_audiooutput.moc"
