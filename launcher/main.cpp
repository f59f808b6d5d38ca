#include "base/language.h"
#include "desktopscale.h"
#include "winstart.h"

#include <QApplication>

int main(int argc, char **argv)
{
    // On a Wayland desktop the windows go through XWayland: they are
    // frameless and move themselves when dragged, which only X11 lets a
    // window do. A platform the user names still wins.
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || qgetenv("XDG_SESSION_TYPE") == "wayland";
    if (wayland && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    // The desktop's scale, 125 % and 150 % as well as 200 %.
    followDesktopScale();
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    QApplication application(argc, argv);
    // Before the first window: the launcher's texts and the library's alike.
    tavi::installTranslations(&application);
    return launcherMain();
}
