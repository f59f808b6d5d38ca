#include "classroom/screen.h"

#include "base/picturefit.h"
#include "classroom/cameracontrol.h"
#include "classroom/monitorchooser.h"
#include "classroom/playaudiovideoctrl.h"
#include "net/flash.h"
#include "recorder/recordwindow.h"
#include "ui/builtinpicture.h"
#include "ui/iconbtn.h"
#include "ui/label.h"
#include "ui/levelmeter.h"
#include "ui/messagebox.h"
#include "ui/playbtn.h"
#include "ui/radioslider.h"
#include "ui/rebtn.h"
#include "ui/videoslider.h"

#include <QDateTime>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPropertyAnimation>
#include <QResizeEvent>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <cmath>

namespace {
const char *const kBackground = ":/images/sys/bg";
const char *const kClassEnded = ":/images/sys/ended";
const char *const kClassLeft = ":/images/sys/leftclass";
const char *const kDialogueOn = QT_TRANSLATE_NOOP("Screen", "[关闭对话]");
const char *const kDialogueOff = QT_TRANSLATE_NOOP("Screen", "[开启对话]");
const char *const kAddressRefused = QT_TRANSLATE_NOOP("Screen", "课堂地址无效");
const char *const kWaitingForTeacher = QT_TRANSLATE_NOOP("Screen", "等待老师开始上课…");
const char *const kReconnecting = QT_TRANSLATE_NOOP("Screen", "连接中断，正在重连…");
const char *const kSilentMicrophone = QT_TRANSLATE_NOOP("Screen", "麦克风没有声音，请检查麦克风");
constexpr long long kSilentNoticeMs = 10000;
// The live bar's colours by state: on air, waiting, in trouble.
const QColor kLiveColour(170, 20, 50);
const QColor kWaitColour(52, 73, 110);
const QColor kTroubleColour(150, 80, 0);
// Around a picture of other proportions: the background picture's own.
const QColor kScreenColour(0x1f, 0x26, 0x38);
const char *const kFullScreen = QT_TRANSLATE_NOOP("Screen", "[全屏]");
const char *const kLeaveFullScreen = QT_TRANSLATE_NOOP("Screen", "[退出全屏]");

// The size a picture was made from ("source" in its text, as the players
// set it); its own size when not given.
QSize sourceSize(const QImage &picture)
{
    const QStringList parts = picture.text(QStringLiteral("source")).split(QLatin1Char('x'));
    if (parts.size() == 2) {
        const QSize size(parts[0].toInt(), parts[1].toInt());
        if (size.width() > 0 && size.height() > 0)
            return size;
    }
    return picture.size();
}

QString clockText(qint64 ms)
{
    const qint64 s = ms / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600, 2, 10, QLatin1Char('0'))
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}
} // namespace

recordWindow *Screen::processRecordWindow()
{
    static QPointer<recordWindow> window;
    if (!window)
        window = new recordWindow(nullptr);
    return window;
}

Label *Screen::textButton(const QString &text)
{
    auto *label = new Label(text, QColor(QStringLiteral("#bfc3c9")), true, controlBar);
    label->setHoverColor(QColor(QStringLiteral("#bd9ca3")));
    return label;
}

