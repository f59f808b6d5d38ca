#pragma once

#include "updatelist.h"

#include <QObject>
#include <QString>
#include <map>
#include <string>

// MD5 of a file as 32 upper-case hex digits, or "empty" when it can't be read.
QString md5OfFile(const QString &path);
// Whether the file at path is the listed file: its SHA-256 where the list
// gives one, else its MD5 (either in any case), and not above its size.
bool matchesListed(const QString &path, const UpdateFile &file);

// Reader of the update list. One per process; creating it fetches and parses.
//
// With the school's key ("update.pub" in the working folder) the list is
// read only when its minisign signature (ListURL + ".minisig") is good;
// otherwise it stays empty and refusal() says why. Without the key the list
// is read unchecked, with a warning.
class xmlParse : public QObject
{
    Q_OBJECT
public:
    using FileMap = std::map<std::string, UpdateFile>;

    static xmlParse *instance();

    // Fetches, checks and parses the list again (construction does this once).
    void reload();
    // Parses the given list text instead of fetching it (no check).
    void parse(const std::string &text);

    std::string version() const { return m_version; }
    const std::string &listText() const { return m_listText; }
    // path ("/" separators) -> file, from the list.
    const FileMap &listFiles() const { return m_listFiles; }
    // Whether the installation has a key, so that lists must be signed.
    bool keyed() const { return m_keyed; }
    // Why the fetched list may not be used; empty when it may.
    QString refusal() const { return m_refusal; }

    // Fills the download list: each listed path whose local file is
    // missing or does not match its own checksum (an MD5 compared as the
    // upper-case hex the list should give).
    void computeDownloads();
    FileMap downloads() const { return m_downloads; }

    static constexpr size_t kSignatureMaxBytes = 64 * 1024;

private:
    xmlParse();

    FileMap m_listFiles;
    FileMap m_downloads;
    std::string m_listText;
    std::string m_version;
    bool m_keyed = false;
    QString m_refusal;
};
