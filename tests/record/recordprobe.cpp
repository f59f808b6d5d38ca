#include "recordprobe.h"

#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

RecordProbe probeRecording(const QString &input, int timeoutMs)
{
    RecordProbe result;
    QByteArray out;
    if (!testsupport::run(QStringLiteral("ffprobe"),
                          {"-v", "error", "-count_frames", "-print_format", "json", "-show_format",
                           "-show_streams", input},
                          timeoutMs, &out))
        return result;
    const QJsonObject root = QJsonDocument::fromJson(out).object();
    result.formatName = root.value("format").toObject().value("format_name").toString();
    for (const QJsonValue &value : root.value("streams").toArray()) {
        const QJsonObject stream = value.toObject();
        const QString type = stream.value("codec_type").toString();
        if (type == "video") {
            result.videoCodec = stream.value("codec_name").toString();
            result.videoFrames = stream.value("nb_read_frames").toString().toInt();
            result.width = stream.value("width").toInt();
            result.height = stream.value("height").toInt();
        } else if (type == "audio") {
            result.audioCodec = stream.value("codec_name").toString();
            result.audioFrames = stream.value("nb_read_frames").toString().toInt();
            result.sampleRate = stream.value("sample_rate").toString().toInt();
        }
    }
    result.ok = !result.formatName.isEmpty();
    return result;
}

bool pullStream(const QString &url, const QString &output, double seconds)
{
    return testsupport::run(QStringLiteral("ffmpeg"),
                            {"-y", "-v", "error", "-rw_timeout", "8000000", "-i", url, "-t",
                             QString::number(seconds), "-c", "copy", "-f", "flv", output},
                            int(seconds * 1000) + 20000);
}
