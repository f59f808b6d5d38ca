#pragma once

#include "base/playerstate.h"

#include <QDateTime>
#include <QRect>
#include <QString>
#include <QWidget>

class MessageBox;
class MicrophoneProbe;
class QTimer;
class recordWindowUI;
class recordCtrl;

// Small always-on-top window that records the desktop (the monitor chosen
// in its box, where there are several) and the microphone into a local file, through a recording controller of its own
// (not the classroom's). Keeps its settings in
// "./ScreenRecorder/etc/set.conf". Its close button and Escape hide it; a
// running recording is stopped and saved first, if the user agrees.
class recordWindow : public QWidget
{
    Q_OBJECT
public:
    explicit recordWindow(QWidget *parent = nullptr);
    ~recordWindow() override;

    static QString confDir() { return QStringLiteral("./ScreenRecorder/etc"); }

    recordWindowUI *form() const { return ui; }
    // Playing while it records.
    PlayerState state() const { return recordState; }
    QString savePathValue() const { return savePath; }
    qint64 elapsed() const { return elapsedSeconds; }
    void setElapsedSeconds(qint64 seconds) { elapsedSeconds = seconds; }
    // What choosing a file in the save dialog does. Without a choice each
    // recording gets a name of its own, by its start.
    void chooseSavePath(const QString &path);
    // A new file in the user's videos folder named by the time, never one
    // that exists.
    static QString defaultSavePath(const QDateTime &when);
    recordCtrl *recorder() const { return control; }

    // Lists the display's monitors again in the monitor box (shown with two
    // or more), the remembered one, else the primary, selected.
    void loadMonitors();
    // The rectangle a recording started now grabs: the monitor selected,
    // empty for the whole screen.
    QRect captureArea() const;

    // Hides the window, after asking whether to stop and save a running
    // recording ("取消" keeps it running and the window open).
    void requestClose();

signals:
    // "回放": play the last recording (in the main window's player).
    void s_playBack(QString path);

public slots:
    void showOut();
    void slotToolBtnToggled(bool);
    void slotBtnClicked();
    void slotSelectRectBtnClick();
    void slotEditRectBtnClick();
    void slotHideRectBtnClick();
    void slotSelectRectFinished(QRect);
    void slotTimerTimeOut();
    void slotCheckBoxClick(bool checked);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private slots:
    void slotRecordingFailed();
    void slotStartFinished(bool running);

private:
    void loadDevices();
    void loadSettings();
    void saveSettings();
    void updateButtons();
    void startRecording();
    // Records into savePath, which is the user's to replace.
    void beginRecording();
    void stopRecording();
    // The recording just ended is whole: the window says where it is.
    void showSaved();
    // The meter shows the chosen microphone while the window is shown:
    // listened to by the probe before a recording, the recording's during.
    void listenToMicrophone();
    void showLevel();

    recordWindowUI *ui;
    recordCtrl *control;
    QString confPath;
    QString savePath;
    QRect area;
    PlayerState recordState = Stop;
    QTimer *timer;
    MicrophoneProbe *probe;
    QTimer *levelTimer;
    qint64 elapsedSeconds = 0;
    MessageBox *closeBox = nullptr;
    MessageBox *replaceBox = nullptr;
    // The user chose savePath (or an earlier version of the settings did).
    bool pathChosen = false;
    // A recording was stopped; its file is announced once whole.
    bool announcePending = false;
};
