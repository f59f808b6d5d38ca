#include "record/savevideothread.h"

#include "base/signalstack.h"

#include "base/logging.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
// Queued pictures may use this much memory (about a second of a 1920x1080
// desktop); older ones are dropped.
constexpr long long kPictureQueueBytes = 96LL * 1024 * 1024;
// Further behind the capture than this (an uplink slower than the stream),
// the pictures in between are dropped; the sound goes on.
constexpr double kBehindMs = 500;
// More stream seconds than this waiting for the link, pictures are left
// out until it has caught up.
constexpr double kBacklogSeconds = 0.3;
// The pictures of kBehindMs, and the one being encoded.
constexpr int kLivePictures = int(kBehindMs * flvOutput::kFrameRate / 1000) + 2;
} // namespace

saveVideoThread::saveVideoThread(QObject *parent) : QThread(parent) {}

saveVideoThread::~saveVideoThread()
{
    m_stop.abort();
    wakeLoop();
    wait();
}

void saveVideoThread::wakeLoop()
{
    {
        std::lock_guard<std::mutex> lock(m_wakeMutex);
        ++m_wakes;
    }
    m_wakeCond.notify_all();
}

void saveVideoThread::waitForWake(long long seen)
{
    std::unique_lock<std::mutex> lock(m_wakeMutex);
    m_wakeCond.wait(lock, [&] { return m_wakes != seen || m_stop.requested(); });
}

bool saveVideoThread::setOutputName(const char *name)
{
    return flvOutput::storeOutputName(m_outputName, name);
}

void saveVideoThread::setVideoSize(int width, int height)
{
    m_videoWidth = width;
    m_videoHeight = height;
    m_videoQueue.setLimit(pictureLimit(false));
}

int saveVideoThread::pictureLimit(bool live) const
{
    const long long pictureBytes = (long long)m_videoWidth * m_videoHeight * 3 / 2;
    long long limit = pictureBytes > 0 ? kPictureQueueBytes / pictureBytes : 1000;
    if (limit < 8)
        limit = 8;
    if (limit > 1000)
        limit = 1000;
    // A class stream never encodes a picture further behind the newest than
    // kBehindMs (see videoStep): older ones are dropped as they come, not
    // after they have piled up while the encoder could not take them
    // (connecting, a busy machine).
    if (live && limit > kLivePictures)
        limit = kLivePictures;
    return int(limit);
}

bool saveVideoThread::startEncoding()
{
    if (isRunning())
        return false;
    m_stop.reset();
    m_capturesRunning = PictureCapture | SoundCapture;
    m_outputFailed = false;
    m_encoded = 0;
    m_repeated = 0;
    m_linkSkipped = 0;
    videoClockMs = 0.0;
    // Nothing of an earlier recording may reach this one.
    m_videoQueue.clearVideoFrames();
    m_videoQueue.resetCounters();
    m_audioChunks.clear();
    m_audioChunks.resetCounters();
    if (!m_outputName[0] || !m_output.setUp(m_outputName, true, m_videoWidth, m_videoHeight, m_classStreamOnly)) {
        m_outputFailed = true;
        return false;
    }
    m_videoQueue.setLimit(pictureLimit(m_output.isLive()));
    start(QThread::InheritPriority);
    return true;
}

void saveVideoThread::stopEncoding()
{
    m_stop.request();
    wakeLoop();
}

void saveVideoThread::captureEnded(Capture capture)
{
    const int before = m_capturesRunning.fetch_and(~capture);
    if ((before & capture) && !(before & ~capture))
        stopEncoding();
}

void saveVideoThread::pushVideoFrame(uint8_t *data, int timestampMs, int bytes)
{
    m_videoQueue.pushVideoFrame(data, timestampMs, bytes);
    wakeLoop();
}

void saveVideoThread::pushAudioChunk(uint8_t *data, int size)
{
    m_audioChunks.pushAudioChunk(data, size);
    wakeLoop();
}

VideoFrameNode *saveVideoThread::takeVideoFrame(double tMs)
{
    return m_videoQueue.takeVideoFrame(tMs, m_stop.requested());
}

saveVideoThread::Stats saveVideoThread::stats() const
{
    Stats s;
    const VideoFrameQueue::Counters video = m_videoQueue.counters();
    const AudioChunkList::Counters audio = m_audioChunks.counters();
    s.captured = video.pushed;
    s.encoded = m_encoded;
    s.repeated = m_repeated;
    s.linkSkipped = m_linkSkipped;
    s.staleDropped = video.stale;
    s.overflowDropped = video.overflow;
    s.videoHighWater = video.highWater;
    s.audioChunks = audio.pushed;
    s.audioDropped = audio.dropped;
    s.audioHighWater = audio.highWater;
    return s;
}