Screen::Screen(QWidget *parent) : QWidget(parent)
{
    // The picture and its bars cover the whole widget.
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Moves bring the bar back in full screen.
    setMouseTracking(true);
    image = builtinPicture(QString::fromLatin1(kBackground), 1).toImage();

    courseToggle = new ReBtn(QStringLiteral(":/images/sys/right"), QStringLiteral(":/images/sys/left"), true, this);
    studentToggle = new ReBtn(QStringLiteral(":/images/sys/left"), QStringLiteral(":/images/sys/right"), true, this);
    courseToggle->setAccessibleName(tr("课程列表"));
    studentToggle->setAccessibleName(tr("讨论和学员"));

    playCtrl = playAudioVideoCtrl::instance();
    makeControlBar();
    makeLiveBar();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_liveBar);
    layout->addStretch(1);
    auto *arrows = new QHBoxLayout;
    arrows->addWidget(courseToggle, 0, Qt::AlignLeft);
    arrows->addWidget(studentToggle, 0, Qt::AlignRight);
    layout->addLayout(arrows);
    layout->addStretch(1);
    auto *barRow = new QHBoxLayout;
    barRow->addWidget(controlBar);
    layout->addLayout(barRow);

    recordWin = processRecordWindow();
    refreshTimer = new QTimer(this);
    refreshTimer->setInterval(100);
    // The upper bound on waiting for the last players to end.
    m_idleTimer = new QTimer(this);
    m_idleTimer->setSingleShot(true);
    m_barTimer = new QTimer(this);
    m_barTimer->setSingleShot(true);
    m_barTimer->setInterval(kBarHideMs);
    m_barSlide = new QPropertyAnimation(controlBar, "pos", this);
    m_barSlide->setDuration(150);
    // The window's shortcuts: in the main window, and in the screen's own
    // window while it fills the screen.
    auto *f11 = new QShortcut(QKeySequence(Qt::Key_F11), this);
    connect(f11, &QShortcut::activated, this, &Screen::toggleFullScreen);
    m_escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    m_escape->setEnabled(false);
    connect(m_escape, &QShortcut::activated, this, &Screen::leaveFullScreen);
    // A teacher's class starts again once its monitor is chosen.
    m_monitorQuestion = new MonitorQuestion(playCtrl, this);
    connect(m_monitorQuestion, &MonitorQuestion::chosen, this, &Screen::enterClass);
    // Not choosing leaves the class as [结束] does.
    connect(m_monitorQuestion, &MonitorQuestion::declined, this, &Screen::s_chatOut);
    // A window of its own over the main window.
    m_endQuestion = new MessageBox(this);
    m_endQuestion->setText(tr("正在上课，确定要结束本节课吗？"));
    connect(m_endQuestion, &MessageBox::doAccept, this, [this]() {
        std::function<void()> then;
        then.swap(m_afterEnd);
        if (then)
            then();
    });
    connectParts();
}

void Screen::askToEnd(std::function<void()> then)
{
    if (!playCtrl->isTeaching()) {
        m_endQuestion->close();
        then();
        return;
    }
    m_afterEnd = std::move(then);
    m_endQuestion->show();
    m_endQuestion->raise();
    m_endQuestion->activateWindow();
}

// Play, volume, progress and the class buttons along the bottom.
void Screen::makeControlBar()
{
    controlBar = new QWidget(this);
    controlBar->setFixedHeight(60);
    controlBar->setAutoFillBackground(true);
    QPalette pal = controlBar->palette();
    pal.setColor(QPalette::All, QPalette::Window, QColor(0, 0, 0, 108));
    controlBar->setPalette(pal);

    m_playButton = playBtn::instance();
    m_playButton->setAccessibleName(tr("播放/暂停"));
    radioIcon = new IconBtn(QStringLiteral(":/images/sys/radio"), false, controlBar);
    radioIcon->setAccessibleName(tr("麦克风"));
    m_micMeter = new LevelMeter(controlBar);
    m_micMeter->setAccessibleName(tr("麦克风音量"));
    m_micMeter->hide();
    volumeSlider = new RadioSlider(controlBar);
    volumeSlider->setAccessibleName(tr("音量"));
    volumeSlider->setFixedWidth(90);
    volumeSlider->setValue(100);
    progressSlider = VideoSlider::instance();
    progressSlider->setAccessibleName(tr("播放进度"));
    endLabel = textButton(tr("[结束]"));
    recordLabel = textButton(tr("[录制]"));
    dialogueLabel = textButton(tr("[启动对话]"));
    m_fullScreenLabel = textButton(tr(kFullScreen));
    Label *cameraLabel = textButton(QString());
    Label *cameraModeLabel = textButton(QString());
    m_camera = new CameraControl(cameraLabel, cameraModeLabel, playCtrl->recorder(), this);

    auto *barLayout = new QVBoxLayout(controlBar);
    barLayout->setContentsMargins(0, 0, 0, 0);
    barLayout->setSpacing(0);
    auto *progressRow = new QHBoxLayout;
    progressRow->setContentsMargins(0, 0, 0, 0);
    progressRow->addWidget(progressSlider);
    progressSlider->setFixedHeight(6);
    progressSlider->hide();
    barLayout->addLayout(progressRow);
    barLayout->addItem(new QSpacerItem(10, 10, QSizePolicy::Minimum, QSizePolicy::Expanding));
    auto *buttonRow = new QHBoxLayout;
    buttonRow->setContentsMargins(0, 0, 0, 0);
    buttonRow->addSpacing(30);
    buttonRow->addWidget(m_playButton, 0, Qt::AlignLeft);
    buttonRow->addSpacing(60);
    buttonRow->addWidget(radioIcon);
    buttonRow->addSpacing(4);
    buttonRow->addWidget(m_micMeter);
    buttonRow->addSpacing(10);
    buttonRow->addWidget(volumeSlider);
    // With the player's controls; the class's commands stay at the right.
    buttonRow->addSpacing(20);
    buttonRow->addWidget(m_fullScreenLabel);
    buttonRow->addStretch();
    buttonRow->addWidget(cameraLabel);
    buttonRow->addWidget(cameraModeLabel);
    buttonRow->addWidget(endLabel);
    buttonRow->addWidget(recordLabel);
    buttonRow->addWidget(dialogueLabel);
    buttonRow->addSpacing(20);
    barLayout->addLayout(buttonRow);
    // The recorder window can be opened from the classroom.
    recordLabel->show();
    dialogueLabel->hide();
}

