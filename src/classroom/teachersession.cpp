#include "classroom/teachersession.h"

#include "classroom/publication.h"

#include <QTimer>

TeacherSession::TeacherSession(int retryMs, QObject *parent)
    : QObject(parent), m_publication(new Publication(retryMs, this)), m_replay(new QTimer(this))
{
    m_replay->setSingleShot(true);
    m_replay->setInterval(retryMs);
    connect(m_replay, &QTimer::timeout, this, [this]() {
        if (m_hearing)
            emit replayVoice();
    });
    connect(m_publication, &Publication::stateChanged, this, [this]() {
        if (m_publication->state() == Publication::Live && !m_onAir.isValid())
            m_onAir.start();
        emit stateChanged();
    });
}

bool TeacherSession::isOn() const
{
    return m_publication->isOn();
}

void TeacherSession::start(bool hearStudent)
{
    m_onAir.invalidate();
    m_paused = false;
    m_hearing = hearStudent;
    setStudentVoice(false);
    m_publication->start();
}

void TeacherSession::stop()
{
    m_hearing = false;
    m_replay->stop();
    m_onAir.invalidate();
    setStudentVoice(false);
    m_publication->stop();
}

void TeacherSession::voiceFlowing(bool flowing)
{
    if (m_hearing)
        setStudentVoice(flowing);
}

void TeacherSession::voicePlayerEnded()
{
    if (!m_hearing)
        return;
    setStudentVoice(false);
    m_replay->start();
}

void TeacherSession::setStudentVoice(bool on)
{
    if (m_studentVoice == on)
        return;
    m_studentVoice = on;
    emit stateChanged();
}
