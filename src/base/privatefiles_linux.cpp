#include "base/privatefiles.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavi {

namespace {

bool writeAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t done = ::write(fd, data, size_t(size));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        data += done;
        size -= done;
    }
    return true;
}

} // namespace

bool makePrivateDir(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QByteArray native = QFile::encodeName(QDir::cleanPath(path));
    struct stat st;
    if (::lstat(native.constData(), &st) == 0) {
        if (!S_ISDIR(st.st_mode))
            return false; // a link or a file where the folder belongs
        if (st.st_uid == ::geteuid() && (st.st_mode & 07777) != 0700)
            ::chmod(native.constData(), 0700);
        return true;
    }
    const QString parent = QFileInfo(QDir::cleanPath(path)).path();
    if (parent != path && parent != QLatin1String(".") && parent != QLatin1String("/") && !QFileInfo::exists(parent) &&
        !makePrivateDir(parent))
        return false;
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    // mkdir applied the umask, which can only have taken bits away.
    return ::lstat(native.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool preparePrivateFile(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0)
        return false;
    struct stat st;
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (regular && (st.st_mode & 07777) != 0600)
        ::fchmod(fd, 0600);
    ::close(fd);
    return regular;
}

bool writePrivateFile(const QString &path, const QByteArray &data)
{
    QByteArray temporary = QFile::encodeName(path) + ".XXXXXX";
    // mkstemp makes the file 0600.
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool written = writeAll(fd, data.constData(), data.size());
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0) {
        ::unlink(temporary.constData());
        return false;
    }
    return true;
}

} // namespace tavi
