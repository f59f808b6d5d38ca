#pragma once

#include "base/playerstate.h"
#include "course/courseinfo.h"

#include <QImage>
#include <QMutex>
#include <QObject>
#include <QRect>
#include <QSize>

#include <memory>

class AudioCtrl;
class CaptureCtrl;
class EchoCanceller;
class PlayerThread;
class AudioPlayer;
class QThread;
class RenditionSwitch;
class StudentSession;
class TeacherSession;
class VideoPlayer;
class VideoPlayer_Thread;
class recordCtrl;

// The one object through which the classroom starts, pauses, resumes and
// stops media. A class on a teacher's list publishes the desktop and
// microphone (and, one-to-one, plays the student's voice); a class on a
// student's list plays the class stream (and, one-to-one, may publish the
// student's voice). Local files play on a player of their own. Every picture
// of the players comes out of sig_GetOneFrame on the GUI thread.
//
// A class's publishing (the teacher's desktop, the student's voice) outlives
// a server that goes away: while the class or the dialogue is on, it starts
// again every kRepublishMs until the server takes it. So do the class's
// players (the student's class stream, the teacher's hearing of the
// student): one whose stream is not there yet, or went away, tries again
// until it plays. A teacher's class and a student's class are each a
// session of their own; liveState() tells where the class stands.
//
// The play state (what the play button shows) is this object's: what plays
// sets it, and sig_playState tells it.
class playAudioVideoCtrl : public QObject
{
    Q_OBJECT
public:
    playAudioVideoCtrl();
    ~playAudioVideoCtrl() override;

    // The process-wide object, created on first use.
    static playAudioVideoCtrl *instance();
    static constexpr int kRepublishMs = 2000;
    // A student's dialogue ends once the class's stream has been gone this long.
    static constexpr int kClassGoneMs = 10000;
    // The teacher's preview of what is published: pictures a second.
    static constexpr int kPreviewIntervalMs = 250;

    // Where a class's stream stands: for a student what plays, for a
    // teacher what is published.
    enum LiveState {
        Off, // no class
        Waiting, // student: the class's stream is not there yet
        Connecting, // teacher: the server has not taken the stream yet
        Live,
        Reconnecting, // the stream went away; trying again (liveReason says why)
        Failed // teacher: publishing gave up (liveReason says why)
    };
    LiveState liveState() const;
    QString liveReason() const;
    // Milliseconds the teacher's class has been on air since it first went
    // live; 0 before.
    qint64 onAirMs() const;
    // Teacher's one-to-one class: the student's voice plays.
    bool studentVoice() const;
    // The size the teacher's preview is scaled to (the screen's, in device
    // pixels); an empty size turns it off.
    void setPreviewSize(const QSize &size);
    // The area the screen shows pictures in, in device pixels: every
    // player's pictures, and the teacher's preview, come fitted to it.
    void setDisplaySize(const QSize &size);

    // The part of the X screen the teacher's class shows from its next
    // publish on (a monitor); empty for the whole screen.
    void setCaptureArea(const QRect &area) { m_captureArea = area; }
    QRect captureArea() const { return m_captureArea; }
    void setCourse(CourseInfo info) { course = info; }
    CourseInfo courseInfo() const { return course; }

    // False when the course's stream address is refused (see
    // sig_addressRefused); nothing is then opened.
    bool classStart();
    void classPause();
    void classResume();
    void classStop();
    bool dialogueStart();
    void dialogueStop();
    // The dialogue is switched on (also while it waits for its server to
    // come back, and while its last run still ends).
    bool isDialogueOn() const;
    // A teacher's class is on (connecting, live or reconnecting): ending it
    // is asked first.
    bool isTeaching() const;

    // The microphone that is heard: the teacher's while the class is on, the
    // student's during the dialogue; null otherwise.
    CaptureCtrl *microphone() const;
    // Its level, 0 to 1, and how long it has been silent (0 while muted).
    float microphoneLevel() const;
    long long microphoneSilentMs() const;
    // The source it reads, by the name that opens it.
    QString microphoneName() const;
    // Muted, the microphone is heard as silence; a class's end unmutes.
    void setMuted(bool muted);
    bool isMuted() const { return m_muted; }
    // The student's voice in a teacher's one-to-one class, 0 to 1.
    float studentVoiceLevel() const;

