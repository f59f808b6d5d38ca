#include "record/picturecompositor.h"

#include "base/logging.h"
#include "base/privatefiles.h"

#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <cstring>

namespace {
const QString kCornerKey = QStringLiteral("Camera/corner");
const char *const kCornerNames[] = {"top-left", "top-right", "bottom-left", "bottom-right"};

QString settingsPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/tavi/camera.ini");
}

int even(double value)
{
    return qMax(2, int(value + 0.5) & ~1);
}

// Fills a rectangle of a 4:2:0 picture (x, y, w, h even) with one colour.
void fill(uint8_t *picture, int pw, int ph, const QRect &r, uint8_t y, uint8_t u, uint8_t v)
{
    const QRect box = r.intersected(QRect(0, 0, pw, ph));
    if (box.isEmpty())
        return;
    for (int row = box.top(); row <= box.bottom(); ++row)
        std::memset(picture + size_t(row) * pw + box.left(), y, size_t(box.width()));
    uint8_t *uPlane = picture + size_t(pw) * ph;
    uint8_t *vPlane = uPlane + size_t(pw / 2) * (ph / 2);
    for (int row = box.top() / 2; row < (box.bottom() + 1) / 2; ++row) {
        std::memset(uPlane + size_t(row) * (pw / 2) + box.left() / 2, u, size_t(box.width() / 2));
        std::memset(vPlane + size_t(row) * (pw / 2) + box.left() / 2, v, size_t(box.width() / 2));
    }
}

// Copies a 4:2:0 picture of r's size into the picture at r (inside it, even).
void copyInto(uint8_t *picture, int pw, int ph, const uint8_t *camera, const QRect &r)
{
    const int w = r.width(), h = r.height();
    for (int row = 0; row < h; ++row)
        std::memcpy(picture + size_t(r.y() + row) * pw + r.x(), camera + size_t(row) * w, size_t(w));
    uint8_t *uPlane = picture + size_t(pw) * ph;
    uint8_t *vPlane = uPlane + size_t(pw / 2) * (ph / 2);
    const uint8_t *cu = camera + size_t(w) * h;
    const uint8_t *cv = cu + size_t(w / 2) * (h / 2);
    for (int row = 0; row < h / 2; ++row) {
        const size_t at = size_t(r.y() / 2 + row) * (pw / 2) + r.x() / 2;
        std::memcpy(uPlane + at, cu + size_t(row) * (w / 2), size_t(w / 2));
        std::memcpy(vPlane + at, cv + size_t(row) * (w / 2), size_t(w / 2));
    }
}
} // namespace

void PictureCompositor::setMode(CameraMode mode)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_state.mode = mode;
    if (mode == CameraMode::Off)
        m_state.yuv.reset();
}

CameraMode PictureCompositor::mode() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_state.mode;
}

void PictureCompositor::setCorner(CameraCorner corner)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_state.corner = corner;
}

CameraCorner PictureCompositor::corner() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_state.corner;
}

void PictureCompositor::setPictureSize(const QSize &size)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_state.picture = size;
}

QSize PictureCompositor::sizeFor(CameraMode mode, const QSize &picture, const QSize &camera)
{
    if (picture.width() < 2 || picture.height() < 2 || camera.width() < 2 || camera.height() < 2)
        return QSize();
    if (mode == CameraMode::Inset)
        return insetRect(picture, camera, CameraCorner::TopLeft).size();
    if (mode != CameraMode::Only)
        return QSize();
    const double scale = qMin(double(picture.width()) / camera.width(), double(picture.height()) / camera.height());
    return QSize(qMin(picture.width(), even(camera.width() * scale)),
                 qMin(picture.height(), even(camera.height() * scale)));
}

QSize PictureCompositor::cameraSize(const QSize &camera)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_state.native = camera;
    return sizeFor(m_state.mode, m_state.picture, camera);
}

void PictureCompositor::setCameraPicture(std::shared_ptr<const std::vector<uint8_t>> yuv, const QSize &size)
{
    const size_t bytes = size_t(qMax(0, size.width())) * size_t(qMax(0, size.height())) * 3 / 2;
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool whole = yuv && yuv->size() >= bytes && size.width() % 2 == 0 && size.height() % 2 == 0;
    m_state.yuv = whole ? std::move(yuv) : nullptr;
    m_state.size = size;
}

