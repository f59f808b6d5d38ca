#include "updatectrl.h"

#include "downloadmanager.h"
#include "iniope.h"
#include "updatelog.h"
#include "userfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProgressDialog>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <vector>

const char *const updateCtrl::kUpdateLockFile = ".tavi-update";

namespace {

// The mode an installed file gets: a file it replaces keeps its mode (for
// a link into the system's installation, that of the file it points to),
// a new one is 0644; exec="1" makes either runnable.
mode_t installMode(const QString &target, const UpdateFile &file)
{
    struct stat st;
    mode_t mode = 0644;
    if (::stat(QFile::encodeName(target).constData(), &st) == 0 && S_ISREG(st.st_mode))
        mode = st.st_mode & 0777;
    if (file.exec)
        mode |= (mode & 0444) >> 2;
    return mode;
}

} // namespace

updateCtrl::updateCtrl(QObject *parent) : QObject(parent), list(xmlParse::instance()) {}

updateCtrl::~updateCtrl()
{
    stopDownloads();
    delete progress;
}

QString updateCtrl::stagedPath(const std::string &path) const
{
    // The whole relative path, so equal file names in different folders
    // never share a temporary file.
    return runDir + QLatin1Char('/') + QString::fromStdString(path);
}

void updateCtrl::report(int code)
{
    if (reported)
        return;
    reported = true;
    emit s_mainSatart(code);
    updateLock.unlock();
}

void updateCtrl::refuse(const QString &why)
{
    updateLog(QStringLiteral("update refused, nothing installed: %1").arg(why));
    running = false;
    report(4);
}

void updateCtrl::start()
{
    if (!list->refusal().isEmpty()) {
        refuse(list->refusal());
        return;
    }
    const QString version = QString::fromStdString(list->version());
    const QString installed = InIOpe::installedVersion();
    if (version == installed) {
        report(3);
        return;
    }
    if (list->keyed() && UserFolder::compareVersions(version, installed) < 0) {
        refuse(QStringLiteral("the list's version \"%1\" is older than the installed \"%2\"").arg(version, installed));
        return;
    }
    // A list that names a file an update may not write is refused whole.
    for (const auto &entry : list->listFiles()) {
        const QString path = QString::fromStdString(entry.first);
        const QString problem = installPathProblem(path);
        if (!problem.isEmpty()) {
            refuse(QStringLiteral("the list names \"%1\": %2").arg(path, problem));
            return;
        }
    }
    // One update at a time in a folder: a second start (a double click)
    // runs what is installed, waiting only while files are being swapped.
    if (!updateLock.lock(QString::fromLatin1(kUpdateLockFile), FileLock::Exclusive, false)) {
        const QString why = errno == EWOULDBLOCK
            ? QStringLiteral("another start is updating this installation")
            : QStringLiteral("cannot lock %1: %2")
                  .arg(QLatin1String(kUpdateLockFile), QString::fromLocal8Bit(std::strerror(errno)));
        FileLock swapping;
        swapping.lock(QString::fromLatin1(UserFolder::kLockFile), FileLock::Shared, true);
        refuse(why);
        return;
    }
    list->computeDownloads();
    pending = list->downloads();
    if (pending.empty()) {
        report(3);
        return;
    }
    if (!makeRunDir()) {
        running = false;
        report(2);
        return;
    }

    progress = new QProgressDialog;
    progress->setMinimum(0);
    progress->setCancelButtonText(tr("取消"));
    progress->setMinimumSize(600, 55);
    progress->setLabelText(tr("程序升级中......"));
    // One file reaching its end must not close the dialog while others run.
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    connect(progress, &QProgressDialog::canceled, this, &updateCtrl::slot_cancel);

    next = pending.begin();
    startNext();
}

bool updateCtrl::makeRunDir()
{
    // Left-overs of runs that ended without tidying up; no other run is
    // going on while we hold the update lock.
    const QString downloads = QString::fromLatin1(kDownloadDir);
    QDir(downloads).removeRecursively();
    if (::mkdir(kDownloadDir, 0700) != 0 && errno != EEXIST) {
        updateLog(QStringLiteral("cannot make %1: %2").arg(downloads, QString::fromLocal8Bit(std::strerror(errno))));
        return false;
    }
    QByteArray pattern = QByteArray(kDownloadDir) + "/run-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        updateLog(QStringLiteral("cannot make a download folder in %1").arg(downloads));
        return false;
    }
    runDir = QFile::decodeName(pattern);
    return true;
}

void updateCtrl::removeRunDir()
{
    if (runDir.isEmpty())
        return;
    QDir(runDir).removeRecursively();
    QDir().rmdir(QString::fromLatin1(kDownloadDir)); // when no other run left anything
    runDir.clear();
}