saveVideoThread::Step saveVideoThread::videoStep()
{
    if (m_videoQueue.count() == 0)
        return m_stop.requested() ? Finished : Waited;
    const int newest = m_videoQueue.newestTimestampMs();
    if (m_output.isLive() && newest - m_output.videoClockMs() > kBehindMs)
        m_output.skipVideoTo(newest);
    const double t = m_output.videoClockMs();
    videoClockMs = t;
    VideoFrameNode *node = takeVideoFrame(t);
    if (!node || !node->data) {
        // Nothing due yet; stopping, no picture can be placed.
        return m_stop.requested() ? Finished : Waited;
    }
    if (node == m_videoQueue.lastVideoNode())
        ++m_repeated;
    m_videoQueue.adoptLastVideoNode(node);
    if (m_output.sendBacklog() > kBacklogSeconds) {
        // Never encoded, so the pictures that are sent still decode.
        m_output.skipVideoPicture();
        ++m_linkSkipped;
        return Wrote;
    }
    ++m_encoded;
    return m_output.writeVideo(node->data) ? Wrote : Failed;
}

saveVideoThread::Step saveVideoThread::audioStep()
{
    AudioChunk chunk;
    if (!m_audioChunks.takeFirst(&chunk))
        return m_stop.requested() && m_audioChunks.isEmpty() ? Finished : Waited;
    const bool ok = m_output.writeAudio(chunk.data, chunk.size);
    std::free(chunk.data);
    return ok ? Wrote : Failed;
}

bool saveVideoThread::waitsForSound() const
{
    // Not for long: a microphone that never starts leaves the pictures be
    // once their queue is full.
    const flvOutput &out = m_output;
    return out.isLive() && out.hasAudio() && !out.soundStarted() && !m_stop.requested() &&
        m_videoQueue.count() < m_videoQueue.limit();
}

bool saveVideoThread::endTracksTogether()
{
    flvOutput &out = m_output;
    VideoFrameNode *last = m_videoQueue.lastVideoNode();
    if (!out.hasVideo() || !out.hasAudio() || !last || !last->data || out.audioFrameBytes() <= 0)
        return true;
    const double frame = out.videoFrameMs();
    const double audioFrame = out.audioFrameMs();
    const auto videoEnd = [&] { return out.videoClockMs(); };
    const auto audioEnd = [&] { return out.audioClockMs(); };
    // Each to the step whose end is nearest to the other's end.
    while (!m_stop.aborted() && videoEnd() + frame / 2 < audioEnd()) {
        ++m_repeated;
        ++m_encoded;
        if (!out.writeVideo(last->data))
            return false;
    }
    const std::vector<uint8_t> silence(size_t(out.audioFrameBytes()), 0);
    while (!m_stop.aborted() && audioEnd() + audioFrame / 2 < videoEnd()) {
        if (!out.writeAudio(silence.data(), int(silence.size())))
            return false;
    }
    return true;
}

void saveVideoThread::run()
{
    tavi::ensureSignalStack();
    videoClockMs = 0.0;
    const AVIOInterruptCB interrupt = m_stop.interruptCallback();
    if (!m_output.connect(interrupt)) {
        TAVI_LOG_ERROR("cannot open output " << flvOutput::nameForLog(m_outputName).constData());
        m_outputFailed = true;
        finishRun(false);
        if (!m_stop.requested())
            emit sig_outputFailed();
        return;
    }

    flvOutput &out = m_output;
    // A track is done once its capture has ended and its queue is drained;
    // the other one goes on alone. Each is written as its input comes (the
    // muxer puts a file's packets in order); a stream's pictures wait only
    // for its first sound, which sets the stream's start.
    bool videoDone = !out.hasVideo();
    bool audioDone = !out.hasAudio();
    Step step = Waited;
    while (step != Failed && !(videoDone && audioDone) && !m_stop.aborted()) {
        long long seen;
        {
            std::lock_guard<std::mutex> lock(m_wakeMutex);
            seen = m_wakes;
        }
        bool wrote = false;
        for (bool video : {false, true}) {
            bool &done = video ? videoDone : audioDone;
            if (done || step == Failed || (video && !audioDone && waitsForSound()))
                continue;
            step = video ? videoStep() : audioStep();
            done = step == Finished;
            wrote = wrote || step == Wrote;
        }
        if (!wrote && step != Failed && !(videoDone && audioDone))
            waitForWake(seen);
    }
    if (step != Failed && videoDone && audioDone && !endTracksTogether())
        step = Failed;
    const bool ok = step != Failed;
    if (!ok) {
        TAVI_LOG_ERROR("writing to " << flvOutput::nameForLog(m_outputName).constData() << " failed");
        m_outputFailed = true;
    }
    finishRun(ok);
    if (!ok && !m_stop.requested())
        emit sig_outputFailed();
}

void saveVideoThread::finishRun(bool drain)
{
    m_output.finish(drain);
    m_videoQueue.clearVideoFrames();
    m_audioChunks.clear();
    videoClockMs = 0.0;
    m_output.close();
}
