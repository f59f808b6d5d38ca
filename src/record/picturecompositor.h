#pragma once

#include <QRect>
#include <QSize>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// How the camera shows in the published picture.
enum class CameraMode {
    Off,
    // In a corner over the desktop.
    Inset,
    // Alone, filling the picture.
    Only
};

enum class CameraCorner {
    TopLeft,
    TopRight,
    BottomLeft,
    BottomRight
};

// Puts the camera's latest picture into each class picture the desktop
// capture makes: the desktop's clock paces the class, and the camera's
// picture is at most one of its own frames old. The camera thread hands
// pictures in; the capture thread composes.
class PictureCompositor
{
public:
    void setMode(CameraMode mode);
    CameraMode mode() const;
    void setCorner(CameraCorner corner);
    CameraCorner corner() const;
    // The class picture's size, told by the capture when it opens.
    void setPictureSize(const QSize &size);

    // The size a camera picture of this size is converted to for the mode
    // now; empty while nothing is shown. The camera thread asks for each of
    // its pictures.
    QSize cameraSize(const QSize &camera);
    // The camera thread's latest picture: YUV 4:2:0, planes back to back,
    // of a size cameraSize gave. Null takes the camera away.
    void setCameraPicture(std::shared_ptr<const std::vector<uint8_t>> yuv, const QSize &size);

    // Where the camera sits in the class picture now; empty while none is
    // shown.
    QRect cameraRect() const;
    // The camera fills the picture: the desktop need not be converted.
    bool coversDesktop() const;
    // Draws the camera into a class picture of w x h (YUV 4:2:0, planes back
    // to back). True when it drew.
    bool compose(uint8_t *picture, int w, int h) const;

    // The inset's place in a picture: about a fifth of its width, in the
    // camera's proportions, off the corner by a margin (even numbers
    // throughout, for 4:2:0).
    static QRect insetRect(const QSize &picture, const QSize &camera, CameraCorner corner);
    // The thin border around the inset.
    static int borderWidth(const QSize &picture);

    // The corner the user chose last (bottom right before any choice).
    static CameraCorner rememberedCorner();
    static void rememberCorner(CameraCorner corner);

private:
    struct Shown
    {
        std::shared_ptr<const std::vector<uint8_t>> yuv;
        QSize size;
        // The camera's own size, of which size was made.
        QSize native;
        CameraMode mode = CameraMode::Off;
        CameraCorner corner = CameraCorner::BottomRight;
        QSize picture;
    };
    Shown shown() const;
    // The size a camera of that size is shown at.
    static QSize sizeFor(CameraMode mode, const QSize &picture, const QSize &camera);
    // Where the camera's picture sits; empty when it was made for another
    // mode or picture size (a picture or two after a change).
    static QRect placeOf(const Shown &s);

    mutable std::mutex m_mutex;
    Shown m_state;
};
