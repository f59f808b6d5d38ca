#include "desktopscale.h"
#include "winstart.h"

#include <QApplication>

int main(int argc, char **argv)
{
    // The desktop's scale, 125 % and 150 % as well as 200 %.
    followDesktopScale();
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    QApplication application(argc, argv);
    return launcherMain();
}