// What the class is doing, over the picture's top.
void Screen::makeLiveBar()
{
    m_liveBar = new QWidget(this);
    m_liveBar->setAutoFillBackground(true);
    m_liveBar->setFixedHeight(30);
    m_liveLabel = new Label(QString(), Qt::white, false, m_liveBar);
    m_studentsLabel = new Label(QString(), Qt::white, false, m_liveBar);
    m_voiceLabel = new Label(QString(), Qt::white, false, m_liveBar);
    auto *liveRow = new QHBoxLayout(m_liveBar);
    liveRow->setContentsMargins(12, 0, 12, 0);
    liveRow->setSpacing(24);
    liveRow->addWidget(m_liveLabel);
    liveRow->addWidget(m_studentsLabel);
    liveRow->addWidget(m_voiceLabel);
    m_voiceMeter = new LevelMeter(m_liveBar);
    m_voiceMeter->setAccessibleName(tr("学生语音音量"));
    m_voiceMeter->hide();
    liveRow->addWidget(m_voiceMeter);
    liveRow->addStretch(1);
    m_liveBar->hide();
    m_lowMark = new QLabel(tr("流畅"), this);
    m_lowMark->setStyleSheet(QStringLiteral("QLabel { color: white; background: rgba(0, 0, 0, 150); "
                                            "border-radius: 4px; padding: 2px 8px; }"));
    m_lowMark->setAccessibleName(tr("流畅画质"));
    m_lowMark->adjustSize();
    m_lowMark->hide();
    m_levelClock = new QTimer(this);
    m_levelClock->setInterval(50);
    m_onAirClock = new QTimer(this);
    m_onAirClock->setInterval(1000);
}

