#include "testsupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <sys/stat.h>

namespace testsupport {

quint16 freePort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    return server.serverPort();
}

static QString envDir(const char *name)
{
    const QByteArray value = qgetenv(name);
    return value.isEmpty() ? QStringLiteral(".") : QString::fromLocal8Bit(value);
}

QString stageDir()
{
    return envDir("TAVI_STAGE_DIR");
}
QString binaryDir()
{
    return envDir("TAVI_BINARY_DIR");
}
QString sourceDir()
{
    return envDir("TAVI_SOURCE_DIR");
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

bool ThrowAwayCa::make()
{
    QDir().mkpath(m_dir);
    QByteArray quiet;
    return run(QStringLiteral("openssl"),
               {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=tavi test CA", "-keyout",
                m_dir + "/ca.key", "-out", caFile()},
               60000, &quiet);
}

bool ThrowAwayCa::issue(const QString &name, const QStringList &altNames)
{
    const QString request = m_dir + QLatin1Char('/') + name + QStringLiteral(".csr");
    const QString extensions = m_dir + QLatin1Char('/') + name + QStringLiteral(".ext");
    if (!writeFile(extensions, "subjectAltName=" + altNames.join(QLatin1Char(',')).toUtf8() + "\n"))
        return false;
    QByteArray quiet;
    return run(QStringLiteral("openssl"),
               {"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=" + name, "-keyout", key(name), "-out", request},
               60000, &quiet) &&
        run(QStringLiteral("openssl"),
            {"x509", "-req", "-in", request, "-CA", caFile(), "-CAkey", m_dir + "/ca.key", "-CAcreateserial", "-days",
             "2", "-extfile", extensions, "-out", certificate(name)},
            60000, &quiet);
}

int fileMode(const QString &path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}

QString linkOf(const QString &path)
{
    return QFileInfo(path).isSymLink() ? QFile::symLinkTarget(path) : QString();
}

QStringList snapshot(const QString &dir, bool owners)
{
    QStringList all;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info(path);
        QString entry = path.mid(dir.size()) +
            (info.isSymLink()   ? " -> " + linkOf(path)
                 : info.isDir() ? QStringLiteral("/")
                                : " " + QCryptographicHash::hash(readFile(path), QCryptographicHash::Md5).toHex());
        if (owners)
            entry += QStringLiteral(" %1 %2").arg(info.ownerId()).arg(fileMode(path), 0, 8);
        all << entry;
    }
    all.sort();
    return all;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray httpGet(const QString &url, int *status)
{
    QNetworkAccessManager manager;
    QScopedPointer<QNetworkReply> reply(manager.get(QNetworkRequest(QUrl(url))));
    QSignalSpy(reply.data(), &QNetworkReply::finished).wait(10000);
    if (status)
        *status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return reply->readAll();
}

bool run(const QString &program, const QStringList &args, int timeoutMs, QByteArray *output)
{
    QProcess process;
    process.setProcessChannelMode(output ? QProcess::SeparateChannels : QProcess::ForwardedErrorChannel);
    process.start(program, args);
    if (!process.waitForStarted(10000))
        return false;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        return false;
    }
    if (output)
        *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool makeMedia(const QString &output, const QStringList &inputArgs, int timeoutMs)
{
    QStringList args{QStringLiteral("-y"), QStringLiteral("-loglevel"), QStringLiteral("error")};
    args << inputArgs << output;
    return run(QStringLiteral("ffmpeg"), args, timeoutMs);
}

QJsonObject probe(const QString &input, int timeoutMs)
{
    QByteArray out;
    if (!run(QStringLiteral("ffprobe"),
             {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-print_format"), QStringLiteral("json"),
              QStringLiteral("-show_format"), QStringLiteral("-show_streams"), input},
             timeoutMs, &out))
        return {};
    return QJsonDocument::fromJson(out).object();
}

bool waitForPort(const QString &host, quint16 port, int timeoutMs)
{
    return QTest::qWaitFor(
        [&] {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress(host), port);
            return socket.waitForConnected(200);
        },
        timeoutMs);
}

QString freeLoopbackHost(quint16 port)
{
    // Linux routes all of 127.0.0.0/8 to the loopback device.
    for (int attempt = 0; attempt < 50; ++attempt) {
        const quint32 n = QRandomGenerator::global()->bounded(2u, 0xfffffeu);
        const QHostAddress address(quint32(0x7f000000u | n));
        QTcpServer probe;
        if (probe.listen(address, port))
            return address.toString();
    }
    return QString();
}

bool writeSysConfig(const QMap<QString, QString> &taviHttp)
{
    QDir().mkpath(QStringLiteral("etc"));
    QSettings ini(QStringLiteral("etc/sysConfigue.ini"), QSettings::IniFormat);
    ini.clear();
    for (auto it = taviHttp.cbegin(); it != taviHttp.cend(); ++it)
        ini.setValue(QStringLiteral("TaviHttp/") + it.key(), it.value());
    ini.sync();
    return ini.status() == QSettings::NoError;
}

} // namespace testsupport
