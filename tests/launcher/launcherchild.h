#pragma once

#include "iniope.h"

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QTimer>
#include <cstdio>

// Answers every message box the process shows, printing its text as
// "box:TEXT": the launcher's messages, read by a parent test.
inline void answerBoxes(QObject *parent)
{
    auto *closer = new QTimer(parent);
    QObject::connect(closer, &QTimer::timeout, [] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            std::printf("box:%s\n", box->text().toUtf8().constData());
            std::fflush(stdout);
            box->accept();
        }
    });
    closer->start(20);
}

// Ends a child: prints the installed version and the event loop's status.
inline int childEnds(int status)
{
    std::printf("version:%s\nexit:%d\n", InIOpe::installedVersion().toUtf8().constData(), status);
    return status;
}

// This test program run again with args, in the current folder (an
// installation); what it printed, "<no end>" if it did not end in time.
inline QString runChild(const QStringList &args, int timeoutMs = 60000)
{
    QProcess process;
    process.start(QCoreApplication::applicationFilePath(), args);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return QStringLiteral("<no end>");
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}