void Screen::connectParts()
{
    connect(refreshTimer, SIGNAL(timeout()), this, SLOT(slot_timerFreash()));
    connect(m_idleTimer, SIGNAL(timeout()), this, SLOT(startWhenIdle()));
    connect(playCtrl, SIGNAL(idle()), this, SLOT(startWhenIdle()));
    connect(courseToggle, SIGNAL(clicked()), this, SIGNAL(isCourseDisplay()));
    connect(studentToggle, SIGNAL(clicked()), this, SIGNAL(isStudentDisplay()));
    connect(playCtrl, SIGNAL(sig_GetOneFrame(QImage)), this, SLOT(doOneImage(QImage)));
    connect(playCtrl, SIGNAL(sig_localDuration(qint64)), this, SLOT(slot_setRange(qint64)));
    connect(playCtrl, &playAudioVideoCtrl::sig_liveState, this, &Screen::showLiveState);
    connect(playCtrl, &playAudioVideoCtrl::sig_studentVoice, this, &Screen::showLiveState);
    connect(playCtrl, &playAudioVideoCtrl::sig_lowRendition, this, &Screen::showLowRendition);
    connect(m_onAirClock, &QTimer::timeout, this, &Screen::showLiveState);
    connect(m_levelClock, &QTimer::timeout, this, &Screen::showLevels);
    connect(radioIcon, &QToolButton::clicked, this, [this]() {
        playCtrl->setMuted(!playCtrl->isMuted());
        showMuted();
    });
    connect(playCtrl, &playAudioVideoCtrl::sig_dialogueEnded, this, [this](const QString &reason) {
        reFreashBtnAudio();
        Flash::notice(tr("语音对话已停止：") + reason);
    });
    connect(playCtrl, &playAudioVideoCtrl::sig_addressRefused, this, []() { Flash::notice(tr(kAddressRefused)); });
    // The button shows the play control's state.
    m_playButton->setState(playCtrl->playState());
    connect(playCtrl, &playAudioVideoCtrl::sig_playState, m_playButton, &playBtn::setState);
    connect(m_playButton, SIGNAL(clicked()), this, SLOT(slot_playBtnClick()));
    connect(endLabel, SIGNAL(s_clicked()), this, SLOT(slot_ctrlBtnClick()));
    connect(recordLabel, SIGNAL(s_clicked()), this, SLOT(slot_recordBtnClick()));
    connect(dialogueLabel, SIGNAL(s_clicked()), this, SLOT(slot_ctrlAudioClick()));
    connect(m_fullScreenLabel, SIGNAL(s_clicked()), this, SLOT(toggleFullScreen()));
    connect(m_barTimer, &QTimer::timeout, this, &Screen::hideBarWhenStill);
    connect(m_barSlide, &QPropertyAnimation::finished, this, [this]() {
        if (m_barSlide->endValue().toPoint().y() >= height())
            controlBar->hide();
    });
    connect(progressSlider, SIGNAL(sig_valueChanged(int)), this, SLOT(slot_setVideoSeek(int)));
    connect(volumeSlider, SIGNAL(valueChanged(int)), this, SLOT(slot_sliderMoved(int)));
}

void Screen::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    // In its own proportions, centred, on bars of the background's colour.
    // A picture made for this size is drawn pixel for pixel; another one
    // (made before a resize, or the background) is scaled smoothly.
    const qreal dpr = devicePixelRatioF();
    const QSize area(qRound(width() * dpr), qRound(height() * dpr));
    const QSize source = m_showingPicture ? sourceSize(image) : image.size();
    const QSize shown = m_showingPicture ? fittedPictureSize(source, area) : source.scaled(area, Qt::KeepAspectRatio);
    if (shown.isEmpty()) {
        painter.fillRect(rect(), kScreenColour);
        return;
    }
    // Whole device pixels, so that a 1:1 picture stays 1:1.
    const QRectF target(QPointF(std::floor((area.width() - shown.width()) / 2.0) / dpr,
                                std::floor((area.height() - shown.height()) / 2.0) / dpr),
                        QSizeF(shown) / dpr);
    const QRect inner = target.toAlignedRect();
    m_pictureRect = m_showingPicture ? target : QRectF();
    painter.fillRect(QRect(0, 0, width(), inner.top()), kScreenColour);
    painter.fillRect(QRect(0, inner.bottom() + 1, width(), height() - inner.bottom() - 1), kScreenColour);
    painter.fillRect(QRect(0, inner.top(), inner.left(), inner.height()), kScreenColour);
    painter.fillRect(QRect(inner.right() + 1, inner.top(), width() - inner.right() - 1, inner.height()), kScreenColour);
    if (image.size() != shown)
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, image, QRectF(image.rect()));
}

void Screen::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeLowMark();
    // Pictures come converted to what the screen shows, in device pixels.
    playCtrl->setDisplaySize(event->size() * devicePixelRatioF());
}

void Screen::toggleFullScreen()
{
    if (m_fullScreen)
        leaveFullScreen();
    else
        enterFullScreen();
}

