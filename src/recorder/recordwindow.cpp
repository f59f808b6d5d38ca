#include "recorder/recordwindow.h"

#include "record/camerathread.h"
#include "record/devmag.h"
#include "record/microphoneprobe.h"
#include "record/monitors.h"
#include "record/recordctrl.h"
#include "record/recordnotice.h"
#include "record/screencast.h"
#include "recorder/recordmessagebox.h"
#include "recorder/recordwindowui.h"

#include "base/logging.h"
#include "base/privatefiles.h"
#include "ui/messagebox.h"
#include "ui/windowdrag.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QStandardPaths>
#include <QTextCodec>
#include <QTextStream>
#include <QTimer>
#include <QUrl>

namespace {
QTextCodec *settingsCodec()
{
    QTextCodec *codec = QTextCodec::codecForName("GBK");
    return codec ? codec : QTextCodec::codecForName("UTF-8");
}

QStringList readSettingsLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString text = settingsCodec()->toUnicode(file.readAll());
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString &line : lines)
        line.remove(QLatin1Char('\r'));
    return lines;
}

const char *const kMonitorMark = QT_TRANSLATE_NOOP("recordWindow", "[扬声器] ");
} // namespace

QString recordWindow::defaultSavePath(const QDateTime &when)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (folder.isEmpty())
        folder = QDir::homePath();
    const QString stem = folder + QStringLiteral("/tavi-") + when.toString(QStringLiteral("yyyy-MM-dd-hh-mm-ss"));
    QString path = stem + QStringLiteral(".mp4");
    for (int n = 2; QFile::exists(path); ++n)
        path = stem + QStringLiteral("-%1.mp4").arg(n);
    return path;
}

recordWindow::recordWindow(QWidget *parent)
    : QWidget(parent),
      ui(new recordWindowUI),
      control(new recordCtrl(this)),
      timer(new QTimer(this)),
      probe(new MicrophoneProbe(this)),
      levelTimer(new QTimer(this))
{
    installRecordMessageBoxes();
    ui->setupUi(this);
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setStyleSheet(QStringLiteral("background-color: rgba(255, 255, 255, 158);"));

    confPath = confDir() + QStringLiteral("/set.conf");
    // Settings are the user's alone (0700, 0600); recordings are not.
    tavi::makePrivateDir(confDir());
    area = QRect(QPoint(0, 0), QPoint(-1, -1)); // null: the whole desktop
    loadDevices();
    loadMonitors();
    loadSettings();
    if (!pathChosen) {
        savePath = defaultSavePath(QDateTime::currentDateTime());
        ui->lineEdit_filename->setText(savePath);
    }
    ui->toolButton_setting->setChecked(false);
    ui->widget_extern->setVisible(false);
    connect(ui->toolButton_setting, &QToolButton::toggled, ui->widget_extern, &QWidget::setVisible);
    connect(new WindowDrag(this), &WindowDrag::moved, this, [this](QPoint topLeft) { move(topLeft); });
    QTimer::singleShot(50, this, &recordWindow::showOut);
    timer->setInterval(1000);
    levelTimer->setInterval(50);
    connect(levelTimer, &QTimer::timeout, this, &recordWindow::showLevel);
    connect(ui->comboBox_audio, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &recordWindow::listenToMicrophone);

    // The window's own words for devices that do not open.
    control->setFailureText(recordCtrl::VideoDevice, tr("出错了,初始化视屏设备失败！123"));
    control->setFailureText(recordCtrl::AudioDevice, tr("出错了,初始化音屏设备失败！456"));

    connect(ui->startButton, SIGNAL(clicked()), this, SLOT(slotBtnClicked()));
    connect(ui->pauseButton, SIGNAL(clicked()), this, SLOT(slotBtnClicked()));
    connect(ui->stopButton, SIGNAL(clicked()), this, SLOT(slotBtnClicked()));
    connect(ui->pushButton_playBack, SIGNAL(clicked()), this, SLOT(slotBtnClicked()));
    connect(ui->toolButton_file, SIGNAL(clicked(bool)), this, SLOT(slotToolBtnToggled(bool)));
    // The user's choice is the class's too.
    connect(ui->comboBox_monitor, QOverload<int>::of(&QComboBox::activated), this,
            [this](int index) { monitors::remember(ui->comboBox_monitor->itemData(index).toString()); });
    connect(ui->closeButton, &QToolButton::clicked, this, &recordWindow::requestClose);
    connect(timer, SIGNAL(timeout()), this, SLOT(slotTimerTimeOut()));
    // The controller has stopped the recording and told why.
    connect(control, &recordCtrl::s_failed, this, &recordWindow::slotRecordingFailed);
    connect(control, &recordCtrl::s_startFinished, this, &recordWindow::slotStartFinished);
    // The file is whole: it can be played back.
    connect(control, &recordCtrl::s_idle, this, &recordWindow::updateButtons);
    connect(control, &recordCtrl::s_idle, this, &recordWindow::showSaved);
    // Also during a recording.
    connect(ui->comboBox_picture, QOverload<int>::of(&QComboBox::activated), this, [this](int index) {
        if (recordState != Stop)
            control->setCameraMode(CameraMode(index));
    });
    // The camera runs with a recording only; the desktop goes on without it.
    connect(control, &recordCtrl::s_idle, this, [this] { control->setCameraMode(CameraMode::Off); });
    connect(control, &recordCtrl::sig_cameraFailed, this,
            [](int failure) { recordNotice::report(CameraThread::failureText(failure)); });
    connect(ui->openFolderButton, &QToolButton::clicked, this,
            [this]() { QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(savePath).absolutePath())); });

    recordState = Stop;
    updateButtons();
}

