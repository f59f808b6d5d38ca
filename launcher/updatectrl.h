#pragma once

#include "xmlparse.h"

#include <QObject>
#include <QPointer>

class QProgressDialog;

// Drives an update: downloads the files that differ into "DownLoadTmp",
// installs them, and reports the outcome once through s_mainSatart:
// 1 installed, 2 failed, 3 nothing to do or cancelled.
class updateCtrl : public QObject
{
    Q_OBJECT
public:
    explicit updateCtrl(QObject *parent = nullptr);
    ~updateCtrl() override;

    void start();

    static const char *const kTmpDir; // "DownLoadTmp"

signals:
    void s_mainSatart(int code);

public slots:
    void downFailed();
    void downFinish(int code);
    void slot_cancel();
    void slot_DownloadProcess(qint64 received, qint64 total);

private:
    void report(int code);
    // Checks the downloaded files and copies them over the installation;
    // on any failure the installation is left as it was.
    bool install();
    static QString tmpPathFor(const std::string &path);

    xmlParse *list;
    int finished = 0;
    bool running = true;
    bool cancelled = false;
    bool reported = false;
    QPointer<QProgressDialog> progress;
    xmlParse::FileMap pending;
};
