#pragma once

#include <QString>
#include <QtGlobal>
#include <map>
#include <string>

// One <file> of an update list.
struct UpdateFile
{
    std::string md5; // "ver": upper-case hex, as older launchers compare it
    std::string sha256; // "sha256": hex; when given, the checksum that counts
    qint64 size = -1; // "size": bytes at most; -1 when not given
    bool exec = false; // exec="1": a new file is a program

    bool operator==(const UpdateFile &o) const
    {
        return md5 == o.md5 && sha256 == o.sha256 && size == o.size && exec == o.exec;
    }
};

struct UpdateList
{
    std::string version;
    // path ("/" separators) -> file; a path listed twice keeps its later entry.
    std::map<std::string, UpdateFile> files;
};

// Reads an update list: the root's "file"/"FILE" and "taviversion"/
// "TAVIVERSION" children; anything else is skipped. Text that is not XML
// reads as an empty list.
UpdateList readUpdateList(const std::string &text);

// Why an update may not write path (relative, "/" separators): empty when
// it may. Refused are paths that leave the installation and the files that
// decide where updates and sign-ins go or that belong to the launcher and
// the user's folder: qupdater.ini, update.pub, etc/, log/, pic/, the
// download folder and the folder's records (.tavi-*).
QString installPathProblem(const QString &path);

// The folder each start downloads into, one folder of its own per run.
extern const char *const kDownloadDir; // "DownLoadTmp"
