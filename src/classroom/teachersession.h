#pragma once

#include <QElapsedTimer>
#include <QObject>

class Publication;
class QTimer;

// A teacher's class: the desktop and microphone on air (publication()), and
// in a one-to-one class the student's voice heard, its player tried again
// while the student does not speak.
class TeacherSession : public QObject
{
    Q_OBJECT
public:
    explicit TeacherSession(int retryMs, QObject *parent = nullptr);

    Publication *publication() const { return m_publication; }
    bool isOn() const;
    void start(bool hearStudent);
    void stop();

    bool isPaused() const { return m_paused; }
    void setPaused(bool paused) { m_paused = paused; }
    // Since the class first went live; 0 before.
    qint64 onAirMs() const { return m_onAir.isValid() ? m_onAir.elapsed() : 0; }

    bool studentVoice() const { return m_studentVoice; }
    // What the student's voice player tells: its input flows, or its run ended.
    void voiceFlowing(bool flowing);
    void voicePlayerEnded();

signals:
    // The publication's state, or the student's voice, changed.
    void stateChanged();
    void replayVoice();

private:
    void setStudentVoice(bool on);

    Publication *m_publication;
    QTimer *m_replay;
    QElapsedTimer m_onAir;
    bool m_paused = false;
    bool m_hearing = false;
    bool m_studentVoice = false;
};
