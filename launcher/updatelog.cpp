#include "updatelog.h"

#include <QDateTime>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

void updateLog(const QString &text)
{
    const QByteArray line = QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8() + " " + text.toUtf8() + "\n";
    std::fprintf(stderr, "tavi update: %s\n", text.toUtf8().constData());
    ::mkdir("log", 0700);
    const int fd = ::open("log/update.log", O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    const ssize_t written = ::write(fd, line.constData(), size_t(line.size()));
    Q_UNUSED(written); // a full disk loses the record, nothing else
    ::close(fd);
}