void Screen::enterFullScreen()
{
    if (m_fullScreen || !isVisible())
        return;
    // The screen the main window is on, by its middle.
    QScreen *where = QGuiApplication::screenAt(window()->frameGeometry().center());
    if (!where && window()->windowHandle())
        where = window()->windowHandle()->screen();
    if (!where)
        where = QGuiApplication::primaryScreen();
    if (!where)
        return;
    m_fullScreen = true;
    // The screen leaves its place in the content area for a window of its
    // own; the layout keeps its place for the way back.
    setWindowFlags(windowFlags() | Qt::Window | Qt::FramelessWindowHint);
    winId();
    if (windowHandle())
        windowHandle()->setScreen(where);
    setGeometry(where->geometry());
    showFullScreen();
    raise();
    activateWindow();
    courseToggle->hide();
    studentToggle->hide();
    m_fullScreenLabel->setText(tr(kLeaveFullScreen));
    m_escape->setEnabled(true);
    revealBar();
}

void Screen::leaveFullScreen()
{
    if (!m_fullScreen)
        return;
    m_fullScreen = false;
    m_escape->setEnabled(false);
    m_barTimer->stop();
    m_barSlide->stop();
    unsetCursor();
    setWindowState(windowState() & ~Qt::WindowFullScreen);
    setWindowFlags(windowFlags() & ~(Qt::Window | Qt::FramelessWindowHint));
    courseToggle->show();
    studentToggle->show();
    controlBar->show();
    m_fullScreenLabel->setText(tr(kFullScreen));
    show();
    if (parentWidget() && parentWidget()->layout())
        parentWidget()->layout()->activate();
    if (layout())
        layout()->activate();
    window()->activateWindow();
}

void Screen::mouseDoubleClickEvent(QMouseEvent *event)
{
    // On the picture, not on the bar.
    if (event->button() != Qt::LeftButton ||
        (controlBar->isVisible() && controlBar->geometry().contains(event->pos()))) {
        QWidget::mouseDoubleClickEvent(event);
        return;
    }
    toggleFullScreen();
}

void Screen::mousePressEvent(QMouseEvent *event)
{
    const QRect inset = m_camera->insetRect();
    const QSize source = sourceSize(image);
    if (event->button() == Qt::LeftButton && !inset.isEmpty() && !m_pictureRect.isEmpty() && !source.isEmpty()) {
        const double sx = m_pictureRect.width() / source.width(), sy = m_pictureRect.height() / source.height();
        const QRectF shown(m_pictureRect.x() + inset.x() * sx, m_pictureRect.y() + inset.y() * sy, inset.width() * sx,
                           inset.height() * sy);
        if (shown.contains(event->pos())) {
            m_draggingCamera = true;
            setCursor(Qt::ClosedHandCursor);
            return;
        }
    }
    QWidget::mousePressEvent(event);
}

void Screen::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_draggingCamera || event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    m_draggingCamera = false;
    unsetCursor();
    if (m_pictureRect.isEmpty())
        return;
    m_camera->dropAt((event->pos().x() - m_pictureRect.x()) / m_pictureRect.width(),
                     (event->pos().y() - m_pictureRect.y()) / m_pictureRect.height());
}

void Screen::mouseMoveEvent(QMouseEvent *event)
{
    if (m_fullScreen)
        revealBar();
    QWidget::mouseMoveEvent(event);
}

void Screen::revealBar()
{
    unsetCursor();
    m_barTimer->start();
    if (controlBar->isVisible() && m_barSlide->state() != QAbstractAnimation::Running)
        return;
    slideBar(true);
}

void Screen::slideBar(bool in)
{
    m_barSlide->stop();
    const int shownY = height() - controlBar->height();
    const QPoint from = controlBar->isVisible() ? controlBar->pos() : QPoint(0, height());
    if (in && !controlBar->isVisible()) {
        controlBar->show();
        if (layout())
            layout()->activate();
    }
    m_barSlide->setStartValue(from);
    m_barSlide->setEndValue(QPoint(controlBar->x(), in ? shownY : height()));
    m_barSlide->start();
}

void Screen::hideBarWhenStill()
{
    if (!m_fullScreen)
        return;
    // Not while the pointer rests on the bar's buttons.
    if (controlBar->underMouse()) {
        m_barTimer->start();
        return;
    }
    slideBar(false);
    setCursor(Qt::BlankCursor);
}

void Screen::showLowRendition(bool low)
{
    const QString why = playCtrl->lowRenditionReason();
    const QString tip = tr("流畅画质（640x360）：%1。网络好转后自动恢复清晰画质。").arg(why);
    m_lowMark->setToolTip(tip);
    m_lowMark->setAccessibleDescription(tip);
    m_lowMark->setVisible(low);
    placeLowMark();
}

