#pragma once

#include <QString>

// What ffprobe finds in a recording, frames counted.
struct RecordProbe
{
    QString formatName;
    QString videoCodec;
    QString audioCodec;
    int videoFrames = 0;
    int audioFrames = 0;
    int sampleRate = 0;
    double videoSeconds() const { return videoFrames / 25.0; }
    double audioSeconds() const { return sampleRate ? audioFrames * 1024.0 / sampleRate : 0; }
};

RecordProbe probeRecording(const QString &input, int timeoutMs = 60000);
