#include "classroom/playaudiovideoctrl.h"

#include "base/echocanceller.h"
#include "base/logging.h"
#include "base/streamaddress.h"
#include "classroom/publication.h"
#include "classroom/studentsession.h"
#include "classroom/teachersession.h"
#include "record/audioctrl.h"
#include "record/flvoutput.h"
#include "record/recordctrl.h"
#include "record/savevideothread.h"
#include "video/audio_play.h"
#include "video/inputreconnector.h"
#include "video/renditionswitch.h"
#include "video/video_play.h"
#include "video/videoplayer_thread.h"

#include <QMetaObject>
#include <QTimer>

namespace {
QString failureText(recordCtrl::Failure failure)
{
    switch (failure) {
    case recordCtrl::Output:
        return playAudioVideoCtrl::tr("直播服务器无法连接");
    case recordCtrl::VideoDevice:
        return playAudioVideoCtrl::tr("无法打开屏幕采集");
    case recordCtrl::VideoCapture:
        return playAudioVideoCtrl::tr("屏幕采集出错");
    case recordCtrl::AudioDevice:
        return playAudioVideoCtrl::tr("无法打开麦克风");
    case recordCtrl::NameTooLong:
        return playAudioVideoCtrl::tr("课堂地址无效");
    case recordCtrl::ScreenShare:
        return playAudioVideoCtrl::tr("屏幕共享未获允许");
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
    return playAudioVideoCtrl::tr("无法重新开始");
}

// Whether a start that did not run may run on a later try: a server may
// come back, devices that did not open have been reported.
bool worthRetrying(int failure)
{
    return failure == recordCtrl::Output || failure == recordCtrl::StillStopping || failure == recordCtrl::NoFailure;
}
} // namespace

playAudioVideoCtrl::playAudioVideoCtrl()
    : QObject(nullptr),
      localPlayer(new VideoPlayer_Thread),
      classPlayer(new VideoPlayer_Thread),
      classSpare(new VideoPlayer_Thread),
      m_renditions(new RenditionSwitch(classPlayer, classSpare, this)),
      videoOnlyPlayer(new VideoPlayer),
      talkPlayer(new AudioPlayer),
      m_teacher(new TeacherSession(kRepublishMs, this)),
      // The player tells a stream gone once it has been silent a while.
      m_student(new StudentSession(kRepublishMs, kClassGoneMs - InputReconnector::kSilentReadMs, this))
{
    // Whatever a course record names, these open class streams only.
    talkPlayer->setClassStreamOnly(true);
    videoOnlyPlayer->classStreamOnly = true;
    // Queued: the players tell from their readers, and a run counts as
    // ended once these run.
    connectClassPlayer(classPlayer);
    connectClassPlayer(classSpare);
    connect(m_renditions, &RenditionSwitch::switched, this, &playAudioVideoCtrl::renditionSwitched);
    connect(talkPlayer, &PlayerThread::sig_inputFlowing, m_teacher, &TeacherSession::voiceFlowing,
            Qt::QueuedConnection);
    connect(
        talkPlayer, &QThread::finished, this,
        [this]() {
            if (!talkPlayer->isRunning())
                m_teacher->voicePlayerEnded();
        },
        Qt::QueuedConnection);
    // Pictures leave the players' video threads directly and cross to the
    // GUI thread through takeFrame.
    connect(
        localPlayer, &VideoPlayer_Thread::sig_GetOneFrame, this, [this](const QImage &image) { takeFrame(image); },
        Qt::DirectConnection);
    connect(
        videoOnlyPlayer, &VideoPlayer::sig_GetOneFrame, this, [this](const QImage &image) { takeFrame(image); },
        Qt::DirectConnection);
    connect(localPlayer, &VideoPlayer_Thread::sig_TotalTimeChanged, this, &playAudioVideoCtrl::sig_localDuration);
    connect(localPlayer, &QThread::finished, this, &playAudioVideoCtrl::localEnded, Qt::QueuedConnection);
    watch(localPlayer);
    watch(talkPlayer);
    connectSessions();
}

void playAudioVideoCtrl::connectSessions()
{
    Publication *publication = m_teacher->publication();
    connect(publication, &Publication::open, this, &playAudioVideoCtrl::openPublisher);
    connect(publication, &Publication::close, this, [this]() { recorder()->stop(); });
    connect(m_teacher, &TeacherSession::stateChanged, this, &playAudioVideoCtrl::sessionChanged);
    connect(m_teacher, &TeacherSession::replayVoice, this, &playAudioVideoCtrl::replayVoice);
    Publication *dialogue = m_student->dialogue();
    connect(dialogue, &Publication::open, this, &playAudioVideoCtrl::openDialogue);
    connect(dialogue, &Publication::close, this, [this]() { talk()->stop(); });
    // Given up: the user is told, and the dialogue button follows.
    connect(dialogue, &Publication::gaveUp, this, &playAudioVideoCtrl::sig_dialogueEnded);
    connect(m_student, &StudentSession::stateChanged, this, [this]() {
        // The button says playing only while pictures come.
        const bool playing = m_student->state() == StudentSession::Playing;
        if (m_student->isOn() && playing && m_playState == Stop)
            setPlayState(Playing);
        else if (m_student->isOn() && !playing && m_playState == Playing)
            setPlayState(Stop);
        sessionChanged();
    });
    connect(m_student, &StudentSession::replay, this, &playAudioVideoCtrl::replayClass);
    // The teacher has ended the class: the student's voice is not published
    // into a class that is over.
    connect(m_student, &StudentSession::classGone, this, [this]() {
        if (!isDialogueOn())
            return;
        dialogueStop();
        emit sig_dialogueEnded(tr("课堂已结束"));
    });
}

void playAudioVideoCtrl::connectClassPlayer(VideoPlayer_Thread *player)
{
    player->setClassStreamOnly(true);
    // Queued, and only from the rendition that plays: a probe's news and
    // the end of a rendition that was left are the switch's.
    connect(
        player, &PlayerThread::sig_inputFlowing, this,
        [this, player](bool flowing) {
            if (player == classPlayer)
                m_student->inputFlowing(flowing);
        },
        Qt::QueuedConnection);
    connect(
        player, &QThread::finished, this,
        [this, player]() {
            if (player == classPlayer && !player->isRunning())
                m_student->playerEnded();
        },
        Qt::QueuedConnection);
    connect(
        player, &VideoPlayer_Thread::sig_GetOneFrame, this,
        [this, player](const QImage &image) {
            if (m_renditions->shows(player))
                takeFrame(image);
        },
        Qt::DirectConnection);
    watch(player);
}

void playAudioVideoCtrl::renditionSwitched()
{
    classPlayer = m_renditions->current();
    classSpare = m_renditions->spare();
    // The rendition that took over gave pictures already.
    m_student->inputFlowing(true);
    // The microphone's canceller, while a dialogue has one, hears whichever
    // rendition plays; the microphone keeps it.
    if (m_canceller && course.role == Role::Student) {
        classSpare->setEchoCanceller(nullptr);
        classPlayer->setEchoCanceller(m_canceller);
    }
    emit sig_lowRendition(m_renditions->onLow());
}

bool playAudioVideoCtrl::onLowRendition() const
{
    return m_renditions->onLow();
}

QString playAudioVideoCtrl::lowRenditionReason() const
{
    switch (m_renditions->reason()) {
    case RenditionSwitch::FellBehind:
        return tr("网络跟不上课堂直播，画面两次落后");
    case RenditionSwitch::SlowLink:
        return tr("网络收到的数据少于课堂直播所需");
    default:
        return QString();
    }
}

long long playAudioVideoCtrl::picturesLeftOut() const
{
    return m_recorder && m_recorder->encoder() ? m_recorder->encoder()->stats().linkSkipped : 0;
}

QString playAudioVideoCtrl::lowRendition() const
{
    if (course.rtmplat_low.isEmpty())
        return QString();
    QString why;
    if (tavi::isClassStreamAddress(course.rtmplat_low, &why))
        return course.rtmplat_low;
    TAVI_LOG_WARN("class " << tavi::logExcerpt(course.id, 40) << ": rtmplat_low address ignored, " << why);
    return QString();
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
    delete classSpare;
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
            // A refused screen share is the teacher's answer: not asked again.
            const recordCtrl::Failure failure = m_recorder->lastFailure();
            m_teacher->publication()->dropped(
                failure == recordCtrl::ScreenShare ? Publication::GiveUp : Publication::Retry, failureText(failure));
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
        connect(m_talk, &AudioCtrl::s_failed, this,
                [this]() { m_student->dialogue()->dropped(Publication::Retry, QString()); });
        connect(m_talk, &AudioCtrl::s_startFinished, this, &playAudioVideoCtrl::dialogueStarted);
        for (QThread *thread : m_talk->threads())
            watch(thread);
    }
    return m_talk;
}