    void localStart(QString path);
    void localPause();
    void localResume();
    void localStop();
    // Microseconds from the start of the local file.
    void localSeek(qint64 position);
    // Seconds of the local file heard now.
    double localPosition();
    // The class and the local file: what every end (the end button,
    // sign-out, another class or file) stops.
    void stop();

    // 0 (silent) to 100, for everything that plays.
    void setVolume(int percent);
    int volume() const { return m_volume; }

    // What the play button shows: a student's class plays once its
    // pictures come, and shows stopped while it waits for them.
    PlayerState playState() const { return m_playState; }
    // Every player and publisher of earlier classes and files has ended, so
    // a start now shares nothing with them.
    bool isIdle() const;

    VideoPlayer_Thread *localPlayback() const { return localPlayer; }
    // The class's player of the rendition that plays now.
    VideoPlayer_Thread *classPlayback() const { return classPlayer; }
    // A student's class plays the school's low-rate rendition: the link did
    // not carry the full one (lowRenditionReason says how it showed).
    bool onLowRendition() const;
    QString lowRenditionReason() const;
    // The teacher's pictures left out so far because the uplink was behind
    // (the sound goes on); 0 when nothing publishes.
    long long picturesLeftOut() const;
    AudioPlayer *talkPlayback() const { return talkPlayer; }
    recordCtrl *recorder();
    AudioCtrl *talk();

signals:
    void sig_GetOneFrame(QImage image);
    // Length of the local file in microseconds (not positive when unknown).
    void sig_localDuration(qint64 uSec);
    // A class or dialogue did not start: the course's address for it is no
    // class stream (rtmp:// or rtmps:// with a host). The log says why.
    void sig_addressRefused();
    // The last thread of the players and publishers has ended: isIdle()
    // holds.
    void idle();
    void sig_liveState(int state);
    void sig_studentVoice(bool on);
    // The dialogue ended without the user: its restarts gave up.
    void sig_dialogueEnded(QString reason);
    void sig_playState(PlayerState state);
    // The student's class went to the low rendition (true) or back.
    void sig_lowRendition(bool low);

private:
    Q_INVOKABLE void deliverFrame();
    // Whether the course's address under field is a class stream; refused
    // ones are logged and signalled.
    bool acceptAddress(const QString &address, const char *field);
    void connectSessions();
    void openPublisher();
    void publisherStarted(bool running);
    void openDialogue();
    void dialogueStarted(bool running);
    void replayClass();
    void replayVoice();
    // The local file's run ended by itself: it played to its end.
    void localEnded();
    // Tells the live state and the student's voice where they changed.
    void sessionChanged();
    void setPlayState(PlayerState state);
    void previewTo(const QSize &size);
    void takeFrame(const QImage &image);
    // A one-to-one class's microphone has farEnd's sound taken out (null:
    // no canceller).
    void listenForEcho(PlayerThread *farEnd);
    // The course's low rendition, when it is a class stream; else empty.
    QString lowRendition() const;
    // The class's two players: either may be the one that plays.
    void connectClassPlayer(VideoPlayer_Thread *player);
    void renditionSwitched();
    // Emits idle() when the thread's end leaves nothing running.
    void watch(QThread *thread);

    VideoPlayer_Thread *localPlayer;
    VideoPlayer_Thread *classPlayer;
    // The class's other rendition, while it opens or is probed.
    VideoPlayer_Thread *classSpare;
    RenditionSwitch *m_renditions;
    VideoPlayer *videoOnlyPlayer;
    AudioPlayer *talkPlayer;
    AudioCtrl *m_talk = nullptr;
    recordCtrl *m_recorder = nullptr;
    CourseInfo course;
    QRect m_captureArea;
    int m_volume = 100;
    TeacherSession *m_teacher;
    StudentSession *m_student;
    PlayerState m_playState = Stop;
    // What was last told, so that only changes are.
    LiveState m_toldState = Off;
    QString m_toldReason;
    bool m_toldVoice = false;
    QSize m_previewSize;
    std::shared_ptr<EchoCanceller> m_canceller;
    bool m_muted = false;

    // Only the newest picture waits for the GUI thread: a busy GUI skips
    // pictures instead of queueing them without bound.
    QMutex m_frameMutex;
    QImage m_frame;
    bool m_deliveryPending = false;
};
