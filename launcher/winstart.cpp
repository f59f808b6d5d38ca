#include "winstart.h"

#include "iniope.h"
#include "updatectrl.h"
#include "xmlparse.h"

#include <QApplication>
#include <QLibrary>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>

winStart::winStart(QObject *parent) : QObject(parent) {}

QString winStart::libraryFileName()
{
    return QStringLiteral("libtaviMainLib.so");
}

static void showMessage(const QString &text)
{
    QMessageBox box;
    box.setText(text);
    box.exec();
}

void winStart::slot_startMain(int code)
{
    const QString listVersion = QString::fromStdString(xmlParse::instance()->version());
    switch (code) {
    case 1:
        showMessage(tr("程序升级成功！"));
        InIOpe::setInstalledVersion(listVersion);
        break;
    case 2:
        showMessage(tr("程序升级失败！"));
        break;
    case 3:
        InIOpe::setInstalledVersion(listVersion);
        break;
    default:
        break;
    }

    auto *library = new QLibrary(QStringLiteral("./taviMainLib"));
    if (library->load()) {
        using MainStart = int (*)();
        auto start = reinterpret_cast<MainStart>(library->resolve("mainStart"));
        if (start)
            start();
        else
            fail(tr("mainStart函数加载失败！"));
    } else {
        std::fprintf(stderr, "%s\n", library->errorString().toLocal8Bit().constData());
        fail(libraryFileName() + tr("加载失败！"));
    }
    // Deleting the QLibrary object leaves the library loaded.
    delete library;
}

void winStart::fail(const QString &message)
{
    m_failure = 1;
    showMessage(message);
    // Nothing else will open a window: end the process once the event loop
    // runs (this may be called before it has started).
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(1); });
}

int launcherMain()
{
    auto *starter = new winStart;
    auto *updater = new updateCtrl;
    QObject::connect(updater, &updateCtrl::s_mainSatart, starter, &winStart::slot_startMain, Qt::DirectConnection);
    updater->start();
    return QApplication::exec();
}
