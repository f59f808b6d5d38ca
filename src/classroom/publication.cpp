#include "classroom/publication.h"

#include <QTimer>

Publication::Publication(int retryMs, QObject *parent) : QObject(parent), m_retry(new QTimer(this))
{
    m_retry->setSingleShot(true);
    m_retry->setInterval(retryMs);
    connect(m_retry, &QTimer::timeout, this, &Publication::tryAgain);
}

void Publication::start()
{
    m_wasLive = false;
    setState(Connecting);
    tryAgain();
}

void Publication::stop()
{
    m_retry->stop();
    setState(Off);
}

void Publication::retryLater()
{
    m_opening = false;
    if (isOn())
        m_retry->start();
}

void Publication::opened(bool running, Outcome outcome, const QString &reason)
{
    if (!m_opening)
        return;
    m_opening = false;
    if (!isOn()) {
        // Stopped while the publisher was opening.
        if (running)
            emit close();
        return;
    }
    if (running) {
        m_wasLive = true;
        setState(Live);
    } else if (outcome == GiveUp) {
        giveUp(reason);
    } else {
        setState(m_wasLive ? Reconnecting : Connecting, reason);
        m_retry->start();
    }
}

void Publication::dropped(Outcome outcome, const QString &reason)
{
    if (!isOn())
        return;
    if (outcome == GiveUp) {
        giveUp(reason);
        return;
    }
    setState(Reconnecting, reason);
    if (!m_opening && !m_retry->isActive())
        m_retry->start();
}

void Publication::giveUp(const QString &reason)
{
    m_retry->stop();
    setState(GivenUp, reason);
    emit gaveUp(reason);
}

void Publication::tryAgain()
{
    if (!isOn() || m_opening || m_state == Live)
        return;
    m_opening = true;
    emit open();
}

void Publication::setState(State state, const QString &reason)
{
    if (state == m_state && reason == m_reason)
        return;
    m_state = state;
    m_reason = reason;
    emit stateChanged();
}
