#pragma once

#include "filelock.h"
#include "xmlparse.h"

#include <QObject>
#include <QPointer>
#include <vector>

class DownLoadManager;
class QProgressDialog;

// Drives an update: downloads the files that differ into a folder of this
// run's own under "DownLoadTmp", at most four at a time, installs them, and
// reports the outcome once through s_mainSatart: 1 installed, 2 failed,
// 3 nothing to do or cancelled, 4 refused (the list is not the school's,
// is older than the installation or names a file an update may not write;
// or another start is updating the same folder): nothing installed, the
// installed version kept, no message.
class updateCtrl : public QObject
{
    Q_OBJECT
public:
    explicit updateCtrl(QObject *parent = nullptr);
    ~updateCtrl() override;

    void start();

    static constexpr int kMaxDownloads = 4;
    // Held by the start that updates the folder.
    static const char *const kUpdateLockFile; // ".tavi-update"

signals:
    void s_mainSatart(int code);

public slots:
    void downFailed();
    void downFinish(int code);
    void slot_cancel();
    void slot_DownloadProcess(qint64 received, qint64 total);

private:
    void report(int code);
    void refuse(const QString &why);
    void startNext();
    void stopDownloads();
    void removeRunDir();
    bool makeRunDir();
    // Checks the downloaded files and puts them over the installation;
    // on any failure the installation is left as it was.
    bool install();
    QString stagedPath(const std::string &path) const;

    xmlParse *list;
    int finished = 0;
    int active = 0; // transfers under way
    bool running = true;
    bool cancelled = false;
    bool reported = false;
    QPointer<QProgressDialog> progress;
    xmlParse::FileMap pending;
    xmlParse::FileMap::const_iterator next;
    std::vector<QPointer<DownLoadManager>> transfers;
    QString runDir;
    FileLock updateLock;
};
