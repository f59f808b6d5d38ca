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
    enum { Running = 1, Idle = 2 };

    explicit AudioCtrl(QObject *parent = nullptr);
    ~AudioCtrl() override;

    // The process-wide instance, created on first use.
    static AudioCtrl *instance();

    // At most 127 bytes; a longer address is refused at the next start.
    void setAddress(const char *address);
    void start();
    void stop();

    bool isIdle() const;
    bool waitIdle(int timeoutMs);

    int state = Idle;
    sendAudioThread *sender;
    GetAudioThreadDia *audioThread;

signals:
    // The running dialogue ended on a failure that has been reported.
    void s_failed();

private slots:
    void slot_outputFailed();

private:
    bool m_nameRefused = false;
};
