// tavi-bench-echo: the echo canceller (src/base/echocanceller) beside
// PulseAudio's module-echo-cancel (WebRTC), each on the same path:
//   1. far end taken down and near end change on an echo path of null sinks
//      (speakers, a 50 ms loopback into the room, a microphone on the room);
//   2. cores used by the canceller on 44.1 kHz stereo, beside the sound
//      server's extra CPU while its module runs;
//   3. the voice dialogue's mouth-to-ear delay (AudioCtrl -> nginx-rtmp ->
//      AudioPlayer) with and without the canceller.
// Runs in the stage folder under the test display and sound server.

#include "benchsupport.h"

#include "nginxrtmp.h"
#include "peerprocess.h"
#include "sound.h"
#include "testsupport.h"

#include "base/echocanceller.h"
#include "base/logging.h"
#include "record/audioctrl.h"
#include "record/devmag.h"
#include "video/audio_play.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QTest>

#include <cmath>
#include <vector>

using namespace bench;

namespace {

class Devices : public devMag
{
public:
    explicit Devices(const QString &microphone) : devMag(QString(), microphone, QStringLiteral("pulse"), nullptr) {}
};

constexpr int kRate = testsupport::kSampleRate;
constexpr int kFarHz = 1000, kNearHz = 500;
// As tst_echo: the far end speaks for 8 s, the near end from 10 s to 13 s;
// the far end's window starts once a canceller has found the echo, which
// takes a few seconds on a busy machine.
constexpr double kFarFrom = 4.5, kFarTo = 9.2, kNearFrom = 9.3, kNearTo = 14.2;
constexpr int kRunMs = 15000;
// Joins of the dialogue with and without the canceller.
constexpr int kTurns = 4;
// Bursts of 0.3 s, as speech comes: a steady tone would be taken for noise.
const char *const kBursts = "volume='if(lt(mod(t,0.6),0.3),%1,0)':eval=frame";
const QString kFarFile = QStringLiteral("echo-far.flv");

QVector<qint16> slice(const QVector<qint16> &samples, double from, double to)
{
    return samples.mid(int(from * kRate), int((to - from) * kRate));
}

// A tone below one 16-bit step (power 0.5) counts as that step: silence
// from one canceller and faint noise from the other compare alike.
double db(double power, double reference)
{
    return 10 * std::log10(std::max(power, 0.5) / std::max(reference, 0.5));
}

bool playInto(testsupport::PeerProcess &process, const QString &sink, const QStringList &input)
{
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral("ffmpeg"),
                  QStringList{"-nostdin", "-loglevel", "error", "-re"} + input +
                      QStringList{"-vn", "-f", "pulse", "-device", sink, "bench"});
    return process.waitForStarted(5000);
}

QStringList nearEndInput()
{
    return {"-f", "lavfi", "-i",
            QStringLiteral("sine=frequency=%1:sample_rate=44100:duration=15,volume='if(between(t,10,13),1,0)'"
                           ":eval=frame,%2")
                .arg(kNearHz)
                .arg(QString::fromLatin1(kBursts).arg(0.3))};
}

struct Echo
{
    double farDown = NAN, nearChange = NAN;
};

// heard: the microphone; cleaned: what leaves the canceller. Nothing when
// the far end did not reach the microphone.
Echo measureEcho(const char *who, const QVector<qint16> &heard, const QVector<qint16> &cleaned)
{
    if (heard.size() < kRunMs / 1000 * kRate * 9 / 10 || cleaned.size() < kRunMs / 1000 * kRate * 9 / 10) {
        line("   %s: %d s of the microphone and %d s cleaned recorded, too short", who, int(heard.size() / kRate),
             int(cleaned.size() / kRate));
        return {};
    }
    const double heardFar = testsupport::tonePower(slice(heard, kFarFrom, kFarTo), kFarHz);
    if (heardFar < 1000) {
        line("   %s: the microphone hardly heard the far end (tone power %.0f)", who, heardFar);
        return {};
    }
    return {db(heardFar, testsupport::tonePower(slice(cleaned, kFarFrom, kFarTo), kFarHz)),
            db(testsupport::tonePower(slice(cleaned, kNearFrom, kNearTo), kNearHz),
               testsupport::tonePower(slice(heard, kNearFrom, kNearTo), kNearHz))};
}

