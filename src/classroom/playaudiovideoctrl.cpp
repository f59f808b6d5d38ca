#include "classroom/playaudiovideoctrl.h"

#include "base/logging.h"
#include "base/streamaddress.h"
#include "record/audioctrl.h"
#include "record/getaudiothread.h"
#include "record/getaudiothreaddia.h"
#include "record/getvideothread.h"
#include "record/recordctrl.h"
#include "record/savevideothread.h"
#include "record/sendaudiothread.h"
#include "ui/playbtn.h"
#include "video/audio_play.h"
#include "video/video_play.h"
#include "video/videoplayer_thread.h"

#include <QMetaObject>
#include <QTimer>

namespace {
QString failureText(recordCtrl::Failure failure)
{
    switch (failure) {
    case recordCtrl::Output:
        return QStringLiteral("直播服务器无法连接");
    case recordCtrl::VideoDevice:
        return QStringLiteral("无法打开屏幕采集");
    case recordCtrl::VideoCapture:
        return QStringLiteral("屏幕采集出错");
    case recordCtrl::AudioDevice:
        return QStringLiteral("无法打开麦克风");
    case recordCtrl::NameTooLong:
        return QStringLiteral("课堂地址无效");
    case recordCtrl::ScreenShare:
        return QStringLiteral("屏幕共享未获允许");
    default:
        return QString();
    }
}

QString dialogueFailureText(AudioCtrl::Failure failure)
{
    // The causes the publisher shares.
    if (failure == AudioCtrl::AudioDevice)
        return failureText(recordCtrl::AudioDevice);
    if (failure == AudioCtrl::NameTooLong)
        return failureText(recordCtrl::NameTooLong);
    return QStringLiteral("无法重新开始");
}
} // namespace

playAudioVideoCtrl::playAudioVideoCtrl()
    : QObject(nullptr),
      localPlayer(new VideoPlayer_Thread),
      classPlayer(new VideoPlayer_Thread),
      videoOnlyPlayer(new VideoPlayer),
      talkPlayer(new AudioPlayer),
      m_republish(new QTimer(this)),
      m_replay(new QTimer(this))
{
    // Whatever a course record names, these open class streams only.
    classPlayer->setClassStreamOnly(true);
    talkPlayer->setClassStreamOnly(true);
    videoOnlyPlayer->classStreamOnly = true;
    m_republish->setSingleShot(true);
    m_republish->setInterval(kRepublishMs);
    connect(m_republish, &QTimer::timeout, this, &playAudioVideoCtrl::republish);
    m_replay->setSingleShot(true);
    m_replay->setInterval(kRepublishMs);
    connect(m_replay, &QTimer::timeout, this, &playAudioVideoCtrl::replay);
    // Queued: the players tell from their readers, and a run counts as
    // ended once these run.
    connect(classPlayer, &PlayerThread::sig_inputFlowing, this, &playAudioVideoCtrl::classInput, Qt::QueuedConnection);
    connect(classPlayer, &QThread::finished, this, &playAudioVideoCtrl::classPlayerEnded, Qt::QueuedConnection);
    connect(
        talkPlayer, &PlayerThread::sig_inputFlowing, this,
        [this](bool flowing) {
            if (!m_hearing || m_studentVoice == flowing)
                return;
            m_studentVoice = flowing;
            emit sig_studentVoice(flowing);
        },
        Qt::QueuedConnection);
    connect(talkPlayer, &QThread::finished, this, &playAudioVideoCtrl::talkPlayerEnded, Qt::QueuedConnection);
    // Pictures leave the players' video threads directly and cross to the
    // GUI thread through takeFrame.
    connect(
        classPlayer, &VideoPlayer_Thread::sig_GetOneFrame, this, [this](const QImage &image) { takeFrame(image); },
        Qt::DirectConnection);
    connect(
        localPlayer, &VideoPlayer_Thread::sig_GetOneFrame, this, [this](const QImage &image) { takeFrame(image); },
        Qt::DirectConnection);
    connect(
        videoOnlyPlayer, &VideoPlayer::sig_GetOneFrame, this, [this](const QImage &image) { takeFrame(image); },
        Qt::DirectConnection);
    connect(localPlayer, &VideoPlayer_Thread::sig_TotalTimeChanged, this, &playAudioVideoCtrl::sig_localDuration);
    watch(localPlayer);
    watch(classPlayer);
    watch(talkPlayer);
}

