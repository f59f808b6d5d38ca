#pragma once

#include <QByteArray>
#include <QString>

#include <map>
#include <string>

namespace httplib {
class Server;
}

// The demo school's update list: "/update/list.xml" names one release and
// its files, each served below "/update/". The release is the project's
// version with ".1" added, so a fresh installation takes it at its first
// start; its one file has a folder, a space and Chinese in its name. With
// a secret key (minisign, without password) the list is signed at start
// with the minisign command line and the signature served at
// "/update/list.xml.minisig"; without one the list is unsigned.
class DemoUpdates
{
public:
    DemoUpdates(const QString &installedVersion, const QString &secretKey);

    void install(httplib::Server &server);

    QString version() const { return m_version; }
    // Update path ("/" separators) -> content.
    const std::map<std::string, QByteArray> &files() const { return m_files; }
    QByteArray listXml() const { return m_list; }
    QByteArray signature() const { return m_signature; }

private:
    QByteArray makeList() const;
    static QByteArray sign(const QByteArray &list, const QString &secretKey);

    QString m_version;
    std::map<std::string, QByteArray> m_files;
    QByteArray m_list;
    QByteArray m_signature;
};
