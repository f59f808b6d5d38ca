#pragma once

#include <QMap>
#include <QObject>
#include <QRect>
#include <QString>

#include <atomic>

class GetVideoThread;
class GetAudioThread;
class saveVideoThread;
class QThread;
class QTimer;

// Publishes the teacher's screen and microphone as one FLV stream (or
// records them into a file): one video capture, one microphone capture and
// one encoder, reused for every recording.
class recordCtrl : public QObject
{
    Q_OBJECT
public:
    // Why the last start did not run, or the last recording ended.
    enum Failure {
        NoFailure,
        StillStopping,
        NameTooLong,
        VideoDevice,
        AudioDevice,
        Output,
        VideoCapture,
        // The desktop portal is missing, or the user refused or ended the
        // screen share: asking again at once would only ask again.
        ScreenShare
    };

    explicit recordCtrl(QObject *parent = nullptr);
    ~recordCtrl() override;

    // The process-wide instance, created on first use.
    static recordCtrl *instance();

    void setUrl(const QString &address) { url = address; }
    // The sound source to record (devMag::audioSources()); empty for the
    // default microphone.
    void setAudioSource(const QString &name);
    // Publishes to class streams only (see saveVideoThread).
    void setClassStreamOnly(bool only);
    QString currentUrl() const { return url; }
    // The part of the X screen the desktop recordings grab from the next
    // start on (a monitor's rectangle); empty for the whole screen.
    void setCaptureArea(const QRect &area) { m_captureArea = area; }
    QRect captureArea() const { return m_captureArea; }
    // mode 0: the desktop, 1: the first camera. True when the recording runs;
    // every refusal is reported to the user (output failures only while
    // they are reported, see below). Opens the devices and the encoder on
    // the caller's thread: windows use startWhenIdle.
    bool start(int mode);
    Failure lastFailure() const { return m_failure; }
    // A caller that deals with an output that cannot be written (a class
    // publishing again once its server is back) turns off their reports.
    void setOutputFailuresReported(bool reported) { m_reportOutput = reported; }
    // Tells of failure in this text instead of the usual one (the recorder
    // window has texts of its own).
    void setFailureText(Failure failure, const QString &text) { m_texts.insert(failure, text); }
    // start(mode) once every thread of the last recording has ended, waiting
    // in the event loop (at most as long as start would), with the devices
    // and the encoder opened on a thread of its own; s_startFinished tells
    // how it went.
    void startWhenIdle(int mode);
    bool isStartPending() const { return m_pendingMode >= 0 || m_opener; }
    // Ends the capture; the encoder drains and closes the output. A start
    // still opening ends without recording. Always false.
    bool stop();
    void pause();
    void resume();

    // Whether every thread of the last recording has ended.
    bool isIdle() const;
    bool waitIdle(int timeoutMs);

    GetVideoThread *videoThread;
    GetAudioThread *audioThread;
    saveVideoThread *encoder;

signals:
    // The running recording ended on a failure (reported, unless it was the
    // output and those are not).
    void s_failed();
    // Every thread of the last recording has ended: its output is whole.
    void s_idle();
    void s_startFinished(bool running);

private slots:
    void slot_outputFailed();
    void slot_captureFailed();

private:
    bool refuse(Failure failure, const char *text);
    // The steps of a start that may take a while: devices, encoder, output.
    Failure open(int mode);
    bool finishStart(Failure opened);
    void beginOpening(int mode);
    void openingDone();
    // A thread of the run'th start has finished.
    void threadFinished(QThread *thread, int run);

    QString url;
    QRect m_captureArea;
    Failure m_failure = NoFailure;
    bool m_reportOutput = true;
    QMap<Failure, QString> m_texts;
    int m_pendingMode = -1;
    QTimer *m_pendingTimeout;
    QThread *m_opener = nullptr;
    Failure m_opened = NoFailure;
    bool m_stopWhileOpening = false;
    // Starts so far; bumped before a start's threads run.
    std::atomic<int> m_run{0};
};
