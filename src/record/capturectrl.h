#pragma once

#include <QMap>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <vector>

class QThread;
class EchoCanceller;
class audioCaptureThread;

// What the recorder (recordCtrl) and the voice dialogue (AudioCtrl) share:
// a start opens devices and an output (on the caller's thread or on one of
// its own), a refusal is reported once, and the worker threads of a run
// tell when the controller is idle again.
class CaptureCtrl : public QObject
{
    Q_OBJECT
public:
    // Why the last start did not run, or the last run ended.
    enum Failure {
        NoFailure,
        StillStopping,
        NameTooLong,
        AudioDevice,
        Output,
        VideoDevice,
        VideoCapture,
        // The desktop portal is missing, or the user refused or ended the
        // screen share: asking again at once would only ask again.
        ScreenShare
    };

    Failure lastFailure() const { return m_failure; }
    // A caller that deals with an output that cannot be written (a class
    // publishing again once its server is back) turns off their reports.
    void setOutputFailuresReported(bool reported) { m_reportOutput = reported; }
    // Tells of failure in this text instead of the usual one.
    void setFailureText(Failure failure, const QString &text) { m_texts.insert(failure, text); }

    // Whether every thread of the last run, and the opening, has ended.
    bool isIdle() const;
    bool waitIdle(int timeoutMs);
    // The worker threads, for those who watch them end.
    const std::vector<QThread *> &threads() const { return m_threads; }

    // The microphone: muting, its level (0 to 1) and silence as handed over,
    // and echo cancellation (set before a start; null for none).
    void setMuted(bool muted);
    bool isMuted() const;
    float microphoneLevel() const;
    long long microphoneSilentMs() const;
    QString microphoneName() const;
    void setEchoCanceller(std::shared_ptr<EchoCanceller> canceller);

signals:
    // The running capture ended on a failure (reported, unless it was the
    // output and those are not).
    void s_failed();
    // Every thread of the last run has ended: its output is whole.
    void s_idle();
    void s_startFinished(bool running);

protected:
    explicit CaptureCtrl(QObject *parent);
    // Ends an opening still under way and closes what it opened.
    void endOpening();
    // The workers, in the order they stop in.
    void addThreads(std::vector<QThread *> threads);

    // Opens devices and output for a run; NoFailure or why not. May run on
    // the opening thread.
    virtual Failure open() = 0;
    // Closes what a successful open left opened, for a run stopped before
    // it started.
    virtual void closeOpened() = 0;
    // Starts the opened run.
    virtual void startThreads() = 0;
    // Stops a running run.
    virtual void stopThreads() = 0;
    // Called once the controller has become idle and said so.
    virtual void becameIdle() {}
    void setMicrophone(audioCaptureThread *microphone) { m_microphone = microphone; }

    // Opens and starts on the caller's thread, once the last run has ended
    // (waiting for it at most kPreviousRunWaitMs). True when it runs.
    bool startNow();
    // Opens on a thread of its own; s_startFinished tells how it went.
    void beginOpening();
    bool isOpening() const { return m_opener != nullptr; }
    // A stop; during the opening the run ends before it starts.
    void stopRun();
    // Reports failure (text: the usual one) and keeps it as lastFailure.
    bool refuse(Failure failure, const char *text = nullptr);
    // The run ended on failure.
    void runFailed(Failure failure, const char *text = nullptr);

    static constexpr int kPreviousRunWaitMs = 6000;

private:
    Failure openRun();
    bool finishStart(Failure opened);
    void openingDone();
    // A thread of the run'th start has finished.
    void threadFinished(QThread *thread, int run);

    std::vector<QThread *> m_threads;
    audioCaptureThread *m_microphone = nullptr;
    Failure m_failure = NoFailure;
    bool m_reportOutput = true;
    QMap<Failure, QString> m_texts;
    QThread *m_opener = nullptr;
    Failure m_opened = NoFailure;
    bool m_stopWhileOpening = false;
    // Starts so far; bumped before a start's threads run.
    std::atomic<int> m_run{0};
};