PictureCompositor::Shown PictureCompositor::shown() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_state;
}

QRect PictureCompositor::insetRect(const QSize &picture, const QSize &camera, CameraCorner corner)
{
    if (picture.width() < 16 || picture.height() < 16 || camera.width() < 2 || camera.height() < 2)
        return QRect();
    int w = even(picture.width() / 5.0);
    int h = even(double(w) * camera.height() / camera.width());
    // A tall camera in a wide picture: at most half the picture's height.
    if (h > picture.height() / 2) {
        h = even(picture.height() / 2.0);
        w = even(double(h) * camera.width() / camera.height());
    }
    const int margin = even(qMax(8.0, picture.width() / 60.0));
    const bool right = corner == CameraCorner::TopRight || corner == CameraCorner::BottomRight;
    const bool bottom = corner == CameraCorner::BottomLeft || corner == CameraCorner::BottomRight;
    const int x = right ? picture.width() - margin - w : margin;
    const int y = bottom ? picture.height() - margin - h : margin;
    return QRect(qMax(0, x) & ~1, qMax(0, y) & ~1, w, h);
}

int PictureCompositor::borderWidth(const QSize &picture)
{
    return picture.width() >= 1280 ? 4 : 2;
}

QRect PictureCompositor::placeOf(const Shown &s)
{
    if (!s.yuv || s.size != sizeFor(s.mode, s.picture, s.native))
        return QRect();
    if (s.mode == CameraMode::Inset)
        return insetRect(s.picture, s.native, s.corner);
    // Centred, on black bars where the proportions differ.
    return QRect(((s.picture.width() - s.size.width()) / 2) & ~1, ((s.picture.height() - s.size.height()) / 2) & ~1,
                 s.size.width(), s.size.height());
}

QRect PictureCompositor::cameraRect() const
{
    return placeOf(shown());
}

bool PictureCompositor::coversDesktop() const
{
    const Shown s = shown();
    return s.mode == CameraMode::Only && !placeOf(s).isEmpty();
}

bool PictureCompositor::compose(uint8_t *picture, int w, int h) const
{
    const Shown s = shown();
    const QRect r = placeOf(s);
    if (r.isEmpty() || s.picture != QSize(w, h) || !QRect(0, 0, w, h).contains(r))
        return false;
    if (s.mode == CameraMode::Only) {
        fill(picture, w, h, QRect(0, 0, w, r.y()), 16, 128, 128);
        fill(picture, w, h, QRect(0, r.bottom() + 1, w, h - r.bottom() - 1), 16, 128, 128);
        fill(picture, w, h, QRect(0, r.y(), r.x(), r.height()), 16, 128, 128);
        fill(picture, w, h, QRect(r.right() + 1, r.y(), w - r.right() - 1, r.height()), 16, 128, 128);
    } else {
        // A light frame that stands out on dark and light desktops alike.
        const int b = borderWidth(s.picture);
        fill(picture, w, h, r.adjusted(-b, -b, b, b), 200, 128, 128);
    }
    copyInto(picture, w, h, s.yuv->data(), r);
    return true;
}

CameraCorner PictureCompositor::rememberedCorner()
{
    const QSettings settings(settingsPath(), QSettings::IniFormat);
    const QString name = settings.value(kCornerKey).toString();
    for (int i = 0; i < 4; ++i)
        if (name == QLatin1String(kCornerNames[i]))
            return CameraCorner(i);
    return CameraCorner::BottomRight;
}

void PictureCompositor::rememberCorner(CameraCorner corner)
{
    const QString path = settingsPath();
    if (!tavi::makePrivateDir(QFileInfo(path).absolutePath()) || !tavi::preparePrivateFile(path)) {
        TAVI_LOG_WARN("camera: cannot write " << path);
        return;
    }
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(kCornerKey, QLatin1String(kCornerNames[int(corner)]));
    settings.sync();
}
