#pragma once

#include <QObject>
#include <QString>

class GetVideoThread;
class GetAudioThread;
class saveVideoThread;

// Publishes the teacher's screen and microphone as one FLV stream (or
// records them into a file): one video capture, one microphone capture and
// one encoder, reused for every recording.
class recordCtrl : public QObject
{
    Q_OBJECT
public:
    explicit recordCtrl(QObject *parent = nullptr);
    ~recordCtrl() override;

    // The process-wide instance, created on first use.
    static recordCtrl *instance();

    void setUrl(const QString &address) { url = address; }
    QString currentUrl() const { return url; }
    // mode 0: the desktop, 1: the first camera. True when the recording runs;
    // every refusal is reported to the user.
    bool start(int mode);
    // Ends the capture; the encoder drains and closes the output. Always false.
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
    // The running recording ended on a failure that has been reported.
    void s_failed();

private slots:
    void slot_outputFailed();
    void slot_captureFailed();

private:
    QString url;
};
