#pragma once

#include <QObject>

class QThread;
class sendAudioThread;
class GetAudioThreadDia;

// Publishes the microphone alone to an RTMP address: the voice dialogue
// of a one-to-one class.
class AudioCtrl : public QObject
{
    Q_OBJECT
public:
    enum {
        Running = 1,
        Idle = 2
    };
    // Why the last start did not run, or the last dialogue ended.
    enum Failure {
        NoFailure,
        StillStopping,
        NameTooLong,
        AudioDevice,
        Output
    };

    explicit AudioCtrl(QObject *parent = nullptr);
    ~AudioCtrl() override;

    // The process-wide instance, created on first use.
    static AudioCtrl *instance();

    // At most 127 bytes; a longer address is refused at the next start.
    void setAddress(const char *address);
    // Publishes to class streams only (see saveVideoThread).
    void setClassStreamOnly(bool only);
    // Opens the microphone and the encoder on the caller's thread.
    void start();
    // The same with the opening on a thread of its own; s_startFinished tells
    // how it went.
    void startInBackground();
    // A start still opening ends without publishing.
    void stop();
    Failure lastFailure() const { return m_failure; }
    // A caller that deals with an output that cannot be written (a dialogue
    // publishing again once its server is back) turns off their reports.
    void setOutputFailuresReported(bool reported) { m_reportOutput = reported; }

    bool isIdle() const;
    bool waitIdle(int timeoutMs);

    int state = Idle;
    sendAudioThread *sender;
    GetAudioThreadDia *audioThread;

signals:
    // The running dialogue ended on a failure (reported, unless it was the
    // output and those are not).
    void s_failed();
    void s_startFinished(bool running);
    // Every thread of the last dialogue has ended.
    void s_idle();

private slots:
    void slot_outputFailed();

private:
    void refuse(Failure failure, const char *text);
    Failure open();
    bool finishStart(Failure opened);
    void openingDone();

    bool m_nameRefused = false;
    Failure m_failure = NoFailure;
    bool m_reportOutput = true;
    QThread *m_opener = nullptr;
    Failure m_opened = NoFailure;
    bool m_stopWhileOpening = false;
};
