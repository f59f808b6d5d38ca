#include "classroom/playaudiovideoctrl.h"

#include "record/audioctrl.h"
#include "record/recordctrl.h"
#include "ui/playbtn.h"
#include "video/audio_play.h"
#include "video/video_play.h"
#include "video/videoplayer_thread.h"

#include <QMetaObject>

playAudioVideoCtrl::playAudioVideoCtrl()
    : QObject(nullptr), localPlayer(new VideoPlayer_Thread), classPlayer(new VideoPlayer_Thread),
      videoOnlyPlayer(new VideoPlayer), talkPlayer(new AudioPlayer)
{
    // Pictures leave the players' video threads directly and cross to the
    // GUI thread through takeFrame.
    connect(classPlayer, &VideoPlayer_Thread::sig_GetOneFrame, this,
            [this](const QImage &image) { takeFrame(image); }, Qt::DirectConnection);
    connect(localPlayer, &VideoPlayer_Thread::sig_GetOneFrame, this,
            [this](const QImage &image) { takeFrame(image); }, Qt::DirectConnection);
    connect(videoOnlyPlayer, &VideoPlayer::sig_GetOneFrame, this,
            [this](const QImage &image) { takeFrame(image); }, Qt::DirectConnection);
    connect(localPlayer, &VideoPlayer_Thread::sig_TotalTimeChanged, this, &playAudioVideoCtrl::sig_localDuration);
}

playAudioVideoCtrl::~playAudioVideoCtrl()
{
    delete localPlayer;
    delete classPlayer;
    delete videoOnlyPlayer;
    delete talkPlayer;
}

playAudioVideoCtrl *playAudioVideoCtrl::instance()
{
    static playAudioVideoCtrl *ctrl = nullptr;
    if (!ctrl)
        ctrl = new playAudioVideoCtrl;
    return ctrl;
}

recordCtrl *playAudioVideoCtrl::recorder()
{
    if (!m_recorder)
        m_recorder = recordCtrl::instance();
    return m_recorder;
}

AudioCtrl *playAudioVideoCtrl::talk()
{
    if (!m_talk)
        m_talk = AudioCtrl::instance();
    return m_talk;
}

void playAudioVideoCtrl::takeFrame(const QImage &image)
{
    QMutexLocker lock(&m_frameMutex);
    m_frame = image;
    if (m_deliveryPending)
        return;
    m_deliveryPending = true;
    QMetaObject::invokeMethod(this, "deliverFrame", Qt::QueuedConnection);
}

void playAudioVideoCtrl::deliverFrame()
{
    QImage image;
    {
        QMutexLocker lock(&m_frameMutex);
        image.swap(m_frame);
        m_deliveryPending = false;
    }
    if (!image.isNull())
        emit sig_GetOneFrame(image);
}

void playAudioVideoCtrl::classStart()
{
    if (course.listType == 1) {
        if (isOneToOne(course))
            talkPlayer->startPlay(course.rtmplat);
        recorder()->setUrl(course.rtmp);
        recorder()->start(0);
    } else if (course.listType == 2) {
        classPlayer->startPlay(course.rtmplat);
    }
}

void playAudioVideoCtrl::classPause()
{
    if (course.listType == 1) {
        if (isOneToOne(course))
            talkPlayer->pause();
        recorder()->pause();
    } else if (course.listType == 2) {
        classPlayer->pause();
    }
}

void playAudioVideoCtrl::classResume()
{
    if (course.listType == 1) {
        if (isOneToOne(course))
            talkPlayer->play();
        recorder()->resume();
    } else if (course.listType == 2) {
        classPlayer->play();
    }
}

void playAudioVideoCtrl::classStop()
{
    if (course.listType == 1) {
        if (isOneToOne(course))
            talkPlayer->stop(true);
        recorder()->stop();
    } else if (course.listType == 2) {
        classPlayer->stop(true);
        if (isOneToOne(course))
            talk()->stop();
    }
}

void playAudioVideoCtrl::dialogueStart()
{
    if (course.listType != 2 || !isOneToOne(course))
        return;
    const std::string address = course.rtmp.toStdString();
    talk()->setAddress(address.c_str());
    talk()->start();
}

void playAudioVideoCtrl::dialogueStop()
{
    talk()->stop();
}

int playAudioVideoCtrl::dialogueState()
{
    return talk()->state;
}

void playAudioVideoCtrl::localStart(QString path)
{
    localPlayer->startPlay(path);
}

void playAudioVideoCtrl::localPause()
{
    localPlayer->pause();
}

void playAudioVideoCtrl::localResume()
{
    localPlayer->play();
}

void playAudioVideoCtrl::localStop()
{
    localPlayer->stop(true);
}

void playAudioVideoCtrl::localSeek(qint64 position)
{
    localPlayer->seek(position);
}

double playAudioVideoCtrl::localPosition()
{
    return localPlayer->getCurrentTime();
}

void playAudioVideoCtrl::setVolume(int percent)
{
    m_volume = qBound(0, percent, 100);
    localPlayer->setVolume(m_volume);
    classPlayer->setVolume(m_volume);
    talkPlayer->setVolume(m_volume);
}

int playAudioVideoCtrl::playState() const
{
    return playBtn::instance()->state();
}

bool playAudioVideoCtrl::isIdle() const
{
    return !localPlayer->isRunning() && !classPlayer->isRunning() && !talkPlayer->isRunning()
           && (!m_recorder || m_recorder->isIdle()) && (!m_talk || m_talk->isIdle());
}
