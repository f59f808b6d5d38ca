#pragma once

#include <QObject>
#include <QString>

class QTimer;

// A stream this client keeps on air until it is stopped: the teacher's class
// or a student's voice. The publisher itself (the recorder, the dialogue) is
// the play control's: this says when to open it, takes its answers, and
// tries again every retry interval while the server is away.
class Publication : public QObject
{
    Q_OBJECT
public:
    enum State {
        Off,
        Connecting, // not on air yet since start()
        Live,
        Reconnecting, // was on air; the server went away
        GivenUp // a cause that another try would not mend (reason() says it)
    };
    // What a failure means for the next try.
    enum Outcome {
        Retry,
        GiveUp
    };

    explicit Publication(int retryMs, QObject *parent = nullptr);

    State state() const { return m_state; }
    QString reason() const { return m_reason; }
    // Started and not stopped or given up.
    bool isOn() const { return m_state != Off && m_state != GivenUp; }
    // An open() is under way: the publisher's next answer is this one's.
    bool isOpening() const { return m_opening; }

    void start();
    void stop();

    // The publisher cannot start now (the last run still closes): asked
    // again later, the state as it was.
    void retryLater();
    // The answer to open(): running, or not and why. Answers to opens that
    // were not this one's are ignored.
    void opened(bool running, Outcome outcome = Retry, const QString &reason = QString());
    // The running publisher ended on a failure.
    void dropped(Outcome outcome, const QString &reason);

signals:
    // Start the publisher; it answers through opened() or retryLater().
    void open();
    // Stop the publisher: it came up after the publication was stopped.
    void close();
    void stateChanged();
    void gaveUp(const QString &reason);

private:
    void setState(State state, const QString &reason = QString());
    void giveUp(const QString &reason);
    void tryAgain();

    QTimer *m_retry;
    State m_state = Off;
    QString m_reason;
    // An open() under way: its answer is ours, also after stop().
    bool m_opening = false;
    bool m_wasLive = false;
};
