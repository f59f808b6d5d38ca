#pragma once

#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

// A minisign key pair made with the minisign command line, which also
// signs: a signer independent of the launcher's checks.
class Signer
{
public:
    bool make()
    {
        return m_dir.isValid() &&
            testsupport::run(QStringLiteral("minisign"), {"-G", "-W", "-p", path("key.pub"), "-s", path("key.sec")},
                             60000, &m_output);
    }
    QByteArray publicKey() const { return testsupport::readFile(path("key.pub")); }
    // The .minisig of text: pre-hashed, or legacy.
    QByteArray sign(const QByteArray &text, bool legacy = false) const
    {
        if (!testsupport::writeFile(path("list.xml"), text))
            return QByteArray();
        QFile::remove(path("list.xml.minisig"));
        QStringList args{"-S", "-s", path("key.sec"), "-m", path("list.xml"), "-t", "tavi test list"};
        if (legacy)
            args << "-l";
        QByteArray output;
        return testsupport::run(QStringLiteral("minisign"), args, 60000, &output)
            ? testsupport::readFile(path("list.xml.minisig"))
            : QByteArray();
    }

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;
    QByteArray m_output;
};
