#pragma once

#include <QMap>
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
    // Publishes to class streams only (see saveVideoThread).
    void setClassStreamOnly(bool only);
    QString currentUrl() const { return url; }
    // mode 0: the desktop, 1: the first camera. True when the recording runs;
    // every refusal is reported to the user (output failures only while
    // they are reported, see below).
    bool start(int mode);
    Failure lastFailure() const { return m_failure; }
    // A caller that deals with an output that cannot be written (a class
    // publishing again once its server is back) turns off their reports.
    void setOutputFailuresReported(bool reported) { m_reportOutput = reported; }
    // Tells of failure in this text instead of the usual one (the recorder
    // window has texts of its own).
    void setFailureText(Failure failure, const QString &text) { m_texts.insert(failure, text); }
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
    // The running recording ended on a failure (reported, unless it was the
    // output and those are not).
    void s_failed();

private slots:
    void slot_outputFailed();
    void slot_captureFailed();

private:
    bool refuse(Failure failure, const char *text);

    QString url;
    Failure m_failure = NoFailure;
    bool m_reportOutput = true;
    QMap<Failure, QString> m_texts;
};