recordWindow::~recordWindow()
{
    // The controller, a child, ends the recording and waits for its threads.
    delete ui;
}

void recordWindow::showOut() {}
void recordWindow::slotSelectRectBtnClick() {}
void recordWindow::slotEditRectBtnClick() {}
void recordWindow::slotHideRectBtnClick() {}
void recordWindow::slotSelectRectFinished(QRect) {}
void recordWindow::slotCheckBoxClick(bool) {}

void recordWindow::loadDevices()
{
    QString wanted;
    for (QString line : readSettingsLines(confPath)) {
        if (line.contains(QStringLiteral("video=")))
            continue; // the camera is not chosen here
        if (line.contains(QStringLiteral("audio=")))
            wanted = line.remove(QStringLiteral("audio="));
    }
    // By description; the system's default first, the speakers last. No
    // entry at all on a machine without sound sources.
    for (const DeviceEntry &source : devMag::instance()->audioSources()) {
        const QString text = source.monitor ? tr(kMonitorMark) + source.friendlyName : source.friendlyName;
        ui->comboBox_audio->addItem(text, source.displayName);
    }
    const int index = ui->comboBox_audio->findText(wanted);
    if (index >= 0)
        ui->comboBox_audio->setCurrentIndex(index);
}

void recordWindow::loadMonitors()
{
    ui->comboBox_monitor->clear();
    // On a Wayland desktop the portal asks.
    const QVector<Monitor> found = ScreenCast::waylandSession() ? QVector<Monitor>() : monitors::list();
    for (const Monitor &monitor : found)
        ui->comboBox_monitor->addItem(
            QStringLiteral("%1 (%2x%3)").arg(monitor.name).arg(monitor.rect.width()).arg(monitor.rect.height()),
            monitor.name);
    ui->comboBox_monitor->setCurrentIndex(monitors::resolve(found, monitors::remembered()));
    ui->widget_monitor->setVisible(found.size() >= 2);
}

QRect recordWindow::captureArea() const
{
    if (ScreenCast::waylandSession() || ui->comboBox_monitor->count() < 2)
        return QRect();
    // The display as it is now: a monitor gone since it was listed gives the primary.
    const QVector<Monitor> found = monitors::list();
    if (found.size() < 2)
        return QRect();
    return found[monitors::resolve(found, ui->comboBox_monitor->currentData().toString())].rect;
}

