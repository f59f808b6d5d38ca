#pragma once

#include <QObject>

class Publication;
class QTimer;

// A student's class: the class's stream played, its player tried again while
// the stream is not there, and in a one-to-one class the student's voice
// (dialogue(), switched on and off by the student).
class StudentSession : public QObject
{
    Q_OBJECT
public:
    enum State {
        Off,
        Waiting, // the class's stream has not come yet
        Playing,
        Reconnecting // it went away
    };

    explicit StudentSession(int retryMs, QObject *parent = nullptr);

    State state() const { return m_state; }
    bool isOn() const { return m_state != Off; }
    Publication *dialogue() const { return m_dialogue; }
    void start();
    // Ends the dialogue too.
    void stop();

    bool isPaused() const { return m_paused; }
    void setPaused(bool paused) { m_paused = paused; }

    // What the class player tells: its input flows, or its run ended.
    void inputFlowing(bool flowing);
    void playerEnded();

signals:
    void stateChanged();
    void replay();

private:
    void setState(State state);

    Publication *m_dialogue;
    QTimer *m_replay;
    State m_state = Off;
    bool m_paused = false;
};
