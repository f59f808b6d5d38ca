#pragma once

#include <QSlider>

class QTimer;

// The classroom's progress slider; one per process, shared by the screen and
// the play button.
class VideoSlider : public QSlider
{
    Q_OBJECT
public:
    static VideoSlider *instance();

    // Sets the value unless the user is dragging the handle, so a running
    // clock never pulls the handle away from the mouse.
    void setProgress(int value);

signals:
    void sig_clicked(qint64 mSec);
    void sig_setStart(qint64 mSec);
    void sig_setEnd(qint64 mSec);
    void sig_valueChanged(int value);

public slots:
    void slotTimerTimeOut();
    void slotMousemoveTimerTimeOut();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    VideoSlider();

    QTimer *m_timer;
    QTimer *m_mouseMoveTimer;
};
