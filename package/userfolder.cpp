#include "userfolder.h"

#include "filelock.h"
#include "initext.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const char *const UserFolder::kStateFile = ".tavi-system";
const char *const UserFolder::kLockFile = ".tavi-lock";

namespace {

const QString kUpdaterIni = QStringLiteral("qupdater.ini");
const QString kVersionKey = QStringLiteral("VERSION/Version");
const QString kStaged = QStringLiteral(".tavi_new");
// Linked whatever the user's folder holds: the school's key is never the
// user's own file.
const QString kUpdateKey = QStringLiteral("update.pub");

bool readFile(const QString &path, QByteArray *data)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *data = file.readAll();
    return file.error() == QFile::NoError;
}

QString readLink(const QString &path)
{
    char buffer[4096];
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), buffer, sizeof buffer);
    return n < 0 || n == ssize_t(sizeof buffer) ? QString() : QFile::decodeName(QByteArray(buffer, int(n)));
}

bool exists(const QFileInfo &info)
{
    return info.exists() || info.isSymLink(); // a dangling link is there too
}

// One "lower" value per character, as dpkg orders versions: "~" before
// everything, even the end; letters before other signs.
int order(QChar c)
{
    if (c == QLatin1Char('~'))
        return -1;
    if (c.isDigit())
        return 0;
    if (c.isLetter())
        return c.unicode();
    return c.unicode() + 0x10000;
}

} // namespace

UserFolder::UserFolder(const QString &systemDir, const QString &userDir)
    : m_system(QDir::cleanPath(QDir(systemDir).absolutePath())), m_user(QDir::cleanPath(QDir(userDir).absolutePath()))
{
}

bool UserFolder::isSettingsFile(const QString &relativePath)
{
    return relativePath == kUpdaterIni || relativePath == QLatin1String("log.properties") ||
        relativePath.startsWith(QLatin1String("etc/"));
}

int UserFolder::compareVersions(const QString &a, const QString &b)
{
    if (a.isEmpty() != b.isEmpty())
        return a.isEmpty() ? -1 : 1;
    int i = 0, j = 0;
    while (i < a.size() || j < b.size()) {
        // The text before the next digits, character by character.
        while ((i < a.size() && !a.at(i).isDigit()) || (j < b.size() && !b.at(j).isDigit())) {
            const int x = i < a.size() ? order(a.at(i)) : 0;
            const int y = j < b.size() ? order(b.at(j)) : 0;
            if (x != y)
                return x < y ? -1 : 1;
            ++i;
            ++j;
        }
        // Then the digits as a number, of any length.
        while (i < a.size() && a.at(i) == QLatin1Char('0'))
            ++i;
        while (j < b.size() && b.at(j) == QLatin1Char('0'))
            ++j;
        int first = 0;
        while (i < a.size() && a.at(i).isDigit() && j < b.size() && b.at(j).isDigit()) {
            if (!first)
                first = a.at(i).unicode() - b.at(j).unicode();
            ++i;
            ++j;
        }
        if (i < a.size() && a.at(i).isDigit())
            return 1;
        if (j < b.size() && b.at(j).isDigit())
            return -1;
        if (first)
            return first < 0 ? -1 : 1;
    }
    return 0;
}

QString UserFolder::iniVersion(const QString &iniPath)
{
    QByteArray text;
    if (!readFile(iniPath, &text))
        return QString();
    return IniText::value(text, QStringLiteral("VERSION"), QStringLiteral("Version"));
}

bool UserFolder::belongsToAnotherUser(const QString &dir)
{
    QString path = QDir::cleanPath(QDir(dir).absolutePath());
    struct stat st;
    while (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        if (path == QLatin1String("/"))
            return false;
        path = QFileInfo(path).path();
    }
    return st.st_uid != ::geteuid() && st.st_uid != 0;
}

bool UserFolder::fail(const QString &message)
{
    m_error = message;
    return false;
}

