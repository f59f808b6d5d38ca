#pragma once

#include "base/soundmeter.h"
#include "record/captureinput.h"
#include "record/capturerun.h"
#include "record/capturetimeline.h"

#include <QString>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

class EchoCanceller;
struct AVFrame;
struct AVPacket;
struct SwrContext;

// Reads the microphone and hands its samples, as 16-bit interleaved stereo
// at 44,100 Hz, to a receiver in chunks. The two capture threads below
// differ only in their receiver and in what they do when the loop ends.
class audioCaptureThread : public QThread
{
    Q_OBJECT
public:
    explicit audioCaptureThread(QObject *parent = nullptr);
    ~audioCaptureThread() override;

    // Opens source, one listed by devMag::audioSources(), or with an empty
    // name the default microphone.
    CaptureInput::Result openDevice(const QString &source = QString());
    void closeDevice();
    void startCapture();
    void stopCapture();
    void pauseCapture();
    void resumeCapture();

    // Muted, the microphone is heard as silence and its time goes on.
    void setMuted(bool muted);
    bool isMuted() const { return m_muted; }
    // What is handed over: after the echo is taken out, and muting.
    const SoundMeter &meter() const { return m_meter; }
    // Takes out what the speakers play; null leaves the microphone as it is.
    // Set before the capture starts: it makes the sound one frame later.
    void setEchoCanceller(std::shared_ptr<EchoCanceller> canceller);
    // The source last opened, by the name that opens it.
    QString sourceName() const;

protected:
    void run() override;
    // Takes ownership of data (malloc'd).
    virtual void deliver(uint8_t *data, int size) = 0;
    virtual bool hasReceiver() const = 0;
    virtual void loopEnded() {}

private:
    // Input format and name of the default microphone on this platform.
    static bool platformInput(QString *formatName, QString *url);

    // Decodes a packet and hands its sound over at its place in time.
    void deliverPacket(AVPacket *packet, CaptureTimeline &timeline);
    // The frame as 16-bit interleaved stereo at the encoder's rate, in a new
    // malloc'd buffer of *size bytes; null when it cannot be had.
    uint8_t *toStereo(const AVFrame *frame, int *size);
    // Echo, muting and the meter on a converted block heard at *atMs; the
    // canceller may hand back another length (null when it holds it all),
    // heard from another time.
    void treat(uint8_t *&buffer, int &size, long long *atMs);
    // Hands a converted block over where the time line places it; takes
    // ownership of buffer.
    void deliverBlock(CaptureTimeline &timeline, uint8_t *buffer, int size, long long atMs);
    // The same once the stamps have settled; held blocks are kept till then.
    void settleBlock(CaptureTimeline &timeline, uint8_t *buffer, int size, long long atMs);
    // Places the held blocks back to back where the settler puts them.
    void releaseHeld(CaptureTimeline &timeline);
    // Hands over that many samples of silence.
    void deliverSilence(long long samples);
    // Whether the loop should read on after a stop: the device hands over
    // what it buffered, so the recording covers the time up to the stop.
    bool drainingTail(const CaptureTimeline &timeline) const;
    // Milliseconds of capture time since the start, pauses left out.
    long long capturedMs() const;
    // Capture time of the stop.
    long long stopCapturedMs() const;
    // Capture time at which the frame's first sample was heard, from the
    // device's wall-clock stamp; CaptureTimeline::kNoStamp without one.
    long long capturedAtMs(const AVFrame *frame) const;

    CaptureInput m_input;
    SwrContext *m_resampler = nullptr;
    SoundMeter m_meter;
    std::atomic<bool> m_muted{false};
    mutable std::mutex m_cancellerLock;
    std::shared_ptr<EchoCanceller> m_canceller;
    std::vector<int16_t> m_cleaned;
    QString m_sourceName;

    StampSettler m_settler{0};
    std::vector<std::pair<uint8_t *, int>> m_held;
    bool m_decodeFailed = false;
    CaptureRun m_run;
    std::atomic<bool> paused{false};
    std::atomic<long long> m_startMs{0};
    std::atomic<long long> m_stopMs{0};
    std::atomic<long long> m_pauseStartMs{0};
    std::atomic<long long> m_pausedMs{0};
};
