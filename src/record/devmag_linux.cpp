#include "record/devmag.h"

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
}

int devMag::enumerateDevices(std::vector<DeviceEntry> &out, const char *formatName)
{
    out.clear();
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
            DeviceEntry entry;
            entry.displayName = QString::fromUtf8(info->device_name);
            entry.friendlyName =
                info->device_description ? QString::fromUtf8(info->device_description) : entry.displayName;
            out.push_back(entry);
        }
    }
    avdevice_free_list_devices(&list);
    return result;
}