void playAudioVideoCtrl::watch(QThread *thread)
{
    // Queued: the thread counts as ended once the slot runs.
    connect(
        thread, &QThread::finished, this,
        [this]() {
            if (isIdle())
                emit idle();
        },
        Qt::QueuedConnection);
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
    if (!m_recorder) {
        m_recorder = recordCtrl::instance();
        // A server that cannot be reached is ours to deal with (republish).
        m_recorder->setOutputFailuresReported(false);
        m_recorder->setClassStreamOnly(true);
        connect(m_recorder, &recordCtrl::s_failed, this, [this]() {
            m_publisherUp = false;
            // A refused screen share is the teacher's answer: not asked again.
            if (m_recorder->lastFailure() == recordCtrl::ScreenShare) {
                if (m_publishing)
                    setLiveState(Failed, failureText(recordCtrl::ScreenShare));
                m_publishing = false;
                return;
            }
            if (m_publishing)
                setLiveState(Reconnecting, failureText(m_recorder->lastFailure()));
            publisherFailed();
        });
        connect(m_recorder, &recordCtrl::s_startFinished, this, &playAudioVideoCtrl::publisherStarted);
        // A start that failed or was stopped while opening ends no thread.
        connect(m_recorder, &recordCtrl::s_idle, this, [this]() {
            if (isIdle())
                emit idle();
        });
        // The teacher's preview comes from the capture that publishes.
        connect(
            m_recorder, &recordCtrl::sig_preview, this, [this](const QImage &image) { takeFrame(image); },
            Qt::DirectConnection);
        for (QThread *thread : m_recorder->threads())
            watch(thread);
    }
    return m_recorder;
}

AudioCtrl *playAudioVideoCtrl::talk()
{
    if (!m_talk) {
        m_talk = AudioCtrl::instance();
        m_talk->setOutputFailuresReported(false);
        m_talk->setClassStreamOnly(true);
        connect(m_talk, &AudioCtrl::s_failed, this, &playAudioVideoCtrl::publisherFailed);
        connect(m_talk, &AudioCtrl::s_startFinished, this, &playAudioVideoCtrl::dialogueStarted);
        for (QThread *thread : m_talk->threads())
            watch(thread);
    }
    return m_talk;
}

void playAudioVideoCtrl::publisherFailed()
{
    if ((m_publishing || m_dialogue) && !m_republish->isActive())
        m_republish->start();
}

void playAudioVideoCtrl::startPublisher()
{
    if (!recorder()->isIdle()) {
        // The failed run is still closing its output, or a start is opening.
        m_republish->start();
        return;
    }
    recorder()->setUrl(course.rtmp);
    recorder()->setCaptureArea(m_captureArea);
    m_publisherStarting = true;
    recorder()->startWhenIdle(0);
}

void playAudioVideoCtrl::publisherStarted(bool running)
{
    if (!m_publisherStarting)
        return;
    m_publisherStarting = false;
    m_publisherUp = running;
    if (!m_publishing) {
        // The class ended while the devices were opening.
        if (running)
            recorder()->stop();
        m_publisherUp = false;
        return;
    }
    if (running) {
        if (m_publishingPaused)
            recorder()->pause();
        if (!m_onAir.isValid())
            m_onAir.start();
        setLiveState(Live);
        return;
    }
    // Devices that do not open have been reported; a server may come back.
    const recordCtrl::Failure failure = recorder()->lastFailure();
    if (failure == recordCtrl::Output || failure == recordCtrl::StillStopping || failure == recordCtrl::NoFailure) {
        if (failure == recordCtrl::Output)
            setLiveState(m_onAir.isValid() ? Reconnecting : Connecting, failureText(failure));
        m_republish->start();
    } else {
        m_publishing = false;
        setLiveState(Failed, failureText(failure));
    }
}

void playAudioVideoCtrl::startDialogue()
{
    if (!talk()->isIdle()) {
        m_republish->start();
        return;
    }
    const std::string address = course.rtmp.toStdString();
    talk()->setAddress(address.c_str());
    m_dialogueStarting = true;
    talk()->startInBackground();
}

void playAudioVideoCtrl::dialogueStarted(bool running)
{
    if (!m_dialogueStarting)
        return;
    m_dialogueStarting = false;
    if (running) {
        if (!m_dialogue)
            talk()->stop(); // ended while the microphone was opening
        return;
    }
    // A start that failed or was stopped while opening ends no thread.
    if (isIdle())
        emit idle();
    if (!m_dialogue)
        return;
    const AudioCtrl::Failure failure = talk()->lastFailure();
    if (failure == AudioCtrl::Output || failure == AudioCtrl::StillStopping || failure == AudioCtrl::NoFailure) {
        m_republish->start();
    } else {
        // Given up: the user is told, and the dialogue button follows.
        m_dialogue = false;
        emit sig_dialogueEnded(dialogueFailureText(failure));
    }
}

void playAudioVideoCtrl::setLiveState(LiveState state, const QString &reason)
{
    if (state == m_liveState && reason == m_liveReason)
        return;
    m_liveState = state;
    m_liveReason = reason;
    emit sig_liveState(state);
}

qint64 playAudioVideoCtrl::onAirMs() const
{
    return m_onAir.isValid() ? m_onAir.elapsed() : 0;
}

void playAudioVideoCtrl::setPreviewSize(const QSize &size)
{
    m_previewSize = size;
    if (m_publishing)
        previewTo(size);
}

void playAudioVideoCtrl::setDisplaySize(const QSize &size)
{
    localPlayer->setDisplaySize(size);
    classPlayer->setDisplaySize(size);
    videoOnlyPlayer->setDisplaySize(size);
    setPreviewSize(size);
}

