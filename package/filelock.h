#pragma once

#include <QString>

// An flock(2) lock on a file, held while the object lives or until
// unlock(); the kernel drops it when the process ends, however it ends.
class FileLock
{
public:
    enum Mode {
        Shared,
        Exclusive
    };

    FileLock() = default;
    ~FileLock() { unlock(); }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    // Opens path (made 0600 when missing; never through a symbolic link)
    // and locks it. With wait, waits for other holders; without, fails at
    // once when the lock is taken. False with errno set when not locked.
    bool lock(const QString &path, Mode mode, bool wait);
    void unlock();
    bool held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};
