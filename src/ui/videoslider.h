#pragma once

#include <QSlider>

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
    void sig_valueChanged(int value);

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    VideoSlider();
};
