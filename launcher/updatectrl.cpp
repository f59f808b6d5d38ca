#include "updatectrl.h"

#include "downloadmanager.h"
#include "iniope.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProgressDialog>
#include <vector>

const char *const updateCtrl::kTmpDir = "DownLoadTmp";

updateCtrl::updateCtrl(QObject *parent) : QObject(parent), list(xmlParse::instance())
{
}

updateCtrl::~updateCtrl()
{
    delete progress;
}

QString updateCtrl::tmpPathFor(const std::string &path)
{
    // The whole relative path, so equal file names in different folders
    // never share a temporary file.
    return QStringLiteral("./DownLoadTmp/") + QString::fromStdString(path);
}

void updateCtrl::report(int code)
{
    if (reported)
        return;
    reported = true;
    emit s_mainSatart(code);
}

void updateCtrl::start()
{
    if (QString::fromStdString(list->version()) == InIOpe::installedVersion()) {
        report(3);
        return;
    }
    // A list that names a file outside the installation is refused whole.
    for (const auto &entry : list->listFiles()) {
        if (!isSafeInstallPath(QString::fromStdString(entry.first))) {
            qWarning() << "update list names an unsafe path:" << QString::fromStdString(entry.first);
            running = false;
            report(2);
            return;
        }
    }
    list->computeDownloads();
    pending = list->downloads();
    if (pending.empty()) {
        report(3);
        return;
    }

    progress = new QProgressDialog;
    progress->setMinimum(0);
    progress->setCancelButtonText(QStringLiteral("取消"));
    progress->setMinimumSize(600, 55);
    progress->setLabelText(QStringLiteral("程序升级中......"));
    // One file reaching its end must not close the dialog while others run.
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    connect(progress, &QProgressDialog::canceled, this, &updateCtrl::slot_cancel);

    QDir(QString::fromLatin1(kTmpDir)).removeRecursively();
    QDir().mkpath(QString::fromLatin1(kTmpDir));

    const QString base = InIOpe::listBase();
    for (const auto &entry : pending) {
        const QString savePath = tmpPathFor(entry.first);
        QDir().mkpath(QFileInfo(savePath).path());
        auto *download = new DownLoadManager;
        connect(download, &DownLoadManager::signalDownloadError, this, &updateCtrl::downFailed);
        connect(download, &DownLoadManager::signalReplyFinished, this, &updateCtrl::downFinish);
        connect(download, &DownLoadManager::signalDownloadProcess, this,
                &updateCtrl::slot_DownloadProcess);
        download->downloadFile(base + QString::fromUtf8(entry.first.c_str()), savePath);
    }
}

void updateCtrl::slot_DownloadProcess(qint64 received, qint64 total)
{
    if (!progress)
        return;
    if (cancelled || !running) {
        progress->hide();
        return;
    }
    progress->show();
    progress->setRange(0, int(qMin<qint64>(total, INT_MAX)));
    progress->setValue(int(qMin<qint64>(received, INT_MAX)));
    progress->repaint();
}

void updateCtrl::downFinish(int code)
{
    Q_UNUSED(code);
    ++finished;
    if (finished < int(pending.size()) || !running || cancelled)
        return;
    if (progress)
        progress->hide();
    running = false;
    report(install() ? 1 : 2);
}

void updateCtrl::downFailed()
{
    if (!running)
        return;
    running = false;
    if (progress)
        progress->hide();
    report(2);
}

void updateCtrl::slot_cancel()
{
    cancelled = true;
    if (progress)
        progress->hide();
    report(3);
}

bool updateCtrl::install()
{
    struct Step {
        QString target, fresh, old;
        bool hadOld = false;
        bool replaced = false;
    };
    std::vector<Step> steps;

    // Stage every file beside its target first, checking what arrived.
    bool ok = true;
    for (const auto &entry : pending) {
        const QString tmp = tmpPathFor(entry.first);
        if (md5OfFile(tmp).compare(QString::fromStdString(entry.second), Qt::CaseInsensitive) != 0) {
            qWarning() << "downloaded file does not match its checksum:" << tmp;
            ok = false;
            break;
        }
        Step step;
        step.target = QString::fromStdString(entry.first);
        step.fresh = step.target + QStringLiteral(".tavi_new");
        step.old = step.target + QStringLiteral(".tavi_old");
        const QString dir = QFileInfo(step.target).path();
        QFile::remove(step.fresh);
        if (!QDir().mkpath(dir) || !QFile::copy(tmp, step.fresh)) {
            qWarning() << "cannot stage" << step.target;
            ok = false;
            break;
        }
        steps.push_back(step);
    }

    // Then swap them in; any failure puts back what was replaced.
    if (ok) {
        for (Step &step : steps) {
            QFileInfo info(step.target);
            if (info.isDir()) {
                qWarning() << "cannot replace a folder:" << step.target;
                ok = false;
                break;
            }
            if (info.exists() || info.isSymLink()) {
                QFile::remove(step.old);
                if (!QFile::rename(step.target, step.old)) {
                    qWarning() << "cannot replace" << step.target;
                    ok = false;
                    break;
                }
                step.hadOld = true;
            }
            if (!QFile::rename(step.fresh, step.target)) {
                qWarning() << "cannot install" << step.target;
                if (step.hadOld)
                    QFile::rename(step.old, step.target);
                step.hadOld = false;
                ok = false;
                break;
            }
            step.replaced = true;
        }
    }

    for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
        if (!ok && it->replaced) {
            QFile::remove(it->target);
            if (it->hadOld)
                QFile::rename(it->old, it->target);
        } else if (it->hadOld) {
            QFile::remove(it->old);
        }
        QFile::remove(it->fresh);
    }
    if (ok)
        QDir(QString::fromLatin1(kTmpDir)).removeRecursively();
    return ok;
}