// Two PulseAudio sources recorded by one ffmpeg process, and how much later
// (s) the second's first sample was taken, from the sources' time stamps.
struct Pair
{
    QVector<qint16> first, second;
    double secondLater = 0;
};

Pair recordPair(const QString &a, const QString &b, int ms)
{
    // Small fragments: the first ones otherwise come seconds late.
    const QStringList input =
        QStringLiteral("-f pulse -fragment_size 3528 -sample_rate 44100 -channels 1 -t %1").arg(ms / 1000.0).split(' ');
    // -copyts keeps each input's own clock, so the two can be lined up.
    const QStringList args = QStringList{"-nostdin", "-loglevel", "error", "-y"} + input + QStringList{"-i", a} +
        input + QStringList{"-i", b} +
        QStringLiteral("-copyts -map 0:a -c:a pcm_s16le echo-first.nut -map 1:a -c:a pcm_s16le echo-second.nut")
            .split(' ');
    Pair pair;
    if (!testsupport::run(QStringLiteral("ffmpeg"), args, ms + 15000))
        return pair;
    pair.first = testsupport::samplesOf({"-i", "echo-first.nut"});
    pair.second = testsupport::samplesOf({"-i", "echo-second.nut"});
    for (const char *file : {"echo-first.nut", "echo-second.nut"}) {
        QByteArray start;
        testsupport::run(
            QStringLiteral("ffprobe"),
            {"-v", "error", "-show_entries", "format=start_time", "-of", "csv=p=0", QString::fromLatin1(file)}, 10000,
            &start);
        pair.secondLater = start.trimmed().toDouble() - pair.secondLater;
        QFile::remove(QString::fromLatin1(file));
    }
    return pair;
}

// tavi: the far end played by an AudioPlayer and an AudioCtrl publishing the
// microphone to a file, sharing one canceller as a student's dialogue does.
Echo taviEcho(const QString &microphone)
{
    std::shared_ptr<EchoCanceller> canceller = EchoCanceller::create(kRate, 2);
    if (!canceller) {
        line("   tavi: the canceller did not start");
        return {};
    }
    devMag::setInstance(new Devices(microphone));
    AudioPlayer farEnd;
    farEnd.setEchoCanceller(canceller);
    AudioCtrl talk;
    talk.setEchoCanceller(canceller);
    const QString published = QStringLiteral("echo-dialogue.flv");
    QFile::remove(published);
    talk.setAddress(published.toUtf8().constData());
    talk.start();
    if (!talk.isRunning() || !farEnd.startPlay(kFarFile)) {
        line("   tavi: the dialogue or the far end's player did not start");
        talk.stop();
        return {};
    }
    testsupport::PeerProcess nearEnd;
    playInto(nearEnd, QStringLiteral("tavi_echo_room"), nearEndInput());
    const QVector<qint16> heard = testsupport::recordSource(microphone, kRunMs);
    farEnd.stop(true);
    talk.stop();
    talk.waitIdle(15000);
    nearEnd.stop();
    if (canceller->failed())
        line("   tavi: the canceller failed (see the log)");
    const QVector<qint16> sent = testsupport::samplesOf({"-i", published, "-map", "0:a"}, 60000);
    QFile::remove(published);
    return measureEcho("tavi", heard, sent);
}

