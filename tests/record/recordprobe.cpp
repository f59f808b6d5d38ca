#include "recordprobe.h"

#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

RecordProbe probeRecording(const QString &input, int timeoutMs)
{
    RecordProbe result;
    QByteArray out;
    if (!testsupport::run(
            QStringLiteral("ffprobe"),
            {"-v", "error", "-count_frames", "-print_format", "json", "-show_format", "-show_streams", input},
            timeoutMs, &out))
        return result;
    const QJsonObject root = QJsonDocument::fromJson(out).object();
    result.formatName = root.value("format").toObject().value("format_name").toString();
    for (const QJsonValue &value : root.value("streams").toArray()) {
        const QJsonObject stream = value.toObject();
        const int frames = stream.value("nb_read_frames").toString().toInt();
        if (stream.value("codec_type").toString() == "video") {
            result.videoCodec = stream.value("codec_name").toString();
            result.videoFrames = frames;
        } else if (stream.value("codec_type").toString() == "audio") {
            result.audioCodec = stream.value("codec_name").toString();
            result.audioFrames = frames;
            result.sampleRate = stream.value("sample_rate").toString().toInt();
        }
    }
    return result;
}