bool UserFolder::update()
{
    m_error.clear();
    if (!QFileInfo(m_system + QStringLiteral("/tavi")).isFile())
        return fail(QStringLiteral("no installation in %1").arg(m_system));
    if (!QDir().mkpath(QFileInfo(m_user).path()))
        return fail(QStringLiteral("cannot make %1").arg(QFileInfo(m_user).path()));
    // Private: it holds the user's sign-in pictures, logs and recordings.
    if (::mkdir(QFile::encodeName(m_user).constData(), 0700) != 0 && errno != EEXIST)
        return fail(QStringLiteral("cannot make %1: %2").arg(m_user, QString::fromLocal8Bit(std::strerror(errno))));
    if (!openFolder())
        return false;
    // From here on the folder is reached through the descriptor, so a path
    // replaced after the check leads nowhere else.
    const QString path = m_user;
    m_user = QStringLiteral("/proc/self/fd/%1").arg(m_fd);
    if (!QFileInfo(m_user).isDir())
        m_user = path; // no /proc
    FileLock lock;
    bool ok = lock.lock(m_user + QLatin1Char('/') + QLatin1String(kLockFile), FileLock::Exclusive, true);
    if (!ok)
        fail(QStringLiteral("cannot lock %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    else
        ok = sync();
    m_error.replace(m_user, path);
    m_user = path;
    return ok;
}

bool UserFolder::openFolder()
{
    closeFolder();
    const QByteArray path = QFile::encodeName(m_user);
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return fail(QStringLiteral("cannot open %1: %2").arg(m_user, QString::fromLocal8Bit(std::strerror(errno))));
    struct stat st;
    if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid()) {
        ::close(fd);
        return fail(QStringLiteral("%1 is not yours").arg(m_user));
    }
    if (st.st_mode & (S_IWGRP | S_IWOTH)) {
        ::close(fd);
        return fail(QStringLiteral("%1 may be written by others").arg(m_user));
    }
    m_fd = fd;
    return true;
}

void UserFolder::closeFolder()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

UserFolder::~UserFolder()
{
    closeFolder();
}

QStringList UserFolder::systemFiles() const
{
    QStringList files;
    QDirIterator it(m_system, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories | QDirIterator::FollowSymlinks);
    while (it.hasNext())
        files << it.next().mid(m_system.size() + 1);
    files.sort();
    return files;
}

bool UserFolder::sync()
{
    const QString statePath = m_user + QLatin1Char('/') + QLatin1String(kStateFile);
    QByteArray stateText;
    QJsonObject state;
    if (readFile(statePath, &stateText))
        state = QJsonDocument::fromJson(stateText).object();

    const QString systemVersion = iniVersion(m_system + QLatin1Char('/') + kUpdaterIni);
    const QString userIni = m_user + QLatin1Char('/') + kUpdaterIni;
    const QString userVersion = exists(QFileInfo(userIni)) ? iniVersion(userIni) : QString();
    // A system release newer than the user's replaces the user's program
    // files once, when it arrives; after that the update list decides again.
    const bool arrived =
        !state.contains(QLatin1String("version")) || state.value(QLatin1String("version")).toString() != systemVersion;
    const bool reset = arrived && compareVersions(systemVersion, userVersion) > 0;
    const QString version = reset ? systemVersion : userVersion;

    QJsonObject bases = state.value(QLatin1String("settings")).toObject();
    QStringList links;
    for (const QString &path : systemFiles()) {
        if (isSettingsFile(path)) {
            if (!syncSettings(path, bases, version))
                return false;
        } else {
            if (!syncProgram(path, reset || path == kUpdateKey))
                return false;
            links << path;
        }
    }

    // Links to files the system no longer has; the user's own files stay.
    const QSet<QString> current(links.begin(), links.end());
    for (const QJsonValue &old : state.value(QLatin1String("links")).toArray()) {
        const QString path = old.toString();
        const QString mine = m_user + QLatin1Char('/') + path;
        if (!path.isEmpty() && !current.contains(path) && QFileInfo(mine).isSymLink() &&
            readLink(mine) == m_system + QLatin1Char('/') + path)
            QFile::remove(mine);
    }

    state = QJsonObject{{QStringLiteral("version"), systemVersion},
                        {QStringLiteral("settings"), bases},
                        {QStringLiteral("links"), QJsonArray::fromStringList(links)}};
    QSaveFile save(statePath);
    if (!save.open(QIODevice::WriteOnly) || save.write(QJsonDocument(state).toJson()) < 0 || !save.commit())
        return fail(QStringLiteral("cannot write %1").arg(statePath));
    return true;
}

bool UserFolder::syncProgram(const QString &path, bool reset)
{
    const QString mine = m_user + QLatin1Char('/') + path;
    const QFileInfo info(mine);
    if (info.isSymLink())
        return readLink(mine) == m_system + QLatin1Char('/') + path || link(path);
    if (info.isDir())
        return true; // the user's own folder of that name: leave it
    if (info.exists() && !reset)
        return true; // installed by the launcher: it wins
    return link(path);
}

bool UserFolder::syncSettings(const QString &path, QJsonObject &bases, const QString &version)
{
    const QString theirs = m_system + QLatin1Char('/') + path;
    const QString mine = m_user + QLatin1Char('/') + path;
    const QString systemSum = settingsSum(theirs, path);
    const QFileInfo info(mine);
    if (systemSum.isNull() || info.isDir())
        return true;
    if (!exists(info)) {
        bases.insert(path, systemSum);
        return copySettings(theirs, path, version);
    }
    const QString userSum = settingsSum(mine, path);
    if (userSum.isNull())
        return true; // unreadable: not ours to replace
    if (userSum == systemSum) {
        bases.insert(path, systemSum);
    } else if (userSum == bases.value(path).toString()) {
        // Unchanged since it was taken: follow the system's new content.
        bases.insert(path, systemSum);
        return copySettings(theirs, path, version);
    }
    if (path == kUpdaterIni && iniVersion(mine) != version)
        return copySettings(mine, path, version);
    return true;
}

QString UserFolder::settingsSum(const QString &file, const QString &path) const
{
    QByteArray data;
    if (!readFile(file, &data))
        return QString();
    // The installed version is the user's folder's own business.
    if (path == kUpdaterIni)
        data = IniText::entries(data, kVersionKey).join(QLatin1Char('\n')).toUtf8();
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex().toUpper());
}

