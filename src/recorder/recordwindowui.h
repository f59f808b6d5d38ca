#pragma once

#include <QCoreApplication>

#include "ui/iconbtn.h"
#include "ui/levelmeter.h"

#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidget>

// The widgets of the screen recorder window.
class recordWindowUI
{
public:
    QWidget *widget_contain = nullptr;
    IconBtn *closeButton = nullptr;
    QPushButton *startButton = nullptr;
    QPushButton *pauseButton = nullptr;
    QPushButton *stopButton = nullptr;
    QToolButton *toolButton_setting = nullptr;
    QLabel *label_time = nullptr;
    LevelMeter *levelMeter = nullptr;
    QPushButton *pushButton_playBack = nullptr;
    QWidget *widget_extern = nullptr;
    QComboBox *comboBox_audio = nullptr;
    QWidget *widget_monitor = nullptr;
    QComboBox *comboBox_monitor = nullptr;
    QComboBox *comboBox_picture = nullptr;
    QLineEdit *lineEdit_filename = nullptr;
    QToolButton *toolButton_file = nullptr;
    // Where the last recording was saved, once it is whole.
    QWidget *widget_saved = nullptr;
    QLabel *label_saved = nullptr;
    QToolButton *openFolderButton = nullptr;

    void setupUi(QWidget *window)
    {
        window->setWindowTitle(QStringLiteral("MainWindow"));
        window->resize(335, 330);
        auto *outer = new QVBoxLayout(window);
        outer->setContentsMargins(4, 4, 4, 4);
        widget_contain = new QWidget(window);
        widget_contain->setObjectName(QStringLiteral("widget_contain"));
        widget_contain->setAttribute(Qt::WA_StyledBackground, true);
        widget_contain->setStyleSheet(QStringLiteral(
            "#widget_contain{background-color: white; border: 2px solid rgba(0, 0, 0, 50); border-radius: 1px;}"));
        outer->addWidget(widget_contain);
        auto *column = new QVBoxLayout(widget_contain);

        auto *top = new QHBoxLayout;
        top->addStretch(1);
        closeButton = new IconBtn(QStringLiteral(":/images/sys/dialog_close"), true, widget_contain);
        closeButton->setObjectName(QStringLiteral("closeButton"));
        closeButton->setToolTip(QCoreApplication::translate("recordWindow", "关闭"));
        closeButton->setAccessibleName(closeButton->toolTip());
        top->addWidget(closeButton);
        column->addLayout(top);

        label_time = new QLabel(QStringLiteral("00:00:00"), widget_contain);
        label_time->setObjectName(QStringLiteral("label_time"));
        QFont font(QStringLiteral("Microsoft YaHei"));
        font.setPixelSize(23);
        font.setBold(true);
        label_time->setFont(font);
        label_time->setStyleSheet(QStringLiteral("color: rgb(0, 0, 255);"));
        label_time->setAlignment(Qt::AlignCenter);
        column->addWidget(label_time);

        auto *buttons = new QHBoxLayout;
        startButton = new QPushButton(QCoreApplication::translate("recordWindow", "开始"), widget_contain);
        startButton->setObjectName(QStringLiteral("startButton"));
        pauseButton = new QPushButton(QCoreApplication::translate("recordWindow", "暂停"), widget_contain);
        pauseButton->setObjectName(QStringLiteral("pauseButton"));
        stopButton = new QPushButton(QCoreApplication::translate("recordWindow", "停止"), widget_contain);
        stopButton->setObjectName(QStringLiteral("stopButton"));
        toolButton_setting = new QToolButton(widget_contain);
        toolButton_setting->setObjectName(QStringLiteral("toolButton_setting"));
        toolButton_setting->setText(QCoreApplication::translate("recordWindow", "设置"));
        toolButton_setting->setCheckable(true);
        pushButton_playBack = new QPushButton(QCoreApplication::translate("recordWindow", "回放"), widget_contain);
        pushButton_playBack->setObjectName(QStringLiteral("pushButton_playBack"));
        pushButton_playBack->setEnabled(false);
        for (QWidget *w : {static_cast<QWidget *>(startButton), static_cast<QWidget *>(pauseButton),
                           static_cast<QWidget *>(stopButton), static_cast<QWidget *>(toolButton_setting),
                           static_cast<QWidget *>(pushButton_playBack)})
            buttons->addWidget(w);
        column->addLayout(buttons);
        levelMeter = new LevelMeter(widget_contain);
        levelMeter->setObjectName(QStringLiteral("levelMeter"));
        levelMeter->setAccessibleName(QCoreApplication::translate("recordWindow", "麦克风音量"));
        levelMeter->setToolTip(QCoreApplication::translate("recordWindow", "麦克风音量"));
        column->addWidget(levelMeter, 0, Qt::AlignHCenter);

        widget_saved = new QWidget(widget_contain);
        auto *savedRow = new QHBoxLayout(widget_saved);
        savedRow->setContentsMargins(0, 0, 0, 0);
        label_saved = new QLabel(widget_saved);
        label_saved->setTextFormat(Qt::PlainText);
        label_saved->setMinimumWidth(1);
        savedRow->addWidget(label_saved, 1);
        openFolderButton = new QToolButton(widget_saved);
        openFolderButton->setObjectName(QStringLiteral("openFolderButton"));
        openFolderButton->setText(QCoreApplication::translate("recordWindow", "打开文件夹"));
        savedRow->addWidget(openFolderButton);
        widget_saved->hide();
        column->addWidget(widget_saved);

        // Shown only where there are two monitors or more.
        widget_monitor = new QWidget(widget_contain);
        widget_monitor->setObjectName(QStringLiteral("widget_monitor"));
        auto *monitorRow = new QHBoxLayout(widget_monitor);
        monitorRow->setContentsMargins(0, 0, 0, 0);
        monitorRow->addWidget(new QLabel(QCoreApplication::translate("recordWindow", "录制屏幕:"), widget_monitor));
        comboBox_monitor = new QComboBox(widget_monitor);
        comboBox_monitor->setObjectName(QStringLiteral("comboBox_monitor"));
        monitorRow->addWidget(comboBox_monitor, 1);
        column->addWidget(widget_monitor);

        auto *pictureRow = new QHBoxLayout;
        pictureRow->addWidget(new QLabel(QCoreApplication::translate("recordWindow", "录制画面:"), widget_contain));
        comboBox_picture = new QComboBox(widget_contain);
        comboBox_picture->setObjectName(QStringLiteral("comboBox_picture"));
        comboBox_picture->setAccessibleName(QCoreApplication::translate("recordWindow", "录制画面"));
        // In the order of CameraMode.
        comboBox_picture->addItem(QCoreApplication::translate("recordWindow", "桌面"));
        comboBox_picture->addItem(QCoreApplication::translate("recordWindow", "桌面和摄像头"));
        comboBox_picture->addItem(QCoreApplication::translate("recordWindow", "摄像头"));
        pictureRow->addWidget(comboBox_picture, 1);
        column->addLayout(pictureRow);

        widget_extern = new QWidget(widget_contain);
        widget_extern->setObjectName(QStringLiteral("widget_extern"));
        auto *settings = new QVBoxLayout(widget_extern);
        auto *micRow = new QHBoxLayout;
        micRow->addWidget(new QLabel(QCoreApplication::translate("recordWindow", "麦克风:"), widget_extern));
        comboBox_audio = new QComboBox(widget_extern);
        comboBox_audio->setObjectName(QStringLiteral("comboBox_audio"));
        micRow->addWidget(comboBox_audio, 1);
        settings->addLayout(micRow);
        auto *divider = new QLabel(widget_extern);
        divider->setFixedHeight(1);
        divider->setStyleSheet(QStringLiteral("background-color: rgb(11, 47, 255);"));
        settings->addWidget(divider);
        settings->addWidget(new QLabel(QCoreApplication::translate("recordWindow", "录屏保存位置："), widget_extern));
        auto *fileRow = new QHBoxLayout;
        lineEdit_filename = new QLineEdit(widget_extern);
        lineEdit_filename->setObjectName(QStringLiteral("lineEdit_filename"));
        lineEdit_filename->setReadOnly(true);
        lineEdit_filename->setFrame(false);
        fileRow->addWidget(lineEdit_filename, 1);
        toolButton_file = new QToolButton(widget_extern);
        toolButton_file->setObjectName(QStringLiteral("toolButton_file"));
        toolButton_file->setText(QStringLiteral("..."));
        fileRow->addWidget(toolButton_file);
        settings->addLayout(fileRow);
        column->addWidget(widget_extern);
        column->addStretch(1);
    }
};
