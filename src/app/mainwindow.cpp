#include "app/mainwindow.h"

#include "app/contentwidget.h"
#include "app/statuswidget.h"
#include "app/titlewidget.h"
#include "classroom/playaudiovideoctrl.h"

#include <QVBoxLayout>

#include <iostream>

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
    titleBar->loginSuccess();
    content->onLogin();
}

void MainWindow::onTray()
{
    playAudioVideoCtrl::instance();
    content->onClose();
}

void MainWindow::slot_tray() {}

void MainWindow::slot_showWindow() {}
