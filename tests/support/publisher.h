#pragma once

// Peers of a class for the classroom tests: a class published with the
// ffmpeg command line, and what ffprobe sees of a stream.

#include "peerprocess.h"
#include "testsupport.h"

#include "course/courseinfo.h"

#include <QJsonArray>
#include <QProcess>
#include <QTest>

namespace classpeers {

// Publishes a test picture with a tone (or the tone alone) to an address
// until stopped or destroyed.
class Publisher
{
public:
    ~Publisher() { stop(); }

    bool start(const QString &url, const QString &size = QStringLiteral("320x240"), bool audioOnly = false)
    {
        QString args = QStringLiteral("-hide_banner -nostdin -loglevel error -re ");
        if (!audioOnly)
            args += QStringLiteral("-f lavfi -i testsrc2=size=%1:rate=25 ").arg(size);
        args += QStringLiteral("-f lavfi -i sine=frequency=440:sample_rate=44100 ");
        if (!audioOnly)
            args += QStringLiteral("-c:v libx264 -preset ultrafast -tune zerolatency -g 12 -pix_fmt yuv420p ");
        args += QStringLiteral("-c:a aac -f flv");
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("ffmpeg"), args.split(' ') << url);
        return m_process.waitForStarted(5000);
    }

    void stop() { m_process.stop(); }

    bool running() const { return m_process.state() == QProcess::Running; }

private:
    testsupport::PeerProcess m_process;
};

// Codec names of the streams of an address, e.g. {"h264", "aac"}; empty
// when nothing is published there.
inline QStringList codecs(const QString &url, int timeoutMs = 8000)
{
    QStringList names;
    const QJsonArray streams = testsupport::probe(url, timeoutMs).value(QStringLiteral("streams")).toArray();
    for (const QJsonValue &stream : streams)
        names << stream.toObject().value(QStringLiteral("codec_name")).toString();
    names.sort();
    return names;
}

// Waits until ffprobe finds what is expected at the address.
inline bool waitForCodecs(const QString &url, const QStringList &expected, int timeoutMs = 30000)
{
    QStringList wanted = expected;
    wanted.sort();
    return QTest::qWaitFor([&] { return codecs(url, 6000) == wanted; }, timeoutMs);
}

inline CourseInfo course(int listType, const QString &teachingType, const QString &rtmp, const QString &rtmplat,
                         const QString &id = QStringLiteral("101"))
{
    CourseInfo info;
    info.listType = listType;
    info.teaching_type = teachingType;
    info.rtmp = rtmp;
    info.rtmplat = rtmplat;
    info.id = id;
    info.name = QStringLiteral("course ") + id;
    return info;
}

} // namespace classpeers
