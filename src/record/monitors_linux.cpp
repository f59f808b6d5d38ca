#include "record/monitors.h"

#include "base/logging.h"
#include "base/privatefiles.h"

#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace {
const QString kNameKey = QStringLiteral("Monitor/name");
constexpr int kMaxSide = 32767;

template<class T> using Reply = std::unique_ptr<T, decltype(&std::free)>;
template<class T> Reply<T> reply(T *value)
{
    return Reply<T>(value, &std::free);
}

// Printable text of at most kMaxNameLength characters: a name comes from the
// server, and goes into settings and logs.
QString cleanName(const char *data, int length)
{
    QString name = QString::fromUtf8(data, qBound(0, length, 4 * monitors::kMaxNameLength));
    QString clean;
    for (const QChar c : name)
        if (c.isPrint())
            clean += c;
    return clean.left(monitors::kMaxNameLength);
}

struct Connection
{
    explicit Connection(const QByteArray &display)
        : c(xcb_connect(display.isEmpty() ? nullptr : display.constData(), &screenNumber))
    {
    }
    ~Connection() { xcb_disconnect(c); }
    bool ok() const { return c && !xcb_connection_has_error(c); }
    xcb_screen_t *screen() const
    {
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
        for (int i = 0; it.rem && i < screenNumber; ++i)
            xcb_screen_next(&it);
        return it.rem ? it.data : nullptr;
    }
    int screenNumber = 0;
    xcb_connection_t *c;
};

QVector<Monitor> randrMonitors(xcb_connection_t *c, xcb_window_t root, const QRect &screen)
{
    QVector<Monitor> found;
    const xcb_query_extension_reply_t *extension = xcb_get_extension_data(c, &xcb_randr_id);
    if (!extension || !extension->present)
        return found;
    // Monitors came with RandR 1.5.
    auto version = reply(xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
    if (!version || version->major_version < 1 || (version->major_version == 1 && version->minor_version < 5))
        return found;
    auto answer = reply(xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, root, 1), nullptr));
    if (!answer)
        return found;
    QVector<xcb_get_atom_name_cookie_t> names;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(answer.get());
         it.rem && found.size() < monitors::kMaxMonitors; xcb_randr_monitor_info_next(&it)) {
        const xcb_randr_monitor_info_t *info = it.data;
        const QRect rect = QRect(info->x, info->y, info->width, info->height).intersected(screen);
        if (rect.width() < 2 || rect.height() < 2)
            continue; // off the screen: nothing of it can be grabbed
        Monitor monitor;
        monitor.rect = rect;
        monitor.primary = info->primary;
        found.append(monitor);
        names.append(xcb_get_atom_name(c, info->name));
    }
    for (int i = 0; i < found.size(); ++i) {
        auto name = reply(xcb_get_atom_name_reply(c, names[i], nullptr));
        if (name)
            found[i].name = cleanName(xcb_get_atom_name_name(name.get()), xcb_get_atom_name_name_length(name.get()));
        if (found[i].name.isEmpty())
            found[i].name = QStringLiteral("monitor-%1").arg(i + 1);
    }
    return found;
}
} // namespace

namespace monitors {

QVector<Monitor> list(const QByteArray &display)
{
    Monitor whole;
    whole.name = QStringLiteral("screen");
    whole.primary = true;
    Connection connection(display);
    xcb_screen_t *screen = connection.ok() ? connection.screen() : nullptr;
    if (!screen) {
        TAVI_LOG_WARN("monitors: the X display does not open; the whole screen is captured");
        return {whole};
    }
    whole.rect =
        QRect(0, 0, qMin<int>(screen->width_in_pixels, kMaxSide), qMin<int>(screen->height_in_pixels, kMaxSide));
    QVector<Monitor> found = randrMonitors(connection.c, screen->root, whole.rect);
    // As they lie on the desk, left to right (the server lists the primary first).
    std::stable_sort(found.begin(), found.end(), [](const Monitor &a, const Monitor &b) {
        return a.rect.x() != b.rect.x() ? a.rect.x() < b.rect.x() : a.rect.y() < b.rect.y();
    });
    return found.isEmpty() ? QVector<Monitor>{whole} : found;
}

int resolve(const QVector<Monitor> &monitors, const QString &remembered)
{
    if (monitors.isEmpty())
        return -1;
    for (int i = 0; i < monitors.size(); ++i)
        if (!remembered.isEmpty() && monitors[i].name == remembered)
            return i;
    for (int i = 0; i < monitors.size(); ++i)
        if (monitors[i].primary)
            return i;
    return 0;
}

bool contains(const QVector<Monitor> &monitors, const QString &name)
{
    for (const Monitor &monitor : monitors)
        if (!name.isEmpty() && monitor.name == name)
            return true;
    return false;
}

QString settingsPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
        QStringLiteral("/tavi/monitor.ini");
}

QString remembered()
{
    const QSettings settings(settingsPath(), QSettings::IniFormat);
    const QString name = settings.value(kNameKey).toString();
    // A hand-edited file is no monitor's name.
    return name.size() <= kMaxNameLength ? name : QString();
}

void remember(const QString &name)
{
    const QString path = settingsPath();
    if (!tavi::makePrivateDir(QFileInfo(path).absolutePath()) || !tavi::preparePrivateFile(path)) {
        TAVI_LOG_WARN("monitors: cannot write " << path);
        return;
    }
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(kNameKey, name.left(kMaxNameLength));
    settings.sync();
}

} // namespace monitors
