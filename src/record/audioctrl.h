#pragma once

#include <QObject>

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
    void start();
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

private slots:
    void slot_outputFailed();

private:
    void refuse(Failure failure, const char *text);

    bool m_nameRefused = false;
    Failure m_failure = NoFailure;
    bool m_reportOutput = true;
};
