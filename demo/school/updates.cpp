#include "updates.h"

#include <QCryptographicHash>

#include <httplib.h>

DemoUpdates::DemoUpdates(const QString &installedVersion) : m_version(installedVersion + QStringLiteral(".1"))
{
    m_files["doc/更新 说明.txt"] =
        QStringLiteral("演示学校 %1 版更新说明\n\n"
                       "这个文件由演示学校的更新列表送来，说明客户端的在线更新可以使用。\n")
            .arg(m_version)
            .toUtf8();
}

QByteArray DemoUpdates::listXml() const
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<update>\n  <taviversion ver=\""
                     + m_version.toUtf8() + "\"/>\n";
    for (const auto &file : m_files) {
        const QByteArray sum = QCryptographicHash::hash(file.second, QCryptographicHash::Md5).toHex().toUpper();
        xml += "  <file ver=\"" + sum + "\" path=\"" + QByteArray::fromStdString(file.first) + "\"/>\n";
    }
    return xml + "</update>\n";
}

void DemoUpdates::install(httplib::Server &server)
{
    server.Get("/update/list.xml", [this](const httplib::Request &, httplib::Response &res) {
        res.set_content(listXml().toStdString(), "text/xml; charset=utf-8");
    });
    server.Get(R"(/update/(.+))", [this](const httplib::Request &req, httplib::Response &res) {
        const auto it = m_files.find(req.matches[1].str());
        if (it == m_files.end()) {
            res.status = 404;
            return;
        }
        res.set_content(it->second.constData(), size_t(it->second.size()), "application/octet-stream");
    });
}
