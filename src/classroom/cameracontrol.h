#pragma once

#include "record/picturecompositor.h"

#include <QObject>
#include <QRect>

class Label;
class recordCtrl;

// The teacher's camera on the control bar. "[摄像头]" switches it on, in a
// corner of the published picture, and off; while it is on, "[仅摄像头]"
// shows the camera alone and "[画中画]" brings the corner back. A camera
// that cannot open, or goes away, is told and shows as off; the desktop
// goes on.
class CameraControl : public QObject
{
    Q_OBJECT
public:
    CameraControl(Label *onOff, Label *mode, recordCtrl *recorder, QObject *parent = nullptr);

    // Shown in a teacher's class only; taken away, the camera goes off.
    void setAvailable(bool available);
    CameraMode mode() const;
    // The inset in the published picture's pixels; empty unless it shows.
    QRect insetRect() const;
    // The teacher dropped the inset at a point of the picture (0 to 1 across
    // and down): the nearest corner, remembered.
    void dropAt(double x, double y);

signals:
    // The camera went on or off, or moved.
    void changed();

private:
    void toggle();
    void switchMode();
    void failed(int failure);
    void show();

    Label *m_onOff;
    Label *m_mode;
    recordCtrl *m_recorder;
    bool m_available = false;
};
