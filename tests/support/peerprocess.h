#pragma once

#include <QProcess>
#include <csignal>
#include <sys/prctl.h>

namespace testsupport {

// A server started by a test: killed with the test process, even when the test crashes, so no peer outlives its run.
class PeerProcess : public QProcess
{
public:
    // Asks the peer to end (SIGTERM); kills it when it has not within 5 s.
    void stop()
    {
        if (state() == QProcess::NotRunning)
            return;
        terminate();
        if (!waitForFinished(5000)) {
            kill();
            waitForFinished(5000);
        }
    }

protected:
    void setupChildProcess() override { ::prctl(PR_SET_PDEATHSIG, SIGKILL); }
};

} // namespace testsupport
