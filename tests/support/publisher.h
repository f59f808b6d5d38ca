#pragma once

#include "peerprocess.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QTest>

namespace testsupport {

// Publishes a test picture (25 a second, a key frame every gop pictures) and a 440 Hz tone, or one of them, in real
// time to an address with the ffmpeg command line until stopped or destroyed. Starting again replaces what ran.
class Publisher
{
public:
    enum Streams {
        PictureAndSound,
        SoundOnly,
        PictureOnly
    };
    ~Publisher() { stop(); }

    bool start(const QString &url, const QString &size = QStringLiteral("320x240"), Streams streams = PictureAndSound,
               int gop = 12)
    {
        stop();
        QString inputs = QStringLiteral("-hide_banner -nostdin -loglevel error -re ");
        QString outputs;
        if (streams != SoundOnly) {
            inputs += QStringLiteral("-f lavfi -i testsrc2=size=%1:rate=25 ").arg(size);
            outputs += QStringLiteral("-c:v libx264 -preset ultrafast -tune zerolatency -g %1 -sc_threshold 0 "
                                      "-pix_fmt yuv420p ")
                           .arg(gop);
        }
        if (streams != PictureOnly) {
            inputs += QStringLiteral("-f lavfi -i sine=frequency=440:sample_rate=44100 ");
            outputs += QStringLiteral("-c:a aac ");
        }
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("ffmpeg"), (inputs + outputs + QStringLiteral("-f flv")).split(' ') << url);
        return m_process.waitForStarted(5000);
    }

    void stop() { m_process.stop(); }

private:
    PeerProcess m_process;
};

// Codec names of the streams of an address, sorted, e.g. {"aac", "h264"}; empty when nothing is published there.
inline QStringList codecs(const QString &url, int timeoutMs = 8000)
{
    QStringList names;
    for (const QJsonValue &stream : probe(url, timeoutMs).value(QStringLiteral("streams")).toArray())
        names << stream.toObject().value(QStringLiteral("codec_name")).toString();
    names.sort();
    return names;
}

// Waits until ffprobe finds these codecs at the address.
inline bool waitForCodecs(const QString &url, QStringList expected, int timeoutMs = 30000)
{
    expected.sort();
    return QTest::qWaitFor([&] { return codecs(url, 6000) == expected; }, timeoutMs);
}

} // namespace testsupport
