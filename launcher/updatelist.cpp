#include "updatelist.h"

#include <QDir>
#include <QStringList>
#include <cstdlib>
#include <tinyxml.h>

const char *const kDownloadDir = "DownLoadTmp";

namespace {

std::string attribute(const TiXmlElement *e, const char *name)
{
    const char *value = e->Attribute(name);
    return value ? value : "";
}

// A size in bytes, or -1 when the text is not a plain decimal number.
qint64 readSize(const std::string &text)
{
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    return qint64(std::strtoll(text.c_str(), nullptr, 10));
}

} // namespace

UpdateList readUpdateList(const std::string &text)
{
    UpdateList list;
    TiXmlDocument doc;
    doc.Parse(text.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
    if (doc.Error())
        return list;
    const TiXmlElement *root = doc.FirstChildElement();
    if (!root)
        return list;
    for (const TiXmlElement *e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
        const std::string &name = e->ValueStr();
        if (name == "file" || name == "FILE") {
            std::string path = attribute(e, "path");
            for (char &c : path) {
                if (c == '\\')
                    c = '/';
            }
            UpdateFile file;
            file.md5 = attribute(e, "ver");
            file.sha256 = attribute(e, "sha256");
            file.size = readSize(attribute(e, "size"));
            file.exec = attribute(e, "exec") == "1";
            list.files[path] = file;
        } else if (name == "taviversion" || name == "TAVIVERSION") {
            list.version = attribute(e, "ver");
        }
    }
    return list;
}

QString installPathProblem(const QString &path)
{
    if (path.isEmpty() || QDir::isAbsolutePath(path))
        return QStringLiteral("not a relative path");
    const QStringList parts = path.split(QLatin1Char('/'));
    for (const QString &part : parts) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return QStringLiteral("not a plain path inside the installation");
        // The user's folder's records, and the names an install stages under.
        if (part.startsWith(QLatin1String(".tavi-")) || part.endsWith(QLatin1String(".tavi_new")) ||
            part.endsWith(QLatin1String(".tavi_old")))
            return QStringLiteral("one of the launcher's own files");
    }
    const QString top = parts.first();
    if (parts.size() == 1 && (top == QLatin1String("qupdater.ini") || top == QLatin1String("update.pub")))
        return QStringLiteral("the update settings or the update key");
    if (top == QLatin1String("etc"))
        return QStringLiteral("the school's settings");
    if (top == QLatin1String("log") || top == QLatin1String("pic") || top == QLatin1String(kDownloadDir))
        return QStringLiteral("the client's own files");
    return QString();
}