void recordWindow::loadSettings()
{
    for (QString line : readSettingsLines(confPath)) {
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        if (line.contains(QStringLiteral("framerate="))) {
            line.remove(QStringLiteral("framerate=")).toInt(); // kept for older files, unused
        } else if (line.contains(QStringLiteral("filename="))) {
            savePath = line.remove(QStringLiteral("filename="));
            pathChosen = !savePath.trimmed().isEmpty();
            ui->lineEdit_filename->setText(savePath);
            const int slash = savePath.lastIndexOf(QLatin1Char('/'));
            if (slash > 0)
                QDir().mkpath(savePath.left(slash));
        }
    }
}

void recordWindow::saveSettings()
{
    QString text;
    const QString audio = ui->comboBox_audio->currentText();
    if (!audio.isEmpty())
        text += QStringLiteral("audio=%1\n").arg(audio);
    text += QStringLiteral("area=%1,%2,%3,%4\n")
                .arg(area.left())
                .arg(area.top())
                .arg(area.right() - area.left() + 1)
                .arg(area.bottom() - area.top() + 1);
    text += QStringLiteral("mode=audio\n");
    if (pathChosen)
        text += QStringLiteral("filename=%1\n").arg(savePath);
    if (!tavi::writePrivateFile(confPath, settingsCodec()->fromUnicode(text)))
        TAVI_LOG_WARN("cannot write " << confPath);
}

void recordWindow::chooseSavePath(const QString &path)
{
    if (path.isEmpty())
        return;
    savePath = QDir::fromNativeSeparators(path);
    pathChosen = true;
    ui->lineEdit_filename->setText(savePath);
    saveSettings();
}

void recordWindow::slotToolBtnToggled(bool)
{
    if (sender() != ui->toolButton_file)
        return;
    // Shown without an event loop of its own: a recording goes on meanwhile.
    auto *dialog = new QFileDialog(this, tr("sss"), savePath, tr("视频文件 (*.mp4);;"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    connect(dialog, &QFileDialog::fileSelected, this, &recordWindow::chooseSavePath);
    dialog->open();
}

void recordWindow::slotBtnClicked()
{
    QObject *from = sender();
    if (from == ui->startButton) {
        if (recordState == Playing)
            return;
        if (recordState == Pause) {
            recordState = Playing;
            updateButtons();
            control->resume();
            return;
        }
        startRecording();
    } else if (from == ui->pauseButton) {
        control->pause();
        recordState = Pause;
        updateButtons();
    } else if (from == ui->stopButton) {
        stopRecording();
    } else if (from == ui->pushButton_playBack) {
        emit s_playBack(QFileInfo(savePath).absoluteFilePath());
    }
}

void recordWindow::startRecording()
{
    if (ui->comboBox_audio->currentText().isEmpty()) {
        recordNotice::report(tr("出错了,音频或视频设备未就绪，程序无法运行！"));
        return;
    }
    // Leading and trailing blanks only: inner spaces belong to the path.
    savePath = savePath.trimmed();
    if (!pathChosen) {
        savePath = defaultSavePath(QDateTime::currentDateTime());
        ui->lineEdit_filename->setText(savePath);
    }
    if (savePath.isEmpty()) {
        recordNotice::report(tr("请先设置保存文件路径"));
        return;
    }
    // An earlier recording is replaced only when the user says so.
    if (QFile::exists(savePath)) {
        if (!replaceBox) {
            replaceBox = new MessageBox(this);
            connect(replaceBox, &MessageBox::doAccept, this, [this] {
                if (recordState == Stop && !control->isStartPending())
                    beginRecording();
            });
        }
        replaceBox->setText(tr("“%1”已存在，要替换它吗？").arg(QFileInfo(savePath).fileName()));
        replaceBox->open();
        return;
    }
    beginRecording();
}

void recordWindow::beginRecording()
{
    ui->widget_saved->hide();
    const int slash = savePath.lastIndexOf(QLatin1Char('/'));
    if (slash > 0)
        QDir().mkpath(savePath.left(slash));
    // The recording opens the microphone itself.
    probe->stop();
    control->setUrl(savePath);
    control->setAudioSource(ui->comboBox_audio->currentData().toString());
    control->setCaptureArea(captureArea());
    control->setCameraMode(CameraMode(ui->comboBox_picture->currentIndex()));
    // The last recording may still be closing its file: wait for it in the
    // event loop.
    control->startWhenIdle(0);
    updateButtons();
}

void recordWindow::slotStartFinished(bool running)
{
    if (!running) {
        updateButtons(); // told by the controller
        return;
    }
    // A resume goes on counting; only a new recording starts at zero.
    elapsedSeconds = 0;
    recordState = Playing;
    updateButtons();
}

void recordWindow::requestClose()
{
    if (recordState == Stop) {
        hide();
        return;
    }
    if (!closeBox) {
        closeBox = new MessageBox(this);
        closeBox->setText(tr("正在录制，要停止录制并保存录像吗？"));
        connect(closeBox, &MessageBox::doAccept, this, [this] {
            if (recordState != Stop)
                stopRecording();
            hide();
        });
    }
    closeBox->open();
}

void recordWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        requestClose();
        return;
    }
    QWidget::keyPressEvent(event);
}