void updateCtrl::startNext()
{
    const QString base = InIOpe::listBase();
    while (running && !cancelled && active < kMaxDownloads && next != pending.end()) {
        const auto entry = *next++;
        const QString savePath = stagedPath(entry.first);
        QDir().mkpath(QFileInfo(savePath).path());
        auto *download = new DownLoadManager;
        transfers.emplace_back(download);
        ++active;
        connect(download, &DownLoadManager::signalDownloadError, this, &updateCtrl::downFailed);
        connect(download, &DownLoadManager::signalReplyFinished, this, &updateCtrl::downFinish);
        connect(download, &DownLoadManager::signalDownloadProcess, this, &updateCtrl::slot_DownloadProcess);
        download->downloadFile(base + QString::fromUtf8(entry.first.c_str()), savePath,
                               entry.second.size >= 0 ? entry.second.size : DownLoadManager::kDefaultMaxBytes);
    }
}

void updateCtrl::stopDownloads()
{
    for (const QPointer<DownLoadManager> &transfer : transfers) {
        if (transfer) {
            transfer->disconnect(this);
            transfer->abort();
            transfer->deleteLater();
        }
    }
    transfers.clear();
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
    if (auto *done = qobject_cast<DownLoadManager *>(sender()))
        done->deleteLater();
    ++finished;
    if (!running || cancelled)
        return;
    --active;
    if (finished < int(pending.size())) {
        startNext();
        return;
    }
    if (progress)
        progress->hide();
    running = false;
    const bool installed = install();
    removeRunDir();
    report(installed ? 1 : 2);
}

void updateCtrl::downFailed()
{
    if (!running)
        return;
    if (auto *failed = qobject_cast<DownLoadManager *>(sender()))
        updateLog(QStringLiteral("update failed, nothing installed: %1").arg(failed->error()));
    running = false;
    stopDownloads();
    if (progress)
        progress->hide();
    removeRunDir();
    report(2);
}

void updateCtrl::slot_cancel()
{
    if (reported)
        return;
    cancelled = true;
    stopDownloads();
    if (progress)
        progress->hide();
    removeRunDir();
    updateLog(QStringLiteral("update cancelled by the user"));
    report(3);
}

namespace {
// One file of an update on its way in: staged as fresh, the one it replaces
// kept as old until every file is in.
struct SwapStep
{
    QString target, fresh, old;
    const UpdateFile *file = nullptr;
    bool hadOld = false;
    bool replaced = false;
};

bool swapFailed(const char *what, const QString &target)
{
    updateLog(QStringLiteral("update failed, nothing installed: %1").arg(QString::fromLatin1(what).arg(target)));
    return false;
}

// Swaps the staged files in, each checked once more right before.
bool swapIn(std::vector<SwapStep> &steps)
{
    for (SwapStep &step : steps) {
        QFileInfo info(step.target);
        if (!matchesListed(step.fresh, *step.file))
            return swapFailed("the staged \"%1\" changed", step.target);
        if (info.isDir())
            return swapFailed("\"%1\" is a folder", step.target);
        if (info.exists() || info.isSymLink()) {
            QFile::remove(step.old);
            if (!QFile::rename(step.target, step.old))
                return swapFailed("cannot replace \"%1\"", step.target);
            step.hadOld = true;
        }
        if (!QFile::rename(step.fresh, step.target)) {
            if (step.hadOld)
                QFile::rename(step.old, step.target);
            step.hadOld = false;
            return swapFailed("cannot install \"%1\"", step.target);
        }
        step.replaced = true;
    }
    return true;
}

// Removes what the swap left; after a failure puts back what was replaced.
void settle(const std::vector<SwapStep> &steps, bool installed)
{
    for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
        if (!installed && it->replaced) {
            QFile::remove(it->target);
            if (it->hadOld)
                QFile::rename(it->old, it->target);
        } else if (it->hadOld) {
            QFile::remove(it->old);
        }
        QFile::remove(it->fresh);
    }
}
} // namespace

bool updateCtrl::install()
{
    std::vector<SwapStep> steps;
    // Nobody relinks the folder (/usr/bin/tavi) while files are swapped.
    FileLock swapping;
    swapping.lock(QString::fromLatin1(UserFolder::kLockFile), FileLock::Exclusive, true);

    // Stage every file beside its target first, checking what arrived.
    bool ok = true;
    for (const auto &entry : pending) {
        const QString tmp = stagedPath(entry.first);
        SwapStep step;
        step.file = &entry.second;
        step.target = QString::fromStdString(entry.first);
        if (!matchesListed(tmp, entry.second)) {
            ok = swapFailed("\"%1\" does not match its checksum", step.target);
            break;
        }
        step.fresh = step.target + QStringLiteral(".tavi_new");
        step.old = step.target + QStringLiteral(".tavi_old");
        const QString dir = QFileInfo(step.target).path();
        QFile::remove(step.fresh);
        if (!QDir().mkpath(dir) || !QFile::copy(tmp, step.fresh) ||
            ::chmod(QFile::encodeName(step.fresh).constData(), installMode(step.target, entry.second)) != 0) {
            QFile::remove(step.fresh);
            ok = swapFailed("cannot stage \"%1\"", step.target);
            break;
        }
        steps.push_back(step);
    }
    // Then swap them in; any failure puts back what was replaced.
    ok = ok && swapIn(steps);
    settle(steps, ok);
    if (ok)
        updateLog(QStringLiteral("update to \"%1\" installed: %2 files")
                      .arg(QString::fromStdString(list->version()))
                      .arg(steps.size()));
    return ok;
}