qint64 soundServerPid()
{
    QFile file(QString::fromLocal8Bit(qgetenv("PULSE_RUNTIME_PATH")) + QStringLiteral("/pid"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toLongLong() : 0;
}

// PulseAudio alone on the path: the far end played into farSink, the
// microphone and cleaned (the module's source, or the microphone again
// without it) recorded together; and the daemon's cores meanwhile.
struct PulseRun
{
    Echo echo;
    double cores = NAN;
};
PulseRun pulseRun(const QString &farSink, const QString &microphone, const QString &cleaned)
{
    const qint64 pid = soundServerPid();
    QElapsedTimer wall;
    wall.start();
    const double cpu = cpuSeconds(pid);
    testsupport::PeerProcess farEnd, nearEnd;
    playInto(farEnd, farSink, {"-i", kFarFile});
    playInto(nearEnd, QStringLiteral("tavi_echo_room"), nearEndInput());
    const Pair pair = recordPair(microphone, cleaned, kRunMs);
    PulseRun run;
    run.cores = (cpuSeconds(pid) - cpu) / (double(wall.elapsed()) / 1000);
    farEnd.stop();
    nearEnd.stop();
    run.echo = measureEcho("pulseaudio", pair.first, pair.second);
    return run;
}

// Cores the canceller takes for real-time 44.1 kHz stereo: 10 ms of far end
// and 10 ms of microphone (the far end's echo 50 ms later, 30% as loud, with
// a near-end voice in other bursts) pushed through in turn, as fast as it goes.
double cancellerCores(int seconds)
{
    std::shared_ptr<EchoCanceller> canceller = EchoCanceller::create(kRate, 2);
    if (!canceller)
        return NAN;
    // 3 s: whole bursts of 0.6 s, repeated.
    const int length = 3 * kRate, frame = kRate / 100, echoDelay = kRate / 20;
    std::vector<int16_t> far(size_t(length) * 2), near(size_t(length) * 2);
    auto farAt = [](int i) {
        const double t = double(i) / kRate;
        return std::fmod(t, 0.6) < 0.3 ? 12000 * std::sin(2 * M_PI * kFarHz * t) : 0.0;
    };
    for (int i = 0; i < length; ++i) {
        const double t = double(i) / kRate;
        const double voice = std::fmod(t + 0.45, 1.5) < 0.3 ? 8000 * std::sin(2 * M_PI * kNearHz * t) : 0.0;
        const double heard = 0.3 * farAt((i - echoDelay + length) % length) + voice + (std::rand() % 201 - 100);
        far[size_t(i) * 2] = far[size_t(i) * 2 + 1] = int16_t(farAt(i));
        near[size_t(i) * 2] = near[size_t(i) * 2 + 1] = int16_t(heard);
    }
    std::vector<int16_t> block;
    const double before = cpuSeconds();
    for (int n = 0; n < seconds * 100; ++n) {
        const size_t at = size_t(n % (length / frame)) * size_t(frame) * 2;
        canceller->played(far.data() + at, frame * 2, kRate, 2);
        canceller->process(near.data() + at, frame * 2, block);
    }
    return canceller->failed() ? NAN : (cpuSeconds() - before) / seconds;
}

QVector<double> onsets(const QVector<qint16> &samples, double offset)
{
    int loudest = 0;
    for (qint16 s : samples)
        loudest = std::max(loudest, std::abs(int(s)));
    // A quarter of the loudest, as the gain control changes the level.
    const int loud = std::max(1000, loudest / 4);
    QVector<double> found;
    int quiet = 0;
    for (int i = 0; i < samples.size(); ++i) {
        if (std::abs(int(samples[i])) < loud) {
            ++quiet;
            continue;
        }
        if (quiet >= kRate / 4)
            found << offset + double(i) / kRate;
        quiet = 0;
    }
    return found;
}

// Where a click heard after one said (within a second) came from: delays in ms.
QVector<double> pairDelays(const QVector<double> &said, const QVector<double> &heard)
{
    QVector<double> delays;
    for (double out : heard) {
        double best = -1;
        for (double in : said)
            if (in < out && out - in < 1)
                best = in;
        if (best >= 0)
            delays << (out - best) * 1000;
    }
    return delays;
}

// The canceller's own delay (ms): 20 s of the clicks through process()
// alone, and the lag that best lines their sound up again.
double cancellerDelayMs()
{
    std::shared_ptr<EchoCanceller> canceller = EchoCanceller::create(kRate, 2);
    if (!canceller)
        return NAN;
    const int frame = kRate / 100;
    QVector<qint16> in(20 * kRate), out;
    for (int i = 0; i < in.size(); ++i) {
        const double t = double(i) / kRate;
        in[i] = qint16(std::fmod(t, 1.0) < 0.03 ? 0.8 * 32767 * std::sin(2 * M_PI * 1000 * t) : 0);
    }
    std::vector<int16_t> block(size_t(frame) * 2), cleaned;
    for (int at = 0; at + frame <= in.size(); at += frame) {
        for (int i = 0; i < frame; ++i)
            block[size_t(i) * 2] = block[size_t(i) * 2 + 1] = in[at + i];
        canceller->process(block.data(), frame * 2, cleaned);
        for (size_t i = 0; i < cleaned.size(); i += 2)
            out << cleaned[i];
    }
    QVector<int> clicks;
    for (int i = 0; i + kRate / 20 < out.size(); ++i)
        if (in[i] != 0)
            clicks << i;
    double best = 0;
    int bestLag = 0;
    for (int lag = 0; lag < kRate / 20; ++lag) {
        double sum = 0;
        for (int i : clicks)
            sum += double(in[i]) * out[i + lag];
        if (sum > best)
            best = sum, bestLag = lag;
    }
    return bestLag * 1000.0 / kRate;
}

// The dialogue's delays (ms): each click heard on the teacher's speakers
// paired with its start on the student's microphone.
QVector<double> dialogueDelays(const QString &url, const QString &microphone, const QString &speakers,
                               bool withCanceller, int seconds)
{
    AudioCtrl talk;
    if (withCanceller) {
        std::shared_ptr<EchoCanceller> canceller = EchoCanceller::create(kRate, 2);
        if (!canceller)
            return {};
        talk.setEchoCanceller(canceller);
    }
    talk.setAddress(url.toUtf8().constData());
    talk.start();
    QVector<double> delays;
    if (!talk.isRunning()) {
        line("   the dialogue did not start");
        return delays;
    }
    // The server has the stream before anyone plays; the first seconds of a
    // join hold the probe.
    QTest::qWait(1500);
    AudioPlayer player;
    if (player.startPlay(url)) {
        QTest::qWait(5000);
        const Pair pair = recordPair(microphone, speakers, seconds * 1000);
        delays = pairDelays(onsets(pair.first, 0), onsets(pair.second, pair.secondLater));
        line("   %-7s the canceller: median %.0f ms (p5 %.0f, p95 %.0f) over %d clicks; the speakers' recording began "
             "%.0f ms after the microphone's",
             withCanceller ? "with" : "without", median(delays), percentile(delays, 0.05), percentile(delays, 0.95),
             int(delays.size()), pair.secondLater * 1000);
        player.stop(true);
    } else {
        line("   the player did not start");
    }
    talk.stop();
    talk.waitIdle(15000);
    return delays;
}

} // namespace

int main(int argc, char **argv)
{
    // tavi's players play into the speakers.
    qputenv("PULSE_SINK", "tavi_echo_speakers");
    QGuiApplication app(argc, argv);
    // The canceller and the players tell what went wrong in the log (stderr).
    tavi::startLogging();
    testsupport::NullSink speakers(QStringLiteral("tavi_echo_speakers"));
    if (!speakers.isLoaded())
        line("echo: no PulseAudio null sink; only the canceller's CPU is measured");

    line("The canceller's CPU: 60 s of 44.1 kHz stereo far end and microphone pushed through");
    const double taviCores = cancellerCores(60);
    line("   tavi: %.4f cores", taviCores);

    double pulseCores = NAN;
    if (speakers.isLoaded()) {
        testsupport::NullSink room(QStringLiteral("tavi_echo_room"));
        testsupport::Microphone microphone(QStringLiteral("tavi_echo_mic"), room, QStringLiteral("RoomMic"));
        // The room: what the speakers play reaches the microphone 50 ms later.
        testsupport::PulseModule path{
            {"module-loopback", "source=tavi_echo_speakers.monitor", "sink=tavi_echo_room", "latency_msec=50"}};
        // The far end: a picture and 8 s of bursts, then silence.
        const bool farFile = testsupport::run(
            QStringLiteral("ffmpeg"),
            {"-v", "error", "-y", "-f", "lavfi", "-i", "color=black:s=320x240:r=25:d=15", "-f", "lavfi", "-i",
             QStringLiteral("sine=frequency=%1:sample_rate=44100:duration=8,%2,apad=whole_dur=15")
                 .arg(kFarHz)
                 .arg(QString::fromLatin1(kBursts).arg(0.5)),
             "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac", "-shortest", kFarFile},
            60000);
        if (!microphone.isLoaded() || !path.isLoaded() || !farFile) {
            line("echo: no echo path (remapped microphone, loopback or the far end's file missing)");
        } else {
            line("Echo: far end (1 kHz bursts) through a 50 ms loopback into the room's microphone, near end 500 Hz "
                 "bursts in the room (a tone below one 16-bit step counts as one)");
            Echo tavi = taviEcho(microphone.name());
            if (std::isnan(tavi.farDown)) {
                line("   tavi: once more");
                tavi = taviEcho(microphone.name());
            }
            const PulseRun plain = pulseRun(speakers.name(), microphone.name(), microphone.name());
            Echo pulse;
            testsupport::PulseModule cancel{{"module-echo-cancel", "aec_method=webrtc",
                                             "source_master=" + microphone.name(), "sink_master=" + speakers.name(),
                                             "source_name=tavi_echo_cancelled", "sink_name=tavi_echo_cancel_sink"}};
            if (cancel.isLoaded()) {
                const PulseRun run = pulseRun(QStringLiteral("tavi_echo_cancel_sink"), microphone.name(),
                                              QStringLiteral("tavi_echo_cancelled"));
                pulse = run.echo;
                pulseCores = run.cores - plain.cores;
                line("   sound server's cores: %.4f with module-echo-cancel, %.4f without", run.cores, plain.cores);
            } else {
                line("   PulseAudio's module-echo-cancel aec_method=webrtc did not load: no reference");
            }
            line("echo: far end down  tavi %.1f dB  pulseaudio %.1f dB  ratio %.2f", tavi.farDown, pulse.farDown,
                 tavi.farDown / pulse.farDown);
            line("echo: near end change  tavi %+.1f dB  pulseaudio %+.1f dB  difference %+.1f dB", tavi.nearChange,
                 pulse.nearChange, tavi.nearChange - pulse.nearChange);
        }
        QFile::remove(kFarFile);
    }
    line("cpu: canceller  tavi %.4f cores  pulseaudio module-echo-cancel %.4f cores  ratio %.2f", taviCores, pulseCores,
         taviCores / pulseCores);

    double withDelay = NAN, withoutDelay = NAN;
    testsupport::NginxRtmp server;
    testsupport::NullSink student(QStringLiteral("tavi_echo_student"));
    testsupport::PeerProcess clicks;
    // 30 ms of 1 kHz a second: any delay below a second pairs a click with its echo.
    if (!speakers.isLoaded() || !student.isLoaded() || !server.start() ||
        !playInto(clicks, student.name(),
                  {"-f", "lavfi", "-i",
                   QStringLiteral("aevalsrc=if(lt(mod(t\\,1)\\,0.03)\\,0.8*sin(2*PI*1000*t)\\,0):s=%1").arg(kRate)})) {
        line("delay: no dialogue (null sinks, nginx-rtmp or ffmpeg missing)");
    } else {
        devMag::setInstance(new Devices(student.monitor()));
        line("Mouth to ear: clicks on the student's microphone -> AudioCtrl -> nginx-rtmp -> AudioPlayer -> the "
             "teacher's speakers, %d turns of 12 s each way",
             kTurns);
        // In turns, so that a slow stretch of the machine weighs on both; each
        // join sets the player's buffer anew, so the figure is the median of
        // the joins' medians.
        QVector<double> with, without, turnsDifference;
        for (int turn = 0; turn < kTurns; ++turn) {
            const QString stream = QStringLiteral("echo%1").arg(turn);
            with << median(dialogueDelays(server.url(stream + "a"), student.monitor(), speakers.monitor(), true, 12));
            without << median(
                dialogueDelays(server.url(stream + "b"), student.monitor(), speakers.monitor(), false, 12));
            turnsDifference << with.last() - without.last();
        }
        withDelay = median(with), withoutDelay = median(without);
        line("delay: median of the joins  with the canceller %.0f ms  without %.0f ms  difference %+.0f ms  ratio %.2f "
             "(median of the turns' differences %+.0f ms)",
             withDelay, withoutDelay, withDelay - withoutDelay, withDelay / withoutDelay, median(turnsDifference));
        line("   the canceller alone (clicks through process(), no far end): %.0f ms later", cancellerDelayMs());
    }
    clicks.stop();

    line("goal: the canceller at most 0.05 cores: %s (%.4f)",
         std::isnan(taviCores)   ? "not measured"
             : taviCores <= 0.05 ? "holds"
                                 : "does NOT hold",
         taviCores);
    line("goal: the dialogue at most 20 ms later with the canceller: %s (%+.0f ms)",
         std::isnan(withDelay - withoutDelay) ? "not measured"
             : withDelay - withoutDelay <= 20 ? "holds"
                                              : "does NOT hold",
         withDelay - withoutDelay);
    return 0;
}
