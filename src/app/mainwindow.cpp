#include "app/mainwindow.h"

#include "app/contentwidget.h"
#include "app/statuswidget.h"
#include "app/titlewidget.h"
#include "base/logging.h"
#include "base/privatefiles.h"
#include "classroom/playaudiovideoctrl.h"

#include <QCryptographicHash>
#include <QCursor>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>

#include <QVBoxLayout>

#include <iostream>

namespace {
// Each installation (its working folder) keeps a place of its own.
QString installationGroup()
{
    const QByteArray folder = QDir::currentPath().toUtf8();
    return QStringLiteral("installation-") +
        QString::fromLatin1(QCryptographicHash::hash(folder, QCryptographicHash::Sha1).toHex().left(12));
}

// Whether enough of the title bar lies on a screen to take hold of it.
bool reachable(const QRect &place)
{
    const QRect titleBar(place.topLeft(), QSize(place.width(), 38));
    for (QScreen *screen : QGuiApplication::screens()) {
        const QRect shown = screen->availableGeometry().intersected(titleBar);
        if (shown.width() >= 100 && shown.height() >= 19)
            return true;
    }
    return false;
}
} // namespace

QString MainWindow::settingsPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/tavi/tavi.ini");
}

MainWindow *MainWindow::instance()
{
    static MainWindow *window = nullptr;
    if (!window)
        window = new MainWindow(nullptr);
    return window;
}

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    setWindowFlags(Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setMinimumSize(1180, 600);
    // Saved once the window rests, not on every step of a drag.
    m_saveTimer = new QTimer(this);
    m_saveTimer->setSingleShot(true);
    m_saveTimer->setInterval(500);
    connect(m_saveTimer, &QTimer::timeout, this, &MainWindow::savePlace);

    titleBar = new TitleWidget;
    statusBar = new StatusWidget;
    content = new ContentWidget;

    auto *central = new QWidget;
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(titleBar);
    layout->addWidget(content, 1);
    layout->addWidget(statusBar);
    setCentralWidget(central);

    connect(titleBar, SIGNAL(local_play(QString)), content, SLOT(local_play(QString)));
    connect(titleBar, SIGNAL(s_loginOut()), this, SIGNAL(s_loginOut()));
    connect(titleBar, SIGNAL(s_min()), this, SIGNAL(s_min()));
    connect(titleBar, SIGNAL(s_max()), this, SIGNAL(s_max()));
    connect(titleBar, SIGNAL(s_tray()), this, SIGNAL(s_tray()));
    connect(titleBar, SIGNAL(s_move(QPoint)), this, SIGNAL(s_move(QPoint)));
}

void MainWindow::loginOut()
{
    std::cout << "MainWindow::loginOut()......................................" << std::endl;
    content->onLogout();
    titleBar->loginOut();
}

void MainWindow::loginSuccess()
{
    if (!m_placed)
        placeOnScreen();
    titleBar->loginSuccess();
    content->onLogin();
}

void MainWindow::onTray()
{
    playAudioVideoCtrl::instance();
    content->onClose();
}

void MainWindow::placeOnScreen()
{
    QSettings settings(settingsPath(), QSettings::IniFormat);
    const QRect saved = settings.value(installationGroup() + QStringLiteral("/mainWindow")).toRect();
    if (saved.isValid() && reachable(saved)) {
        setGeometry(QRect(saved.topLeft(), saved.size().expandedTo(minimumSize())));
    } else {
        QScreen *screen = QGuiApplication::screenAt(QCursor::pos());
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        if (screen) {
            const QRect available = screen->availableGeometry();
            QRect place(QPoint(0, 0), minimumSize());
            place.moveCenter(available.center());
            setGeometry(place);
        }
    }
    m_placed = true;
}

void MainWindow::savePlace()
{
    m_saveTimer->stop();
    if (!m_placed || isMinimized())
        return;
    const QString path = settingsPath();
    // The user's settings are the user's alone.
    if (!tavi::makePrivateDir(QFileInfo(path).path()) || !tavi::preparePrivateFile(path)) {
        TAVI_LOG_WARN("cannot keep the window's place in " << path);
        return;
    }
    QSettings settings(path, QSettings::IniFormat);
    settings.beginGroup(installationGroup());
    settings.setValue(QStringLiteral("folder"), QDir::currentPath());
    settings.setValue(QStringLiteral("mainWindow"), geometry());
}

void MainWindow::moveEvent(QMoveEvent *event)
{
    QMainWindow::moveEvent(event);
    if (isVisible())
        m_saveTimer->start();
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    if (isVisible())
        m_saveTimer->start();
}

void MainWindow::hideEvent(QHideEvent *event)
{
    QMainWindow::hideEvent(event);
    if (m_saveTimer->isActive())
        savePlace();
}

void MainWindow::slot_tray() {}

void MainWindow::slot_showWindow() {}
