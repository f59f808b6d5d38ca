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
// start; its one file has a folder, a space and Chinese in its name.
class DemoUpdates
{
public:
    explicit DemoUpdates(const QString &installedVersion);

    void install(httplib::Server &server);

    QString version() const { return m_version; }
    // Update path ("/" separators) -> content.
    const std::map<std::string, QByteArray> &files() const { return m_files; }
    QByteArray listXml() const;

private:
    QString m_version;
    std::map<std::string, QByteArray> m_files;
};