void playAudioVideoCtrl::openPublisher()
{
    if (!recorder()->isIdle()) {
        // The failed run is still closing its output, or a start is opening.
        m_teacher->publication()->retryLater();
        return;
    }
    recorder()->setUrl(course.rtmp);
    recorder()->setCaptureArea(m_captureArea);
    recorder()->setEchoCanceller(m_canceller);
    recorder()->setMuted(m_muted);
    recorder()->startWhenIdle(0);
}

void playAudioVideoCtrl::publisherStarted(bool running)
{
    Publication *publication = m_teacher->publication();
    // Answers to the recorder window's starts are not ours.
    if (!publication->isOpening())
        return;
    const recordCtrl::Failure failure = recorder()->lastFailure();
    if (running) {
        if (m_teacher->isOn() && m_teacher->isPaused())
            recorder()->pause();
        publication->opened(true);
    } else if (failure == recordCtrl::Output) {
        publication->opened(false, Publication::Retry, failureText(failure));
    } else if (worthRetrying(failure)) {
        publication->retryLater();
    } else {
        publication->opened(false, Publication::GiveUp, failureText(failure));
    }
}

void playAudioVideoCtrl::openDialogue()
{
    if (!talk()->isIdle()) {
        m_student->dialogue()->retryLater();
        return;
    }
    const std::string address = course.rtmp.toStdString();
    talk()->setAddress(address.c_str());
    talk()->setEchoCanceller(m_canceller);
    talk()->setMuted(m_muted);
    talk()->startInBackground();
}

