// Fuzz target: the players on a media file, as a user's local recording
// reaches them (the seeds are small class recordings, cut short and
// damaged). Whatever the bytes, opening, reading, decoding and converting
// them must not crash or hang:
// - the player unsynced (pictures as fast as they decode) plays the file to
//   its end by itself, and every picture it shows is a whole RGB image;
// - the sound decodes to its end through the device callback;
// - the paced player and the audio-only player, each stopped once it plays
//   (whatever stamps the file has), stop at once.

#include "video/audio_play.h"
#include "video/audiooutput.h"
#include "video/mediainput.h"
#include "video/videoplayer_thread.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <SDL2/SDL.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

QString path;

// A player ends a file of at most a few seconds in far less; a hostile file
// must not keep it longer.
constexpr unsigned long kEndMs = 10000;
constexpr int kStopMs = 3000;
// Work bound of the sound decode: device buffers asked for.
constexpr int kMaxCallbacks = 1 << 16;

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "media fuzz target: %s\n", what);
    std::abort();
}

template<class Player> void stopAtOnce(Player &player)
{
    QElapsedTimer timer;
    timer.start();
    if (!player.stop(true) || timer.elapsed() > kStopMs)
        fail("a stop took too long");
}

void playsToItsEnd()
{
    VideoPlayer_Thread player;
    player.setSync(false);
    QObject::connect(&player, &VideoPlayer_Thread::sig_GetOneFrame, [](const QImage &image) {
        if (image.isNull() || image.format() != QImage::Format_RGB32 || image.text(QStringLiteral("pts")).isEmpty())
            fail("a picture that is no whole RGB image");
    });
    if (!player.startPlay(path))
        fail("a stopped player refused to start");
    if (!player.wait(kEndMs))
        fail("the unsynced player did not end by itself");
    player.stop(true);
}

// The sound stream's decode driven through the device callback by hand, on
// the device opened as the player opens it (paused, so SDL calls nothing).
void soundDecodesToItsEnd()
{
    auto state = std::make_unique<VideoState>();
    VideoState *is = state.get();
    is->reset();
    is->formatContext = openInput(is, path.toUtf8(), Probe::Default, int(kEndMs));
    const int audio = is->formatContext ? firstStreamOfType(is->formatContext, AVMEDIA_TYPE_AUDIO) : -1;
    const bool sdl = audio >= 0 && initSdlAudio();
    if (sdl && audio_stream_component_open(is, audio) == 0) {
        SDL_PauseAudioDevice(is->audioDeviceId, 1);
        AVPacket *packet = av_packet_alloc();
        while (packet && av_read_frame(is->formatContext, packet) >= 0) {
            if (packet->stream_index == audio)
                packetQueuePut(&is->audioQueue, packet);
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
        is->readEnded = true;
        static Uint8 buffer[16384];
        for (int i = 0; i < kMaxCallbacks && !is->audioDone; ++i)
            audioCallback(is, buffer, int(sizeof buffer));
    }
    detachAudioDevice(is);
    closeAudioDevice(is);
    is->release();
    if (sdl)
        quitSdlAudio();
}

// Started, and stopped once it plays (ready) or its run has ended; a run
// that does neither within half a second is stopped then. Either way the
// stop must be prompt.
template<class Player, class Ready> void stopsWhilePlaying(Player &player, Ready ready)
{
    if (!player.startPlay(path))
        fail("a stopped player refused to start");
    QElapsedTimer timer;
    timer.start();
    while (!ready() && !player.playbackState().readerFinished && timer.elapsed() < 500)
        QThread::msleep(1);
    stopAtOnce(player);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qputenv("SDL_AUDIODRIVER", "dummy");
    static QTemporaryDir dir;
    if (!dir.isValid())
        fail("no temporary folder");
    path = dir.filePath(QStringLiteral("input"));
    av_log_set_level(AV_LOG_QUIET);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
        fail("the input could not be written");
    file.close();

    playsToItsEnd();
    soundDecodesToItsEnd();
    {
        // Its second picture is the first one paced by the clock.
        std::atomic<int> shown{0};
        VideoPlayer_Thread player;
        QObject::connect(&player, &VideoPlayer_Thread::sig_GetOneFrame, [&shown](const QImage &) { ++shown; });
        stopsWhilePlaying(player, [&shown] { return shown >= 2; });
    }
    AudioPlayer audio;
    stopsWhilePlaying(audio, [&audio] { return audio.playbackState().audioClock > 0; });
    return 0;
}