bool UserFolder::link(const QString &path)
{
    const QString mine = m_user + QLatin1Char('/') + path;
    const QString staged = mine + kStaged;
    if (!QDir().mkpath(QFileInfo(mine).path()))
        return fail(QStringLiteral("cannot make %1").arg(QFileInfo(mine).path()));
    QFile::remove(staged);
    if (!QFile::link(m_system + QLatin1Char('/') + path, staged))
        return fail(QStringLiteral("cannot link %1").arg(mine));
    if (::rename(QFile::encodeName(staged).constData(), QFile::encodeName(mine).constData()) != 0) {
        QFile::remove(staged);
        return fail(QStringLiteral("cannot replace %1").arg(mine));
    }
    return true;
}

bool UserFolder::copySettings(const QString &from, const QString &path, const QString &version)
{
    const QString mine = m_user + QLatin1Char('/') + path;
    QByteArray data;
    if (!readFile(from, &data))
        return fail(QStringLiteral("cannot read %1").arg(from));
    if (path == kUpdaterIni && IniText::value(data, QStringLiteral("VERSION"), QStringLiteral("Version")) != version)
        data = IniText::withValue(data, QStringLiteral("VERSION"), QStringLiteral("Version"), version);
    if (!QDir().mkpath(QFileInfo(mine).path()))
        return fail(QStringLiteral("cannot make %1").arg(QFileInfo(mine).path()));
    // Staged beside it and renamed, so no reader ever sees half a file.
    QFile staged(mine + kStaged);
    if (!staged.open(QIODevice::WriteOnly | QIODevice::Truncate) || staged.write(data) != data.size() ||
        !staged.flush()) {
        staged.remove();
        return fail(QStringLiteral("cannot write %1").arg(staged.fileName()));
    }
    staged.close();
    if (::rename(QFile::encodeName(staged.fileName()).constData(), QFile::encodeName(mine).constData()) != 0) {
        staged.remove();
        return fail(QStringLiteral("cannot replace %1").arg(mine));
    }
    return true;
}