void playAudioVideoCtrl::previewTo(const QSize &size)
{
    recorder()->setPreview(size.width(), size.height(), kPreviewIntervalMs);
}

void playAudioVideoCtrl::classInput(bool flowing)
{
    if (!m_classPlaying)
        return;
    if (flowing)
        setLiveState(Live);
    else
        setLiveState(Reconnecting, QStringLiteral("连接中断"));
}

void playAudioVideoCtrl::classPlayerEnded()
{
    // A run that ended by itself: the stream was not there, or was refused.
    if (!m_classPlaying || classPlayer->isRunning())
        return;
    setLiveState(m_liveState == Waiting ? Waiting : Reconnecting, QStringLiteral("连接中断"));
    m_replay->start();
}

void playAudioVideoCtrl::talkPlayerEnded()
{
    if (!m_hearing || talkPlayer->isRunning())
        return;
    if (m_studentVoice) {
        m_studentVoice = false;
        emit sig_studentVoice(false);
    }
    m_replay->start();
}

void playAudioVideoCtrl::replay()
{
    // stop() first: a run that ended by itself still counts as playing.
    if (m_classPlaying && !classPlayer->isRunning()) {
        classPlayer->stop(false);
        classPlayer->startPlay(course.rtmplat);
        if (m_classPaused)
            classPlayer->pause();
    }
    if (m_hearing && !talkPlayer->isRunning()) {
        talkPlayer->stop(false);
        talkPlayer->startPlay(course.rtmplat);
    }
}

void playAudioVideoCtrl::republish()
{
    if (m_publishing && !m_publisherUp)
        startPublisher();
    if (m_dialogue && !talk()->isRunning())
        startDialogue();
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

bool playAudioVideoCtrl::acceptAddress(const QString &address, const char *field)
{
    QString why;
    if (tavi::isClassStreamAddress(address, &why))
        return true;
    TAVI_LOG_WARN("class " << tavi::logExcerpt(course.id, 40) << ": " << field << " address refused, " << why);
    emit sig_addressRefused();
    return false;
}

bool playAudioVideoCtrl::classStart()
{
    if (course.listType == 1) {
        // Every address the class needs is checked before anything starts.
        if (!acceptAddress(course.rtmp, "rtmp") || (isOneToOne(course) && !acceptAddress(course.rtmplat, "rtmplat")))
            return false;
        m_onAir.invalidate();
        setLiveState(Connecting);
        if (isOneToOne(course)) {
            m_hearing = true;
            talkPlayer->startPlay(course.rtmplat);
        }
        m_publishing = true;
        m_publishingPaused = false;
        previewTo(m_previewSize);
        startPublisher();
    } else if (course.listType == 2) {
        if (!acceptAddress(course.rtmplat, "rtmplat"))
            return false;
        m_classPlaying = true;
        m_classPaused = false;
        setLiveState(Waiting);
        classPlayer->startPlay(course.rtmplat);
    }
    return true;
}

void playAudioVideoCtrl::classPause()
{
    if (course.listType == 1) {
        if (isOneToOne(course))
            talkPlayer->pause();
        m_publishingPaused = true;
        recorder()->pause();
    } else if (course.listType == 2) {
        m_classPaused = true;
        classPlayer->pause();
    }
}

void playAudioVideoCtrl::classResume()
{
    if (course.listType == 1) {
        if (isOneToOne(course))
            talkPlayer->play();
        m_publishingPaused = false;
        recorder()->resume();
    } else if (course.listType == 2) {
        m_classPaused = false;
        classPlayer->play();
    }
}

void playAudioVideoCtrl::classStop()
{
    m_classPlaying = false;
    m_hearing = false;
    m_replay->stop();
    if (m_studentVoice) {
        m_studentVoice = false;
        emit sig_studentVoice(false);
    }
    setLiveState(Off);
    m_onAir.invalidate();
    if (course.listType == 1) {
        if (isOneToOne(course))
            talkPlayer->stop(true);
        m_publishing = false;
        m_publisherUp = false;
        previewTo(QSize());
        recorder()->stop();
    } else if (course.listType == 2) {
        classPlayer->stop(true);
        if (isOneToOne(course)) {
            m_dialogue = false;
            talk()->stop();
        }
    }
    if (!m_publishing && !m_dialogue)
        m_republish->stop();
}

bool playAudioVideoCtrl::dialogueStart()
{
    if (course.listType != 2 || !isOneToOne(course))
        return false;
    if (!acceptAddress(course.rtmp, "rtmp"))
        return false;
    m_dialogue = true;
    startDialogue();
    return true;
}

void playAudioVideoCtrl::dialogueStop()
{
    m_dialogue = false;
    talk()->stop();
    if (!m_publishing)
        m_republish->stop();
}

int playAudioVideoCtrl::dialogueState()
{
    return m_dialogue || talk()->isRunning() ? AudioCtrl::Running : AudioCtrl::Idle;
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
    return !localPlayer->isRunning() && !classPlayer->isRunning() && !talkPlayer->isRunning() &&
        (!m_recorder || m_recorder->isIdle()) && (!m_talk || m_talk->isIdle());
}