void Screen::placeLowMark()
{
    m_lowMark->adjustSize();
    const int top = m_liveBar->isVisible() ? m_liveBar->height() : 0;
    m_lowMark->move(width() - m_lowMark->width() - 12, top + 10);
    m_lowMark->raise();
}

QString Screen::lowRenditionText() const
{
    return m_lowMark->isVisible() ? m_lowMark->text() : QString();
}

QString Screen::lowRenditionWhy() const
{
    return m_lowMark->isVisible() ? m_lowMark->toolTip() : QString();
}

QString Screen::liveText() const
{
    return m_liveBar->isVisible() ? m_liveLabel->text() : QString();
}

QString Screen::studentsText() const
{
    return m_liveBar->isVisible() && m_studentsLabel->isVisible() ? m_studentsLabel->text() : QString();
}

QString Screen::voiceText() const
{
    return m_liveBar->isVisible() && m_voiceLabel->isVisible() ? m_voiceLabel->text() : QString();
}

void Screen::setParticipants(int count)
{
    m_participants = count;
    showLiveState();
}

void Screen::showMuted()
{
    const bool muted = playCtrl->isMuted();
    radioIcon->setPicture(muted ? QStringLiteral(":/images/sys/radio_muted") : QStringLiteral(":/images/sys/radio"));
    radioIcon->setToolTip(muted ? tr("取消静音") : tr("静音"));
}

void Screen::showLevels()
{
    showMuted();
    const bool heard = playCtrl->microphone() != nullptr;
    m_micMeter->setVisible(heard);
    m_micMeter->setLevel(playCtrl->microphoneLevel());
    m_voiceMeter->setVisible(m_liveBar->isVisible() && m_voiceLabel->isVisible());
    m_voiceMeter->setLevel(playCtrl->studentVoiceLevel());
    const long long silentMs = playCtrl->microphoneSilentMs();
    if (silentMs < kSilentNoticeMs) {
        m_silenceTold = false;
        return;
    }
    if (m_silenceTold)
        return;
    m_silenceTold = true;
    QString source = playCtrl->microphoneName();
    if (source.size() > 48)
        source = source.left(47) + tr("…");
    Flash::notice(tr(kSilentMicrophone) + (source.isEmpty() ? QString() : tr("（%1）").arg(source)));
}

void Screen::showLiveState()
{
    const playAudioVideoCtrl::LiveState state = playCtrl->liveState();
    const bool teacher = course.role == Role::Teacher;
    const bool inClass = m_playMode == PlayMode::Class && state != playAudioVideoCtrl::Off;
    if (!teacher && inClass)
        reFreashBtnAudio();
    // Also while the class is paused: the camera stays as the teacher left it.
    m_camera->setAvailable(m_playMode == PlayMode::Class && playCtrl->isTeaching());
    const bool shown = inClass && (teacher || state != playAudioVideoCtrl::Live);
    if (!(teacher && inClass))
        m_onAirClock->stop();
    else if (!m_onAirClock->isActive())
        m_onAirClock->start();
    if (!inClass) {
        m_levelClock->stop();
        showLevels();
    } else if (!m_levelClock->isActive()) {
        m_levelClock->start();
    }
    if (!shown) {
        m_liveBar->hide();
        return;
    }
    QString text;
    QColor colour = kTroubleColour;
    const QString reason = playCtrl->liveReason();
    switch (state) {
    case playAudioVideoCtrl::Waiting:
        text = tr(kWaitingForTeacher);
        colour = kWaitColour;
        break;
    case playAudioVideoCtrl::Connecting:
        text = tr("正在连接直播服务器…");
        colour = kWaitColour;
        break;
    case playAudioVideoCtrl::Live:
        text = tr("● 直播中 ") + clockText(playCtrl->onAirMs());
        colour = kLiveColour;
        if (uplinkBehind())
            text += tr("  网络较慢，部分画面未发出，声音照常");
        break;
    case playAudioVideoCtrl::Reconnecting:
        text = tr(kReconnecting);
        if (teacher && !reason.isEmpty())
            text += tr("（%1）").arg(reason);
        break;
    default:
        text = tr("直播已停止：") + reason;
        break;
    }
    m_liveLabel->setText(text);
    // The teacher is one of the participants.
    m_studentsLabel->setText(tr("学员 %1").arg(qMax(0, m_participants - 1)));
    m_studentsLabel->setVisible(teacher);
    m_voiceLabel->setText(playCtrl->studentVoice() ? tr("学生语音：开") : tr("学生语音：关"));
    m_voiceLabel->setVisible(teacher && course.isOneToOne());
    QPalette pal = m_liveBar->palette();
    pal.setColor(QPalette::All, QPalette::Window, colour);
    m_liveBar->setPalette(pal);
    m_liveBar->show();
    placeLowMark();
}

