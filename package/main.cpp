// tavi: the command on the user's PATH. Makes or brings up to date the
// user's own installation under $XDG_DATA_HOME/tavi (~/.local/share/tavi)
// from the system's, then runs the launcher there with that folder as the
// working folder. Arguments go to the launcher unchanged.

#include "userfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace {

// Where the system's installation is: beside this program as installed
// (so an unpacked or relocated tree works too), else where it was built for.
QString systemDir()
{
    const QString beside =
        QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/" TAVI_SYSTEM_FROM_BINDIR));
    if (QFileInfo(beside + QStringLiteral("/tavi")).isExecutable())
        return beside;
    return QStringLiteral(TAVI_SYSTEM_DIR);
}

QString userDir()
{
    // Relative values are to be ignored.
    QString data = QFile::decodeName(qgetenv("XDG_DATA_HOME"));
    if (data.isEmpty() || !QDir::isAbsolutePath(data)) {
        QString home = QFile::decodeName(qgetenv("HOME"));
        if (home.isEmpty()) {
            const passwd *pw = ::getpwuid(::geteuid());
            home = pw ? QFile::decodeName(pw->pw_dir) : QString();
        }
        if (home.isEmpty())
            return QString();
        data = home + QStringLiteral("/.local/share");
    }
    return QDir::cleanPath(data + QStringLiteral("/tavi"));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QString user = userDir();
    if (user.isEmpty()) {
        std::fprintf(stderr, "tavi: no home folder (set HOME or XDG_DATA_HOME)\n");
        return 1;
    }
    // Root started with someone else's HOME would leave root's files there.
    if (UserFolder::belongsToAnotherUser(user)) {
        std::fprintf(stderr, "tavi: %s belongs to another user\n", qPrintable(user));
        return 1;
    }
    UserFolder folder(systemDir(), user);
    if (!folder.update()) {
        std::fprintf(stderr, "tavi: %s\n", qPrintable(folder.errorString()));
        return 1;
    }

    const QByteArray dir = QFile::encodeName(user);
    const QByteArray launcher = QFile::encodeName(user + QStringLiteral("/tavi"));
    // The folder that was checked, whatever its path leads to by now.
    if (::fchdir(folder.folderFd()) != 0) {
        std::fprintf(stderr, "tavi: cannot enter %s: %s\n", dir.constData(), std::strerror(errno));
        return 1;
    }
    std::vector<char *> args;
    args.push_back(const_cast<char *>(launcher.constData()));
    for (int i = 1; i < argc; ++i)
        args.push_back(argv[i]);
    args.push_back(nullptr);
    ::execv("./tavi", args.data());
    std::fprintf(stderr, "tavi: cannot run %s: %s\n", launcher.constData(), std::strerror(errno));
    return 127;
}
