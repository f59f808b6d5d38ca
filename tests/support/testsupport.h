#pragma once

#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>

namespace testsupport {

// A TCP port on 127.0.0.1 that nothing listens on right now.
quint16 freePort();

// Folders handed over by ctest (fall back to the current folder).
QString stageDir();
QString binaryDir();
QString sourceDir();

// Writes a file, making its folder; false when it cannot.
bool writeFile(const QString &path, const QByteArray &data);
// A file's content; empty when it cannot be read.
QByteArray readFile(const QString &path);
// The permission bits (as 0640) of a file or folder, not following a link; -1 when there is none.
int fileMode(const QString &path);
// Where a link points; empty when path is no link.
QString linkOf(const QString &path);
// Every entry under dir, sorted: its path, its link target or content's
// hash, and with owners its owner and mode; to show that nothing changed.
QStringList snapshot(const QString &dir, bool owners = false);

// The body of a GET, waited for (10 s); the HTTP status goes to *status.
QByteArray httpGet(const QString &url, int *status = nullptr);

// Runs a program to its end; false on a start failure, a time-out or a
// non-zero exit. Output goes to *output when given.
bool run(const QString &program, const QStringList &args, int timeoutMs = 60000, QByteArray *output = nullptr);

// Makes a media file with the ffmpeg command line (arguments before the
// output name), e.g. {"-f","lavfi","-i","testsrc2=size=320x240:rate=25"}.
bool makeMedia(const QString &output, const QStringList &inputArgs, int timeoutMs = 120000);

// ffprobe's JSON (-show_format -show_streams) for a file or address.
QJsonObject probe(const QString &input, int timeoutMs = 30000);

// Waits up to timeoutMs for something to accept on the port.
bool waitForPort(const QString &host, quint16 port, int timeoutMs);

// A loopback address 127.x.y.z, picked at random, on which nothing listens
// on port: servers on fixed ports (the chat's 8282) run side by side.
QString freeLoopbackHost(quint16 port = 8282);

// A throw-away certificate authority made with the openssl command line: dir/ca.pem, and certificates it signs.
class ThrowAwayCa
{
public:
    explicit ThrowAwayCa(const QString &dir) : m_dir(dir) {}
    bool make();
    QString caFile() const { return m_dir + QStringLiteral("/ca.pem"); }
    // dir/NAME.pem and dir/NAME.key for a server known by these subject
    // alternative names ("IP:127.0.0.1", "DNS:localhost").
    bool issue(const QString &name, const QStringList &altNames);
    QString certificate(const QString &name) const { return m_dir + '/' + name + QStringLiteral(".pem"); }
    QString key(const QString &name) const { return m_dir + '/' + name + QStringLiteral(".key"); }

private:
    QString m_dir;
};

// Writes ./etc/sysConfigue.ini with these [TaviHttp] keys only. Through QSettings, because QSettings keeps a file it
// read in a cache that it checks by size and time stamp: a file rewritten by hand with the same size within the same
// tick would be read as the old one.
bool writeSysConfig(const QMap<QString, QString> &taviHttp);

} // namespace testsupport
