#pragma once

#include <QObject>
#include <QString>

// Takes the update's outcome, tells the user, and starts the main library.
class winStart : public QObject
{
    Q_OBJECT
public:
    explicit winStart(QObject *parent = nullptr);

    // File name that QLibrary resolves for "./taviMainLib" on this platform.
    static QString libraryFileName();
    // Status the launcher should end with: 0 while all is well, non-zero once
    // the main library could not be started.
    int failure() const { return m_failure; }

public slots:
    void slot_startMain(int code);

private:
    void fail(const QString &message);
    int m_failure = 0;
};

// The launcher's work once the application object exists, as main does it:
// the update (its outcome may arrive before the event loop runs), then the
// library, then the event loop; the loop's exit status.
int launcherMain();
