#include "updates.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <httplib.h>
#include <iostream>

DemoUpdates::DemoUpdates(const QString &installedVersion, const QString &secretKey)
    : m_version(installedVersion + QStringLiteral(".1"))
{
    m_files["doc/更新 说明.txt"] = QStringLiteral("演示学校 %1 版更新说明\n\n"
                                                  "这个文件由演示学校的更新列表送来，说明客户端的在线更新可以使用。\n")
                                       .arg(m_version)
                                       .toUtf8();
    m_list = makeList();
    if (!secretKey.isEmpty())
        m_signature = sign(m_list, secretKey);
}

QByteArray DemoUpdates::makeList() const
{
    QByteArray xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<update>\n  <taviversion ver=\"" + m_version.toUtf8() + "\"/>\n";
    for (const auto &file : m_files) {
        const QByteArray md5 = QCryptographicHash::hash(file.second, QCryptographicHash::Md5).toHex().toUpper();
        const QByteArray sha256 = QCryptographicHash::hash(file.second, QCryptographicHash::Sha256).toHex();
        xml += "  <file ver=\"" + md5 + "\" sha256=\"" + sha256 + "\" size=\"" +
            QByteArray::number(file.second.size()) + "\" path=\"" + QByteArray::fromStdString(file.first) + "\"/>\n";
    }
    return xml + "</update>\n";
}

QByteArray DemoUpdates::sign(const QByteArray &list, const QString &secretKey)
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("list.xml")));
    if (!dir.isValid() || !file.open(QIODevice::WriteOnly) || file.write(list) != list.size())
        return QByteArray();
    file.close();
    QProcess minisign;
    minisign.setProcessChannelMode(QProcess::ForwardedChannels);
    minisign.start(QStringLiteral("minisign"),
                   {QStringLiteral("-S"), QStringLiteral("-s"), secretKey, QStringLiteral("-m"), file.fileName(),
                    QStringLiteral("-t"), QStringLiteral("tavi demo school update list")});
    minisign.closeWriteChannel();
    if (!minisign.waitForFinished(30000) || minisign.exitStatus() != QProcess::NormalExit || minisign.exitCode() != 0) {
        std::cerr << "tavi-demo-school: minisign could not sign the update list; it goes unsigned\n";
        return QByteArray();
    }
    QFile signature(file.fileName() + QStringLiteral(".minisig"));
    return signature.open(QIODevice::ReadOnly) ? signature.readAll() : QByteArray();
}

void DemoUpdates::install(httplib::Server &server)
{
    server.Get("/update/list.xml", [this](const httplib::Request &, httplib::Response &res) {
        res.set_content(m_list.constData(), size_t(m_list.size()), "text/xml; charset=utf-8");
    });
    server.Get("/update/list.xml.minisig", [this](const httplib::Request &, httplib::Response &res) {
        if (m_signature.isEmpty()) {
            res.status = 404;
            return;
        }
        res.set_content(m_signature.constData(), size_t(m_signature.size()), "text/plain");
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
