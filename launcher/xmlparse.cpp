#include "xmlparse.h"

#include "curlope.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <tinyxml.h>

QString md5OfFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qDebug() << "file open error.";
        return QStringLiteral("empty");
    }
    QCryptographicHash hash(QCryptographicHash::Md5);
    hash.addData(&file);
    return QString::fromLatin1(hash.result().toHex().toUpper());
}

bool isSafeInstallPath(const QString &path)
{
    if (path.isEmpty() || path.endsWith(QLatin1Char('/')) || QDir::isAbsolutePath(path))
        return false;
    const QStringList parts = path.split(QLatin1Char('/'));
    for (const QString &part : parts) {
        if (part == QLatin1String(".."))
            return false;
    }
    return true;
}

xmlParse *xmlParse::instance()
{
    static xmlParse *single = new xmlParse;
    return single;
}

xmlParse::xmlParse()
{
    reload();
}

void xmlParse::reload()
{
    parse(curlOpe::fetchList());
}

void xmlParse::parse(const std::string &text)
{
    m_listFiles.clear();
    m_downloads.clear();
    m_version.clear();
    m_listText = text;

    TiXmlDocument doc;
    doc.Parse(m_listText.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
    if (doc.Error())
        return;
    const TiXmlElement *root = doc.FirstChildElement();
    if (!root)
        return;
    for (const TiXmlElement *e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
        const std::string name = e->ValueStr();
        const char *ver = e->Attribute("ver");
        if (name == "file" || name == "FILE") {
            const char *path = e->Attribute("path");
            std::string p = path ? path : "";
            for (char &c : p) {
                if (c == '\\')
                    c = '/';
            }
            m_listFiles[p] = ver ? ver : "";
        } else if (name == "taviversion" || name == "TAVIVERSION") {
            m_version = ver ? ver : "";
        }
    }
}

void xmlParse::computeDownloads()
{
    m_downloads.clear();
    // A missing file reads as "empty", which matches no checksum.
    for (const auto &entry : m_listFiles) {
        if (md5OfFile(QString::fromStdString(entry.first)).toStdString() != entry.second)
            m_downloads[entry.first] = entry.second;
    }
}
