#include "classroom/studentsession.h"

#include "classroom/publication.h"

#include <QTimer>

StudentSession::StudentSession(int retryMs, int goneMs, QObject *parent)
    : QObject(parent), m_dialogue(new Publication(retryMs, this)), m_replay(new QTimer(this)), m_gone(new QTimer(this))
{
    m_gone->setSingleShot(true);
    m_gone->setInterval(goneMs);
    connect(m_gone, &QTimer::timeout, this, &StudentSession::classGone);
    m_replay->setSingleShot(true);
    m_replay->setInterval(retryMs);
    connect(m_replay, &QTimer::timeout, this, [this]() {
        if (isOn())
            emit replay();
    });
}

void StudentSession::start()
{
    m_paused = false;
    setState(Waiting);
}

void StudentSession::stop()
{
    m_replay->stop();
    m_dialogue->stop();
    setState(Off);
}

void StudentSession::inputFlowing(bool flowing)
{
    if (isOn())
        setState(flowing ? Playing : Reconnecting);
}

void StudentSession::playerEnded()
{
    // The stream was not there, or was refused.
    if (!isOn())
        return;
    setState(m_state == Waiting ? Waiting : Reconnecting);
    m_replay->start();
}

void StudentSession::setState(State state)
{
    if (state == m_state)
        return;
    // Only a stream that played can end; a class not begun waits.
    if (state == Reconnecting && m_state == Playing)
        m_gone->start();
    else if (state != Reconnecting)
        m_gone->stop();
    m_state = state;
    emit stateChanged();
}
