#pragma once

#include <QRect>
#include <QString>
#include <QWidget>

class QTimer;
class recordWindowUI;
class recordCtrl;

// Small always-on-top window that records the whole desktop and the
// microphone into a local file, through a recording controller of its own
// (not the classroom's). Keeps its settings in
// "./ScreenRecorder/etc/set.conf".
class recordWindow : public QWidget
{
    Q_OBJECT
public:
    enum RecordState {
        Recording = 1,
        Paused = 2,
        Stopped = 3
    };

    explicit recordWindow(QWidget *parent = nullptr);
    ~recordWindow() override;

    static QString confDir() { return QStringLiteral("./ScreenRecorder/etc"); }

    recordWindowUI *form() const { return ui; }
    int state() const { return recordState; }
    QString savePathValue() const { return savePath; }
    qint64 elapsed() const { return elapsedSeconds; }
    void setElapsedSeconds(qint64 seconds) { elapsedSeconds = seconds; }
    // What choosing a file in the save dialog does.
    void chooseSavePath(const QString &path);
    recordCtrl *recorder() const { return control; }

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

private slots:
    void slotRecordingFailed();

private:
    void loadDevices();
    void loadSettings();
    void saveSettings();
    void updateButtons();
    void startRecording();
    void stopRecording();

    recordWindowUI *ui;
    recordCtrl *control;
    QString confPath;
    QString savePath;
    QRect area;
    int recordState = Stopped;
    QTimer *timer;
    qint64 elapsedSeconds = 0;
};