void recordWindow::showEvent(QShowEvent *event)
{
    // Monitors come and go while the window is hidden.
    if (recordState == Stop)
        loadMonitors();
    QWidget::showEvent(event);
    listenToMicrophone();
}

void recordWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    listenToMicrophone();
}

void recordWindow::listenToMicrophone()
{
    if (isVisible() && recordState == Stop && control->isIdle())
        probe->listen(ui->comboBox_audio->currentData().toString());
    else
        probe->stop();
    if (!isVisible())
        levelTimer->stop();
    else if (!levelTimer->isActive())
        levelTimer->start();
    showLevel();
}

void recordWindow::showLevel()
{
    float level = 0;
    if (recordState == Playing)
        level = control->microphoneLevel();
    else if (recordState == Stop)
        level = probe->level();
    ui->levelMeter->setLevel(level);
}

void recordWindow::closeEvent(QCloseEvent *event)
{
    // The desktop's close asks first; the program's own (at exit) does not.
    if (event->spontaneous() && recordState != Stop) {
        event->ignore();
        requestClose();
        return;
    }
    QWidget::closeEvent(event);
}

void recordWindow::stopRecording()
{
    announcePending = recordState != Stop;
    recordState = Stop;
    updateButtons();
    control->stop();
}

void recordWindow::slotRecordingFailed()
{
    recordState = Stop;
    updateButtons();
}

void recordWindow::updateButtons()
{
    // The last recording, once its file is whole.
    ui->pushButton_playBack->setEnabled(recordState == Stop && control->isIdle() && QFile::exists(savePath));
    switch (recordState) {
    case Playing:
        ui->startButton->setEnabled(false);
        ui->pauseButton->setEnabled(true);
        ui->stopButton->setEnabled(true);
        timer->start();
        break;
    case Pause:
        ui->startButton->setEnabled(true);
        ui->pauseButton->setEnabled(false);
        ui->stopButton->setEnabled(true);
        timer->stop();
        break;
    default:
        ui->startButton->setEnabled(!control->isStartPending());
        ui->pauseButton->setEnabled(false);
        ui->stopButton->setEnabled(false);
        timer->stop();
        ui->label_time->setText(QStringLiteral("00:00:00"));
        break;
    }
    listenToMicrophone();
}

void recordWindow::showSaved()
{
    if (!announcePending || !control->isIdle() || !QFile::exists(savePath))
        return;
    announcePending = false;
    ui->label_saved->setText(tr("已保存：") + QDir::toNativeSeparators(savePath));
    ui->label_saved->setToolTip(savePath);
    ui->widget_saved->show();
}

void recordWindow::slotTimerTimeOut()
{
    ++elapsedSeconds;
    const qint64 hours = elapsedSeconds / 3600;
    const qint64 minutes = (elapsedSeconds % 3600) / 60;
    const qint64 seconds = elapsedSeconds % 60;
    auto two = [](qint64 value) { return QStringLiteral("00%1").arg(value).right(2); };
    ui->label_time->setText(QStringLiteral("%1:%2:%3").arg(two(hours), two(minutes), two(seconds)));
}
