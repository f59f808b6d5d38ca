#include "record/devmag.h"

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
}

int devMag::enumerateDevices(std::vector<DeviceEntry> &out, const char *formatName, int *defaultIndex)
{
    out.clear();
    if (defaultIndex)
        *defaultIndex = -1;
    const AVInputFormat *format = av_find_input_format(formatName);
    if (!format)
        return AVERROR_DEMUXER_NOT_FOUND;
    AVDeviceInfoList *list = nullptr;
    const int result = avdevice_list_input_sources(format, nullptr, nullptr, &list);
    if (result >= 0 && list) {
        for (int i = 0; i < list->nb_devices; ++i) {
            const AVDeviceInfo *info = list->devices[i];
            if (!info || !info->device_name || !*info->device_name)
                continue;
            if (defaultIndex && i == list->default_device)
                *defaultIndex = int(out.size());
            DeviceEntry entry;
            entry.displayName = QString::fromUtf8(info->device_name);
            entry.friendlyName = info->device_description && *info->device_description
                ? QString::fromUtf8(info->device_description)
                : entry.displayName;
            // PulseAudio names the monitor of each sink "SINK.monitor".
            entry.monitor = entry.displayName.endsWith(QLatin1String(".monitor"));
            out.push_back(entry);
        }
    }
    avdevice_free_list_devices(&list);
    return result;
}

std::vector<DeviceEntry> devMag::audioSources() const
{
    std::vector<DeviceEntry> found;
    int defaultIndex = -1;
    enumerateDevices(found, m_audioFormatName.toUtf8().constData(), &defaultIndex);
    std::vector<DeviceEntry> sources;
    if (defaultIndex >= 0)
        sources.push_back(found[size_t(defaultIndex)]);
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t i = 0; i < found.size(); ++i) {
            if (int(i) != defaultIndex && found[i].monitor == (pass == 1))
                sources.push_back(found[i]);
        }
    }
    return sources;
}

std::vector<DeviceEntry> devMag::cameras() const
{
    std::vector<DeviceEntry> found;
    enumerateDevices(found, m_videoFormatName.toUtf8().constData());
    return found;
}
