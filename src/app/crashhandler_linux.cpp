#include "app/crashhandler.h"

#include "base/signalstack.h"

#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

// Everything below the handler's entry runs inside a signal handler: only
// async-signal-safe calls (open, write, read, close, sigaction, raise) and
// formatting by hand into stack buffers.

namespace {

const int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
std::atomic<bool> installed{false};
std::atomic<long> handlingThread{0};

const char *signalName(int sig)
{
    switch (sig) {
    case SIGSEGV:
        return "SIGSEGV";
    case SIGBUS:
        return "SIGBUS";
    case SIGFPE:
        return "SIGFPE";
    case SIGILL:
        return "SIGILL";
    case SIGABRT:
        return "SIGABRT";
    default:
        return "?";
    }
}

void put(int fd, const char *text)
{
    size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t done = ::write(fd, text, left);
        if (done <= 0)
            return;
        text += done;
        left -= size_t(done);
    }
}

void putNumber(int fd, uint64_t value, unsigned base)
{
    char digits[32];
    int n = 0;
    do {
        const unsigned d = unsigned(value % base);
        digits[n++] = char(d < 10 ? '0' + d : 'a' + d - 10);
        value /= base;
    } while (value != 0 && n < int(sizeof digits));
    char text[40];
    int at = 0;
    if (base == 16) {
        text[at++] = '0';
        text[at++] = 'x';
    }
    while (n > 0)
        text[at++] = digits[--n];
    text[at] = '\0';
    put(fd, text);
}

// Copies a /proc file into the dump.
void copyFile(int fd, const char *path)
{
    const int in = ::open(path, O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return;
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(in, buffer, sizeof buffer)) > 0) {
        ssize_t off = 0;
        while (off < got) {
            const ssize_t done = ::write(fd, buffer + off, size_t(got - off));
            if (done <= 0)
                break;
            off += done;
        }
    }
    ::close(in);
}

void writeDump(int sig, siginfo_t *info)
{
    // A new file of the user's alone: an older dump goes first, and whatever
    // stands at the name now (a link planted there, a file of someone
    // else's) is neither followed nor written into.
    ::unlink("core.dmp");
    const int fd = ::open("core.dmp", O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    const long tid = ::syscall(SYS_gettid);
    put(fd, "tavi crash dump\nsignal: ");
    putNumber(fd, uint64_t(sig), 10);
    put(fd, " (");
    put(fd, signalName(sig));
    put(fd, ")\ncode: ");
    putNumber(fd, uint64_t(uint32_t(info ? info->si_code : 0)), 10);
    put(fd, "\naddress: ");
    putNumber(fd, uint64_t(reinterpret_cast<uintptr_t>(info ? info->si_addr : nullptr)), 16);
    put(fd, "\npid: ");
    putNumber(fd, uint64_t(::getpid()), 10);
    put(fd, "\nthread: ");
    putNumber(fd, uint64_t(tid), 10);
    put(fd, " ");
    {
        // /proc/self/task/<tid>/comm: the thread's name
        char path[64] = "/proc/self/task/";
        char number[24];
        int n = 0;
        uint64_t v = uint64_t(tid);
        do {
            number[n++] = char('0' + v % 10);
            v /= 10;
        } while (v != 0);
        size_t at = std::strlen(path);
        while (n > 0)
            path[at++] = number[--n];
        path[at] = '\0';
        std::strcat(path, "/comm");
        copyFile(fd, path);
    }
    put(fd, "backtrace:\n");
    void *frames[128];
    const int count = ::backtrace(frames, 128);
    ::backtrace_symbols_fd(frames, count, fd);
    put(fd, "maps:\n");
    copyFile(fd, "/proc/self/maps");
    ::close(fd);
}

void onFault(int sig, siginfo_t *info, void *)
{
    const long self = ::syscall(SYS_gettid);
    long expected = 0;
    if (handlingThread.compare_exchange_strong(expected, self)) {
        writeDump(sig, info);
    } else if (expected != self) {
        // Another thread is writing the dump and will end the process.
        for (;;)
            ::pause();
    }
    // (A fault inside the dump itself just ends the process.)

    // Default action, unblocked, and the same signal again: the process
    // ends with the signal as its status, and no dialog.
    struct sigaction fallback;
    std::memset(&fallback, 0, sizeof fallback);
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(sig, &fallback, nullptr);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, sig);
    ::sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
    ::raise(sig);
    ::_exit(128 + sig);
}

} // namespace

void CrashHandler::prepareThread()
{
    tavi::ensureSignalStack();
}

void CrashHandler::install()
{
    if (installed.exchange(true))
        return;
    // backtrace() loads its unwinder on first use; do that now, outside any
    // signal handler.
    void *warm[4];
    ::backtrace(warm, 4);
    prepareThread();

    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = onFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int sig : kSignals)
        ::sigaction(sig, &action, nullptr);
}