void playAudioVideoCtrl::dialogueStarted(bool running)
{
    Publication *dialogue = m_student->dialogue();
    if (!dialogue->isOpening())
        return;
    if (!running && isIdle()) {
        // A start that failed or was stopped while opening ends no thread.
        emit idle();
    }
    const AudioCtrl::Failure failure = talk()->lastFailure();
    if (running)
        dialogue->opened(true);
    else if (worthRetrying(failure))
        dialogue->retryLater();
    else
        dialogue->opened(false, Publication::GiveUp, dialogueFailureText(failure));
}

playAudioVideoCtrl::LiveState playAudioVideoCtrl::liveState() const
{
    switch (m_teacher->publication()->state()) {
    case Publication::Connecting:
        return Connecting;
    case Publication::Live:
        return Live;
    case Publication::Reconnecting:
        return Reconnecting;
    case Publication::GivenUp:
        return Failed;
    case Publication::Off:
        break;
    }
    switch (m_student->state()) {
    case StudentSession::Waiting:
        return Waiting;
    case StudentSession::Playing:
        return Live;
    case StudentSession::Reconnecting:
        return Reconnecting;
    case StudentSession::Off:
        break;
    }
    return Off;
}

QString playAudioVideoCtrl::liveReason() const
{
    if (m_teacher->publication()->state() != Publication::Off)
        return m_teacher->publication()->reason();
    return m_student->state() == StudentSession::Reconnecting ? tr("连接中断") : QString();
}

void playAudioVideoCtrl::sessionChanged()
{
    const LiveState state = liveState();
    const QString reason = liveReason();
    if (state != m_toldState || reason != m_toldReason) {
        m_toldState = state;
        m_toldReason = reason;
        emit sig_liveState(state);
    }
    if (m_teacher->studentVoice() != m_toldVoice) {
        m_toldVoice = m_teacher->studentVoice();
        emit sig_studentVoice(m_toldVoice);
    }
}

