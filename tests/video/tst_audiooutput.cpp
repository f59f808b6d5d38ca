// Audio output through a real sound server (PulseAudio's null sink under
// ./run test): device channel counts, resampling or plain copying, and the
// audio clock.

#include "playertest.h"
#include "video/audio_play.h"
#include "video/audiooutput.h"

#include <SDL2/SDL.h>
#include "video/videoplayer_thread.h"

#include <QtTest>

#include <memory>

using namespace playertest;

class TestAudioOutput : public QObject
{
    Q_OBJECT

private:
    QString tone(const QString &name, const QStringList &codec, int channels)
    {
        const QString file = QDir::current().absoluteFilePath(name);
        QStringList args{"-f", "lavfi", "-i", "sine=frequency=330:sample_rate=44100", "-t", "2", "-ac",
                         QString::number(channels)};
        if (channels == 6)
            args = QStringList{"-f", "lavfi", "-i",
                               "aevalsrc=sin(330*2*PI*t)|sin(440*2*PI*t)|0|0|0|0:s=48000:c=5.1", "-t", "2"};
        args << codec;
        return testsupport::makeMedia(file, args) ? file : QString();
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            qputenv("SDL_AUDIODRIVER", "dummy");
    }

    void openRefusesBadStreams()
    {
        const QString file = tone(QStringLiteral("open.m4a"), {"-c:a", "aac"}, 2);
        QVERIFY(!file.isEmpty());
        QVERIFY(initSdlAudio());
        auto state = std::make_unique<VideoState>();
        QVERIFY(avformat_open_input(&state->formatContext, file.toUtf8().constData(), nullptr, nullptr) == 0);
        QVERIFY(avformat_find_stream_info(state->formatContext, nullptr) >= 0);
        QCOMPARE(audio_stream_component_open(state.get(), -1), -1);
        QCOMPARE(audio_stream_component_open(state.get(), 5), -1);
        const int rate = state->formatContext->streams[0]->codecpar->sample_rate;
        state->formatContext->streams[0]->codecpar->sample_rate = 0;
        QCOMPARE(audio_stream_component_open(state.get(), 0), -1);
        QCOMPARE(state->audioDeviceId.load(), SDL_AudioDeviceID(0));
        state->formatContext->streams[0]->codecpar->sample_rate = rate;
        QCOMPARE(audio_stream_component_open(state.get(), 0), 0);
        QVERIFY(state->audioDeviceId.load() != 0);
        detachAudioDevice(state.get());
        closeAudioDevice(state.get());
        state->release();
        quitSdlAudio();
    }

    // The decode step driven by hand, with the device paused.
    void decodeKeepsClockAndHonoursFlush()
    {
        const QString file = tone(QStringLiteral("decode.m4a"), {"-c:a", "aac"}, 2);
        QVERIFY(initSdlAudio());
        auto state = std::make_unique<VideoState>();
        VideoState *is = state.get();
        QVERIFY(avformat_open_input(&is->formatContext, file.toUtf8().constData(), nullptr, nullptr) == 0);
        QVERIFY(avformat_find_stream_info(is->formatContext, nullptr) >= 0);
        packetQueueInit(&is->audioQueue);
        QCOMPARE(audio_stream_component_open(is, 0), 0);
        SDL_PauseAudioDevice(is->audioDeviceId, 1);
        detachAudioDevice(is);
        AVPacket *packet = av_packet_alloc();
        int n = 0;
        while (av_read_frame(is->formatContext, packet) >= 0) {
            if (n == 20) {
                AVPacket *flush = av_packet_alloc();
                makeFlushPacket(flush);
                packetQueuePut(&is->audioQueue, flush);
                av_packet_free(&flush);
            }
            if (n >= 10 && n < 15) {
                // Stamps missing: the running clock goes on.
                packet->pts = AV_NOPTS_VALUE;
                packet->dts = AV_NOPTS_VALUE;
            }
            if (n == 30)
                packet->pts = packet->dts = 0; // a stamp resets the clock
            packetQueuePut(&is->audioQueue, packet);
            av_packet_unref(packet);
            ++n;
        }
        av_packet_free(&packet);
        QVERIFY(n > 40);
        const double bytesPerSecond = 2.0 * is->audioTarget.channels * is->audioTarget.sampleRate;
        double pts = -1;
        double expected = -1;
        int chunks = 0;
        bool sawReset = false;
        for (;;) {
            const int size = audioDecodeFrame(is, &pts);
            if (size < 0)
                break;
            QVERIFY(size > 0);
            if (expected >= 0 && chunks < 28) {
                // Contiguous, stamps or not, and the flush plays nothing.
                QVERIFY2(qAbs(pts - expected) < 0.002, qPrintable(QStringLiteral("%1 %2 %3").arg(chunks).arg(pts).arg(expected)));
            }
            if (expected > 0.5 && pts < 0.1)
                sawReset = true;
            expected = pts + size / bytesPerSecond;
            QCOMPARE(is->audioClock.load(), expected);
            ++chunks;
        }
        QVERIFY(chunks > 35);
        QVERIFY(sawReset);
        // Nothing queued: no audio, and the clock stands still.
        const double clock = is->audioClock;
        QVERIFY(audioDecodeFrame(is, &pts) < 0);
        QCOMPARE(is->audioClock.load(), clock);
        closeAudioDevice(is);
        is->release();
        quitSdlAudio();
    }

