#pragma once

#include "course/courseinfo.h"

#include <QElapsedTimer>
#include <QImage>
#include <QWidget>

#include <functional>

class CameraControl;
class IconBtn;
class MonitorQuestion;
class Label;
class QLabel;
class LevelMeter;
class MessageBox;
class QPropertyAnimation;
class QShortcut;
class QTimer;
class RadioSlider;
class ReBtn;
class VideoSlider;
class playAudioVideoCtrl;
class playBtn;
class recordWindow;

// The classroom screen: the picture of what plays (a class or a local file)
// with a control bar along its bottom edge, and two arrows that fold the side
// panels away. Playing itself is the play control's work.
class Screen : public QWidget
{
    Q_OBJECT
public:
    explicit Screen(QWidget *parent = nullptr);

    void showBackground(QString path);
    // After every sign-in: nothing played yet.
    void resetPlayMode();

    enum class PlayMode {
        None,
        File,
        Class
    };
    PlayMode playMode() const { return m_playMode; }
    CourseInfo currentCourse() const { return course; }
    const QImage &shownImage() const { return image; }
    // A class or file waits for the players of the last one to end.
    bool isStarting() const { return m_pending.mode != PlayMode::None; }

    playAudioVideoCtrl *playControl() const { return playCtrl; }
    recordWindow *recorderWindow() const { return recordWin; }
    playBtn *playButton() const { return m_playButton; }
    VideoSlider *progress() const { return progressSlider; }
    RadioSlider *volume() const { return volumeSlider; }
    Label *endButton() const { return endLabel; }
    Label *recordButton() const { return recordLabel; }
    Label *dialogueButton() const { return dialogueLabel; }
    // The class's state along the top: what the student waits for, or the
    // teacher's time on air, students and the student's voice.
    QWidget *liveBar() const { return m_liveBar; }
    QString liveText() const;
    QString studentsText() const;
    QString voiceText() const;
    // The mark of a class on its low rendition (empty when it is not), and why.
    QString lowRenditionText() const;
    QString lowRenditionWhy() const;
    Label *fullScreenButton() const { return m_fullScreenLabel; }
    CameraControl *camera() const { return m_camera; }
    // The picture alone fills the screen the window is on.
    bool isFullScreenView() const { return m_fullScreen; }
    ReBtn *courseArrow() const { return courseToggle; }
    ReBtn *studentArrow() const { return studentToggle; }

    // Runs then at once, or, while a teacher's class is on, once the teacher
    // has said "确定" to ending it ("取消" runs nothing). A newer ask
    // replaces one not answered yet.
    void askToEnd(std::function<void()> then);
    MessageBox *endQuestion() const { return m_endQuestion; }

    // The process-wide screen-recorder window, created on first use.
    static recordWindow *processRecordWindow();

    // How long a start waits at most for the last players to end; after
    // that the engines' own guards decide.
    static constexpr int kMaxStartWaitMs = 15000;
    // In full screen the control bar hides after this long without a move.
    static constexpr int kBarHideMs = 3000;

signals:
    void isCourseDisplay();
    void isStudentDisplay();
    void s_chatOut();
    // A class was entered (after the screen has started it): the chat joins.
    void s_classEntered(CourseInfo course);

public slots:
    void doOneImage(QImage image);
    void local_play(QString filename);
    void slot_recordBtnClick();
    void slot_ctrlBtnClick();
    void slot_ctrlAudioClick();
    void slot_playBtnClick();
    void slot_timerFreash();
    void slot_setRange(qint64 uSec);
    void slot_setVideoSeek(int value);
    void slot_doClass(CourseInfo couseinf);
    void reFreashBtnAudio();
    void loginOut();
    void stopScreen();
    void slot_sliderMoved(int value);
    // The chat's participant count (the teacher among them).
    void setParticipants(int count);
    // Double-click on the picture, F11 or the bar's button; Esc also leaves.
    void toggleFullScreen();
    void enterFullScreen();
    void leaveFullScreen();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    // The teacher drags the camera's inset to another corner.
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private slots:
    void startWhenIdle();
    void showLiveState();
    void showLowRendition(bool low);
    void hideBarWhenStill();
    // The microphone's and the student's voice's levels, muting, and a
    // microphone that stays silent.
    void showLevels();

private:
    void placeLowMark();
    // The teacher's uplink left pictures out in the last seconds.
    bool uplinkBehind();
    void makeControlBar();
    void makeLiveBar();
    void showMuted();
    void connectParts();
    // Full screen: the bar slides in (and the pointer shows) on a move.
    void revealBar();
    void slideBar(bool in);
    struct Pending
    {
        PlayMode mode = PlayMode::None;
        CourseInfo course;
        QString file;
    };

    Label *textButton(const QString &text);
    // Every end stops here: whatever plays or waits to play stops, full
    // screen ends and the background shows.
    void stopPlaying();
    void startPending();
    void enterClass(const CourseInfo &course);
    void playFile(const QString &file);
    void endByButton();

    QWidget *controlBar;
    ReBtn *courseToggle;
    ReBtn *studentToggle;
    QImage image;
    // image is a picture of what plays, not the background.
    bool m_showingPicture = false;
    playBtn *m_playButton;
    IconBtn *radioIcon;
    RadioSlider *volumeSlider;
    VideoSlider *progressSlider;
    Label *endLabel;
    Label *recordLabel;
    Label *dialogueLabel;
    Label *m_fullScreenLabel;
    CameraControl *m_camera;
    // Where the picture was drawn last, in widget coordinates.
    QRectF m_pictureRect;
    bool m_draggingCamera = false;
    recordWindow *recordWin;
    playAudioVideoCtrl *playCtrl;
    QTimer *refreshTimer;
    CourseInfo course;
    PlayMode m_playMode = PlayMode::None;

    QWidget *m_liveBar;
    Label *m_liveLabel;
    Label *m_studentsLabel;
    Label *m_voiceLabel;
    LevelMeter *m_micMeter;
    LevelMeter *m_voiceMeter;
    // Over the picture's top right while a student's class plays its low rendition.
    QLabel *m_lowMark;
    // The teacher's pictures left out for a slow uplink: the count last seen,
    // and when it last grew.
    long long m_leftOut = 0;
    qint64 m_leftOutAt = 0;
    QTimer *m_levelClock;
    // The silent microphone was told, and not heard since.
    bool m_silenceTold = false;
    QTimer *m_onAirClock;
    int m_participants = 0;

    bool m_fullScreen = false;
    QTimer *m_barTimer;
    QPropertyAnimation *m_barSlide;
    QShortcut *m_escape;

    // The local file shown last: the play button starts it again once it
    // has played to its end.
    QString m_file;
    MessageBox *m_endQuestion;
    std::function<void()> m_afterEnd;

    Pending m_pending;
    QTimer *m_idleTimer;
    MonitorQuestion *m_monitorQuestion;
    QElapsedTimer m_waiting;
};
