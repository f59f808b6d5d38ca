#pragma once

#include <QProcess>
#include <csignal>
#include <sys/prctl.h>

namespace testsupport {

// A server started by a test: killed with the test process, even when the
// test crashes, so no peer outlives its run.
class PeerProcess : public QProcess
{
protected:
    void setupChildProcess() override { ::prctl(PR_SET_PDEATHSIG, SIGKILL); }
};

} // namespace testsupport