    void monoOpensOneChannel()
    {
        const QString file = tone(QStringLiteral("mono.m4a"), {"-c:a", "aac"}, 1);
        QVERIFY(!file.isEmpty());
        auto player = std::make_unique<AudioPlayer>();
        QVERIFY(player->startPlay(file));
        QVERIFY(waitUntil([&] { return player->playbackState().audioClock > 0.5; }, 10000));
        QCOMPARE(player->playbackState().audioTarget.channels, 1);
        QCOMPARE(player->playbackState().audioTarget.sampleRate, 44100);
        QVERIFY(player->stop(true));
    }

    void sixChannelsPlay()
    {
        const QString file = tone(QStringLiteral("six.m4a"), {"-c:a", "aac"}, 6);
        QVERIFY(!file.isEmpty());
        auto player = std::make_unique<AudioPlayer>();
        QVERIFY(player->startPlay(file));
        QVERIFY(waitUntil([&] { return player->playbackState().audioClock > 0.5; }, 10000));
        const int channels = player->playbackState().audioTarget.channels;
        QVERIFY2(channels == 6 || channels == 4 || channels == 2 || channels == 1, qPrintable(QString::number(channels)));
        QCOMPARE(player->playbackState().audioTarget.sampleRate, 48000);
        QVERIFY(player->stop(true));
    }

    void twoPlayersDoNotSilenceEachOther()
    {
        const QString file = QDir::current().absoluteFilePath(QStringLiteral("long.m4a"));
        QVERIFY(testsupport::makeMedia(file, {"-f", "lavfi", "-i", "sine=sample_rate=44100", "-t", "6", "-c:a", "aac"}));
        const QString shortFile = QDir::current().absoluteFilePath(QStringLiteral("short.mp4"));
        QVERIFY(testsupport::makeMedia(shortFile, classArgs(0.5)));
        auto first = std::make_unique<AudioPlayer>();
        QVERIFY(first->startPlay(file));
        QVERIFY(waitUntil([&] { return first->playbackState().audioClock > 0.2; }, 10000));
        {
            VideoPlayer_Thread second;
            QSignalSpy finished(&second, &QThread::finished);
            QVERIFY(second.startPlay(shortFile));
            QVERIFY(finished.wait(10000));
        }
        // The first player's device still plays after the second has ended.
        const double before = first->playbackState().audioClock;
        QVERIFY(waitUntil([&] { return first->playbackState().audioClock > before + 0.2; }, 5000));
        QVERIFY(first->stop(true));
    }
};

QTEST_GUILESS_MAIN(TestAudioOutput)
#include "tst_audiooutput.moc"