bool Screen::uplinkBehind()
{
    // Said for a few seconds after the last picture that was left out.
    const long long leftOut = playCtrl->picturesLeftOut();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (leftOut > m_leftOut)
        m_leftOutAt = now;
    m_leftOut = leftOut;
    return m_leftOutAt != 0 && now - m_leftOutAt < 3000;
}

void Screen::showBackground(QString path)
{
    // Drawn from its source: its words in the interface's language.
    image = builtinPicture(path, 1).toImage();
    m_showingPicture = false;
    update();
}

void Screen::resetPlayMode()
{
    m_playMode = PlayMode::None;
    reFreashBtnAudio();
}

void Screen::doOneImage(QImage picture)
{
    if (playCtrl->playState() != Playing)
        return;
    image = picture;
    m_showingPicture = true;
    update();
}

void Screen::stopPlaying()
{
    m_pending = Pending();
    m_idleTimer->stop();
    m_monitorQuestion->cancel();
    playCtrl->stop();
    leaveFullScreen();
    refreshTimer->stop();
    progressSlider->hide();
    reFreashBtnAudio();
    showLiveState();
    showBackground(QString::fromLatin1(kBackground));
}

void Screen::slot_doClass(CourseInfo couseinf)
{
    askToEnd([this, couseinf]() {
        enterClass(couseinf);
        emit s_classEntered(couseinf);
    });
}

void Screen::enterClass(const CourseInfo &course)
{
    stopPlaying();
    m_pending.mode = PlayMode::Class;
    m_pending.course = course;
    m_waiting.start();
    startWhenIdle();
}

void Screen::local_play(QString filename)
{
    if (filename.isEmpty())
        return;
    askToEnd([this, filename]() { playFile(filename); });
}

void Screen::playFile(const QString &file)
{
    stopPlaying();
    m_pending.mode = PlayMode::File;
    m_pending.file = file;
    m_waiting.start();
    startWhenIdle();
}

void Screen::startWhenIdle()
{
    if (m_pending.mode == PlayMode::None) {
        m_idleTimer->stop();
        return;
    }
    // The players of the last class or file must have ended before the
    // next start: the play control says when. The event loop keeps running
    // meanwhile.
    const qint64 left = kMaxStartWaitMs - m_waiting.elapsed();
    if (!playCtrl->isIdle() && left > 0) {
        if (!m_idleTimer->isActive())
            m_idleTimer->start(int(left));
        return;
    }
    m_idleTimer->stop();
    startPending();
}

void Screen::startPending()
{
    // Asked which monitor it shows, a teacher's class starts from the answer.
    if (m_pending.mode == PlayMode::Class && m_monitorQuestion->ask(m_pending.course)) {
        m_pending = Pending();
        m_playMode = PlayMode::None;
        reFreashBtnAudio();
        showLiveState();
        return;
    }
    const Pending pending = m_pending;
    m_pending = Pending();
    if (pending.mode == PlayMode::Class) {
        course = pending.course;
        playCtrl->setCourse(pending.course);
        // A class whose address is refused does not start (the play
        // control has said so); the screen stays as after [结束].
        m_playMode = playCtrl->classStart() ? PlayMode::Class : PlayMode::None;
    } else if (pending.mode == PlayMode::File) {
        m_playMode = PlayMode::File;
        m_file = pending.file;
        playCtrl->localStart(pending.file);
        refreshTimer->start();
    }
    reFreashBtnAudio();
    showLiveState();
}

