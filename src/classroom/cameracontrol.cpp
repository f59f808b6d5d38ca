#include "classroom/cameracontrol.h"

#include "net/flash.h"
#include "record/camerathread.h"
#include "record/recordctrl.h"
#include "ui/label.h"

namespace {
const char *const kCameraOn = QT_TRANSLATE_NOOP("CameraControl", "[摄像头]");
const char *const kCameraOff = QT_TRANSLATE_NOOP("CameraControl", "[关闭摄像头]");
const char *const kCameraOnly = QT_TRANSLATE_NOOP("CameraControl", "[仅摄像头]");
const char *const kInset = QT_TRANSLATE_NOOP("CameraControl", "[画中画]");
} // namespace

CameraControl::CameraControl(Label *onOff, Label *mode, recordCtrl *recorder, QObject *parent)
    : QObject(parent), m_onOff(onOff), m_mode(mode), m_recorder(recorder)
{
    connect(m_onOff, &Label::s_clicked, this, &CameraControl::toggle);
    connect(m_mode, &Label::s_clicked, this, &CameraControl::switchMode);
    connect(m_recorder, &recordCtrl::sig_cameraFailed, this, &CameraControl::failed);
    show();
}

void CameraControl::setAvailable(bool available)
{
    if (!available && mode() != CameraMode::Off)
        m_recorder->setCameraMode(CameraMode::Off);
    m_available = available;
    show();
}

CameraMode CameraControl::mode() const
{
    return m_recorder->cameraMode();
}

QRect CameraControl::insetRect() const
{
    return mode() == CameraMode::Inset ? m_recorder->cameraRect() : QRect();
}

void CameraControl::dropAt(double x, double y)
{
    const bool right = x >= 0.5, bottom = y >= 0.5;
    const CameraCorner corner = bottom ? (right ? CameraCorner::BottomRight : CameraCorner::BottomLeft)
                                       : (right ? CameraCorner::TopRight : CameraCorner::TopLeft);
    if (corner == m_recorder->cameraCorner())
        return;
    m_recorder->setCameraCorner(corner);
    PictureCompositor::rememberCorner(corner);
    emit changed();
}

void CameraControl::toggle()
{
    m_recorder->setCameraMode(mode() == CameraMode::Off ? CameraMode::Inset : CameraMode::Off);
    show();
    emit changed();
}

void CameraControl::switchMode()
{
    if (mode() == CameraMode::Off)
        return;
    m_recorder->setCameraMode(mode() == CameraMode::Only ? CameraMode::Inset : CameraMode::Only);
    show();
    emit changed();
}

void CameraControl::failed(int failure)
{
    // A camera switched off meanwhile has nothing to tell.
    if (!m_available)
        return;
    const QString text = CameraThread::failureText(failure);
    m_onOff->setToolTip(text);
    Flash::notice(text);
    show();
    emit changed();
}

void CameraControl::show()
{
    const bool on = mode() != CameraMode::Off;
    m_onOff->setVisible(m_available);
    m_onOff->setText(tr(on ? kCameraOff : kCameraOn));
    m_onOff->setAccessibleName(tr("摄像头"));
    if (on)
        m_onOff->setToolTip(QString());
    m_mode->setVisible(m_available && on);
    m_mode->setText(tr(mode() == CameraMode::Only ? kInset : kCameraOnly));
}
