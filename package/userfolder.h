#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

// A user's own installation, made and kept from the read-only system one.
//
// Program files are symbolic links into the system installation, so a newer
// package reaches the user by itself. The launcher replaces a link with a
// file of its own when it installs an update; that file wins until a newer
// system release (by "[VERSION] Version" of qupdater.ini) arrives, which puts
// the links back once. Settings files (qupdater.ini, log.properties, etc/...)
// are copies: the system's new content replaces a copy that the user has not
// changed since it was taken; a changed one is kept. qupdater.ini's Version
// belongs to the user's folder and is left out of that comparison.
//
// "update.pub", the school's key, is always a link to the system's.
//
// ".tavi-system" in the user's folder records what was last taken from the
// system; ".tavi-lock" serialises concurrent starts (and the launcher's
// swapping in of an update's files).
class UserFolder
{
public:
    UserFolder(const QString &systemDir, const QString &userDir);
    ~UserFolder();
    UserFolder(const UserFolder &) = delete;
    UserFolder &operator=(const UserFolder &) = delete;

    // Makes or brings up to date the user's folder; never writes to the
    // system's. An existing folder must be the caller's own, not a symbolic
    // link, and writable by nobody else (checked on the opened folder).
    // False with errorString() when it could not.
    bool update();
    // The user's folder as checked and opened by update(), or -1: the
    // folder to enter (fchdir) so that nothing can put another in its place.
    int folderFd() const { return m_fd; }
    QString errorString() const { return m_error; }

    // Whether the path counts as a settings file (relative, "/" separators).
    static bool isSettingsFile(const QString &relativePath);
    // Orders release versions like dpkg does (without epoch and revision):
    // negative, zero or positive. An empty version is older than any other.
    static int compareVersions(const QString &a, const QString &b);
    // "[VERSION] Version" of a qupdater.ini; empty when missing.
    static QString iniVersion(const QString &iniPath);
    // True when dir, or the closest folder above it that exists, belongs
    // to someone other than the caller and root: another user's folder.
    static bool belongsToAnotherUser(const QString &dir);

    static const char *const kStateFile; // ".tavi-system"
    static const char *const kLockFile; // ".tavi-lock"

private:
    bool openFolder();
    void closeFolder();
    bool sync();
    bool syncProgram(const QString &path, bool reset);
    bool syncSettings(const QString &path, QJsonObject &bases, const QString &version);
    bool link(const QString &path);
    bool copySettings(const QString &from, const QString &path, const QString &version);
    QString settingsSum(const QString &file, const QString &path) const;
    QStringList systemFiles() const;
    bool fail(const QString &message);

    QString m_system;
    QString m_user;
    QString m_error;
    int m_fd = -1;
};