qint64 playAudioVideoCtrl::onAirMs() const
{
    return m_teacher->onAirMs();
}

bool playAudioVideoCtrl::studentVoice() const
{
    return m_teacher->studentVoice();
}

void playAudioVideoCtrl::setPlayState(PlayerState state)
{
    if (state == m_playState)
        return;
    m_playState = state;
    emit sig_playState(state);
}

void playAudioVideoCtrl::setPreviewSize(const QSize &size)
{
    m_previewSize = size;
    if (m_teacher->isOn())
        previewTo(size);
}

void playAudioVideoCtrl::setDisplaySize(const QSize &size)
{
    localPlayer->setDisplaySize(size);
    classPlayer->setDisplaySize(size);
    classSpare->setDisplaySize(size);
    videoOnlyPlayer->setDisplaySize(size);
    setPreviewSize(size);
}

void playAudioVideoCtrl::previewTo(const QSize &size)
{
    recorder()->setPreview(size.width(), size.height(), kPreviewIntervalMs);
}

void playAudioVideoCtrl::replayClass()
{
    // stop() first: a run that ended by itself still counts as playing.
    if (classPlayer->isRunning())
        return;
    m_renditions->start(course.rtmplat, lowRendition());
}

void playAudioVideoCtrl::replayVoice()
{
    if (talkPlayer->isRunning())
        return;
    talkPlayer->stop(false);
    talkPlayer->startPlay(course.rtmplat);
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
    const bool oneToOne = course.isOneToOne();
    if (course.role == Role::Teacher) {
        // Every address the class needs is checked before anything starts.
        if (!acceptAddress(course.rtmp, "rtmp") || (oneToOne && !acceptAddress(course.rtmplat, "rtmplat")))
            return false;
        if (oneToOne) {
            // The student's voice comes out of the speakers into the teacher's microphone.
            listenForEcho(talkPlayer);
            talkPlayer->startPlay(course.rtmplat);
        }
        previewTo(m_previewSize);
        setPlayState(Playing);
        m_teacher->start(oneToOne);
    } else if (course.role == Role::Student) {
        if (!acceptAddress(course.rtmplat, "rtmplat"))
            return false;
        // Playing once its pictures come.
        setPlayState(Stop);
        m_student->start();
        m_renditions->start(course.rtmplat, lowRendition());
    }
    return true;
}

void playAudioVideoCtrl::classPause()
{
    if (course.role == Role::Teacher) {
        if (course.isOneToOne())
            talkPlayer->pause();
        m_teacher->setPaused(true);
        recorder()->pause();
    } else if (course.role == Role::Student) {
        m_student->setPaused(true);
        m_renditions->pause();
    }
    setPlayState(Pause);
}

void playAudioVideoCtrl::classResume()
{
    if (course.role == Role::Teacher) {
        if (course.isOneToOne())
            talkPlayer->play();
        m_teacher->setPaused(false);
        recorder()->resume();
        setPlayState(Playing);
    } else if (course.role == Role::Student) {
        m_student->setPaused(false);
        m_renditions->resume();
        setPlayState(m_student->state() == StudentSession::Playing ? Playing : Stop);
    }
}

void playAudioVideoCtrl::classStop()
{
    if (course.role == Role::Teacher) {
        if (course.isOneToOne())
            talkPlayer->stop(true);
        m_teacher->stop();
        listenForEcho(nullptr);
        previewTo(QSize());
        recorder()->setCameraMode(CameraMode::Off);
        recorder()->stop();
    } else if (course.role == Role::Student) {
        const bool talking = isDialogueOn();
        const bool wasLow = m_renditions->onLow();
        m_renditions->stop(true);
        if (wasLow)
            emit sig_lowRendition(false);
        m_student->stop();
        if (course.isOneToOne())
            talk()->stop();
        listenForEcho(nullptr);
        if (talking)
            emit sig_dialogueEnded(tr("已离开课堂"));
    }
    setMuted(false);
    setPlayState(Stop);
}

bool playAudioVideoCtrl::dialogueStart()
{
    if (course.role != Role::Student || !course.isOneToOne())
        return false;
    if (!acceptAddress(course.rtmp, "rtmp"))
        return false;
    // The class's sound comes out of the speakers into the student's microphone.
    listenForEcho(classPlayer);
    m_student->dialogue()->start();
    return true;
}

