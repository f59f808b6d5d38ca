#pragma once

#include <QObject>
#include <QString>

class QThread;
class ProbeCapture;

// Listens to a microphone only for its level: the recorder window's meter
// before a recording. Opens on a thread of its own; the last listen() or
// stop() is what holds.
class MicrophoneProbe : public QObject
{
    Q_OBJECT
public:
    explicit MicrophoneProbe(QObject *parent = nullptr);
    ~MicrophoneProbe() override;

    // source: a name from devMag::audioSources(); empty for the default.
    // Nothing is opened where the sound server does not share sources
    // (plain ALSA): the recording would find its device taken.
    void listen(const QString &source);
    void stop();
    bool isListening() const { return m_wanted; }
    // 0 to 1.
    float level() const;

private:
    void open();
    void opened(bool ok);

    ProbeCapture *m_capture;
    QThread *m_opener = nullptr;
    bool m_wanted = false;
    QString m_source;
    QString m_openedSource;
};
