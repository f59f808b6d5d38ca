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

    // A class whose stream has been gone for goneMs has ended: the dialogue
    // ends with it.
    explicit StudentSession(int retryMs, int goneMs = 10000, QObject *parent = nullptr);

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
    // The stream went away goneMs ago and has not come back.
    void classGone();

private:
    void setState(State state);

    Publication *m_dialogue;
    QTimer *m_replay;
    QTimer *m_gone;
    State m_state = Off;
    bool m_paused = false;
};
