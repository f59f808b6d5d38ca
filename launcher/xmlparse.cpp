#include "xmlparse.h"

#include "curlope.h"
#include "iniope.h"
#include "minisign.h"
#include "updatelog.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

namespace {

const QString kKeyFile = QStringLiteral("update.pub");

QString hashOfFile(const QString &path, QCryptographicHash::Algorithm algorithm)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qDebug() << "file open error.";
        return QStringLiteral("empty");
    }
    QCryptographicHash hash(algorithm);
    hash.addData(&file);
    return QString::fromLatin1(hash.result().toHex().toUpper());
}

} // namespace

QString md5OfFile(const QString &path)
{
    return hashOfFile(path, QCryptographicHash::Md5);
}

bool matchesListed(const QString &path, const UpdateFile &file)
{
    if (file.size >= 0 && QFileInfo(path).size() > file.size)
        return false;
    if (!file.sha256.empty())
        return hashOfFile(path, QCryptographicHash::Sha256)
                   .compare(QString::fromStdString(file.sha256), Qt::CaseInsensitive) == 0;
    return md5OfFile(path).compare(QString::fromStdString(file.md5), Qt::CaseInsensitive) == 0;
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
    QElapsedTimer clock;
    clock.start();
    const QString url = InIOpe::listUrl();
    const curlOpe::Result list = curlOpe::fetch(url, curlOpe::kListMaxBytes, curlOpe::kListTimeLimitMs);
    // A dangling link still counts as a key: it can't be read, so nothing
    // is taken.
    const QFileInfo keyInfo(kKeyFile);
    m_keyed = keyInfo.exists() || keyInfo.isSymLink();
    m_refusal.clear();
    if (!m_keyed) {
        updateLog(
            QStringLiteral("warning: no %1 in the installation, so the update list is taken unchecked").arg(kKeyFile));
        parse(list.body);
        return;
    }
    parse(std::string());
    m_listText = list.body;

    QFile keyFile(kKeyFile);
    minisign::PublicKey key;
    QString why;
    if (!keyFile.open(QIODevice::ReadOnly) || !minisign::readPublicKey(keyFile.read(4096), &key, &why)) {
        m_refusal = QStringLiteral("%1 cannot be read as the school's key").arg(kKeyFile);
        return;
    }
    if (!list.ok) {
        m_refusal = QStringLiteral("the update list %1 could not be fetched: %2").arg(url, list.error);
        return;
    }
    const long left = curlOpe::kListTimeLimitMs - long(clock.elapsed());
    const curlOpe::Result signature =
        left > 0 ? curlOpe::fetch(url + QStringLiteral(".minisig"), kSignatureMaxBytes, left) : curlOpe::Result{};
    if (!signature.ok) {
        m_refusal = QStringLiteral("the update list is not signed (%1.minisig: %2)")
                        .arg(url, left > 0 ? signature.error : QStringLiteral("no time left"));
        return;
    }
    const QByteArray text = QByteArray::fromStdString(list.body);
    if (!minisign::verify(text, QByteArray::fromStdString(signature.body), key, &why)) {
        m_refusal = QStringLiteral("the update list's signature is refused: %1").arg(why);
        return;
    }
    parse(list.body);
}

void xmlParse::parse(const std::string &text)
{
    m_downloads.clear();
    m_listText = text;
    UpdateList list = readUpdateList(text);
    m_listFiles = std::move(list.files);
    m_version = std::move(list.version);
}

void xmlParse::computeDownloads()
{
    m_downloads.clear();
    // A missing file reads as "empty", which matches no checksum.
    for (const auto &entry : m_listFiles) {
        const QString path = QString::fromStdString(entry.first);
        const UpdateFile &file = entry.second;
        const bool current =
            file.sha256.empty() ? md5OfFile(path).toStdString() == file.md5 : matchesListed(path, file);
        if (!current)
            m_downloads[entry.first] = file;
    }
}