void Screen::slot_playBtnClick()
{
    const PlayerState state = playCtrl->playState();
    if (state == Playing) {
        if (m_playMode == PlayMode::File)
            playCtrl->localPause();
        else if (m_playMode == PlayMode::Class)
            playCtrl->classPause();
    } else if (state == Pause) {
        if (m_playMode == PlayMode::File)
            playCtrl->localResume();
        else if (m_playMode == PlayMode::Class)
            playCtrl->classResume();
    } else if (m_playMode == PlayMode::File && !m_file.isEmpty()) {
        // Played to its end: from the beginning again.
        playCtrl->localStart(m_file);
        refreshTimer->start();
    }
    reFreashBtnAudio();
}

void Screen::slot_ctrlBtnClick()
{
    askToEnd([this]() {
        endByButton();
        emit s_chatOut();
    });
}

void Screen::endByButton()
{
    const bool inClass = m_playMode == PlayMode::Class;
    stopPlaying();
    m_playMode = PlayMode::None;
    showLiveState();
    // What became of the class: the teacher ended it, the student left it.
    if (inClass && course.role == Role::Teacher)
        showBackground(QString::fromLatin1(kClassEnded));
    else if (inClass && course.role == Role::Student)
        showBackground(QString::fromLatin1(kClassLeft));
    repaint();
}

void Screen::reFreashBtnAudio()
{
    // Only a student's one-to-one class has a dialogue to switch, while it
    // plays or waits for its stream (the button then shows stopped), not
    // while paused.
    const PlayerState state = playCtrl->playState();
    const bool inClass = state == Playing || (state == Stop && playCtrl->liveState() != playAudioVideoCtrl::Off);
    const bool shown = inClass && m_playMode == PlayMode::Class && course.role == Role::Student && course.isOneToOne();
    dialogueLabel->setVisible(shown);
    if (!shown)
        return;
    dialogueLabel->setText(tr(playCtrl->isDialogueOn() ? kDialogueOn : kDialogueOff));
    dialogueLabel->update();
}

void Screen::slot_ctrlAudioClick()
{
    if (playCtrl->isDialogueOn())
        playCtrl->dialogueStop();
    else
        playCtrl->dialogueStart();
    // The text follows what the dialogue controller did, also when a start
    // failed.
    dialogueLabel->setText(tr(playCtrl->isDialogueOn() ? kDialogueOn : kDialogueOff));
    dialogueLabel->update();
}

void Screen::slot_recordBtnClick()
{
    // A window never shown takes its final size from its layout only when
    // shown; place it by that size.
    recordWin->ensurePolished();
    if (recordWin->layout())
        recordWin->layout()->activate();
    const QPoint corner = recordLabel->mapToGlobal(QPoint(0, 0));
    recordWin->move(corner.x() - recordWin->width(), corner.y() - recordWin->height() / 2);
    recordWin->show();
    recordWin->raise();
}

void Screen::slot_timerFreash()
{
    if (m_playMode != PlayMode::File || playCtrl->playState() == Stop)
        return;
    progressSlider->setProgress(int(playCtrl->localPosition()));
}

void Screen::slot_setRange(qint64 uSec)
{
    progressSlider->setMaximum(int(qBound<qint64>(0, uSec / 1000000, INT_MAX)));
    // Only a local file of known length can be sought.
    progressSlider->setVisible(m_playMode == PlayMode::File && playCtrl->playState() != Stop && uSec > 0);
}

void Screen::slot_setVideoSeek(int value)
{
    if (m_playMode != PlayMode::File)
        return;
    if (playCtrl->playState() == Stop) {
        // Played to its end: the file opens again where the slider says.
        if (m_file.isEmpty())
            return;
        playCtrl->localStart(m_file);
        refreshTimer->start();
    }
    playCtrl->localSeek(qint64(value) * 1000000);
}

void Screen::loginOut()
{
    // The mode stays until the next sign-in.
    stopPlaying();
    repaint();
}

void Screen::stopScreen()
{
    // The class goes on behind the tray.
    leaveFullScreen();
    showBackground(QString::fromLatin1(kBackground));
    repaint();
}

void Screen::slot_sliderMoved(int value)
{
    playCtrl->setVolume(value);
}