void playAudioVideoCtrl::dialogueStop()
{
    m_student->dialogue()->stop();
    talk()->stop();
    listenForEcho(nullptr);
}

void playAudioVideoCtrl::listenForEcho(PlayerThread *farEnd)
{
    for (PlayerThread *player : {static_cast<PlayerThread *>(talkPlayer), static_cast<PlayerThread *>(classPlayer),
                                 static_cast<PlayerThread *>(classSpare)})
        player->setEchoCanceller(nullptr);
    // No canceller outlives its class.
    for (CaptureCtrl *capture : {static_cast<CaptureCtrl *>(m_recorder), static_cast<CaptureCtrl *>(m_talk)})
        if (capture)
            capture->setEchoCanceller(nullptr);
    m_canceller.reset();
    if (!farEnd)
        return;
    m_canceller = EchoCanceller::create(flvOutput::kSampleRate, flvOutput::kChannels);
    farEnd->setEchoCanceller(m_canceller);
}

CaptureCtrl *playAudioVideoCtrl::microphone() const
{
    if (m_teacher->isOn())
        return m_recorder;
    if (m_student->dialogue()->isOn())
        return m_talk;
    return nullptr;
}

float playAudioVideoCtrl::microphoneLevel() const
{
    const CaptureCtrl *capture = microphone();
    return capture ? capture->microphoneLevel() : 0.0f;
}

long long playAudioVideoCtrl::microphoneSilentMs() const
{
    const CaptureCtrl *capture = microphone();
    return capture && !m_muted ? capture->microphoneSilentMs() : 0;
}

QString playAudioVideoCtrl::microphoneName() const
{
    const CaptureCtrl *capture = microphone();
    return capture ? capture->microphoneName() : QString();
}

void playAudioVideoCtrl::setMuted(bool muted)
{
    m_muted = muted;
    for (CaptureCtrl *capture : {static_cast<CaptureCtrl *>(m_recorder), static_cast<CaptureCtrl *>(m_talk)})
        if (capture)
            capture->setMuted(muted);
}

float playAudioVideoCtrl::studentVoiceLevel() const
{
    return studentVoice() ? talkPlayer->soundLevel() : 0.0f;
}

bool playAudioVideoCtrl::isDialogueOn() const
{
    return m_student->dialogue()->isOn() || (m_talk && m_talk->isRunning());
}

bool playAudioVideoCtrl::isTeaching() const
{
    return m_teacher->isOn();
}

void playAudioVideoCtrl::localEnded()
{
    // Stopped or started again meanwhile: not an end of the file.
    if (localPlayer->isRunning() || localPlayer->state() == Stop)
        return;
    localPlayer->stop(false);
    setPlayState(Stop);
}

void playAudioVideoCtrl::localStart(QString path)
{
    localPlayer->startPlay(path);
    setPlayState(Playing);
}

void playAudioVideoCtrl::localPause()
{
    localPlayer->pause();
    setPlayState(Pause);
}

void playAudioVideoCtrl::localResume()
{
    localPlayer->play();
    setPlayState(Playing);
}

void playAudioVideoCtrl::localStop()
{
    localPlayer->stop(true);
    setPlayState(Stop);
}

void playAudioVideoCtrl::localSeek(qint64 position)
{
    localPlayer->seek(position);
}

double playAudioVideoCtrl::localPosition()
{
    return localPlayer->getCurrentTime();
}

void playAudioVideoCtrl::stop()
{
    classStop();
    localStop();
}

void playAudioVideoCtrl::setVolume(int percent)
{
    m_volume = qBound(0, percent, 100);
    localPlayer->setVolume(m_volume);
    m_renditions->setVolume(m_volume);
    talkPlayer->setVolume(m_volume);
}

bool playAudioVideoCtrl::isIdle() const
{
    return !localPlayer->isRunning() && !classPlayer->isRunning() && !classSpare->isRunning() &&
        !talkPlayer->isRunning() && (!m_recorder || m_recorder->isIdle()) && (!m_talk || m_talk->isIdle());
}
