#pragma once

#include <QObject>
#include <QString>
#include <map>
#include <string>

// MD5 of a file as 32 upper-case hex digits, or "empty" when it can't be read.
QString md5OfFile(const QString &path);

// True for a path that stays inside the installation: relative, not empty,
// naming a file, with no ".." part.
bool isSafeInstallPath(const QString &path);

// Reader of the update list. One per process; creating it fetches and parses.
class xmlParse : public QObject
{
    Q_OBJECT
public:
    using FileMap = std::map<std::string, std::string>;

    static xmlParse *instance();

    // Fetches and parses the list again (construction does this once).
    void reload();
    // Parses the given list text instead of fetching it.
    void parse(const std::string &text);

    std::string version() const { return m_version; }
    const std::string &listText() const { return m_listText; }
    // path ("/" separators) -> checksum, from the list; a path listed twice
    // keeps its later checksum.
    const FileMap &listFiles() const { return m_listFiles; }

    // Fills the download list (path -> checksum): each listed path whose
    // local file is missing or does not match its own checksum. Paths that
    // share a checksum are decided each on its own.
    void computeDownloads();
    FileMap downloads() const { return m_downloads; }

private:
    xmlParse();

    FileMap m_listFiles;
    FileMap m_downloads;
    std::string m_listText;
    std::string m_version;
};
