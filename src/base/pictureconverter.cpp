#include "base/pictureconverter.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <iterator>

SwsContext *PictureConverter::get(int width, int height, int format, int toWidth, int toHeight, int toFormat, int flags)
{
    const int key[7] = {width, height, format, toWidth, toHeight, toFormat, flags};
    if (m_context && std::equal(std::begin(key), std::end(key), std::begin(m_key)))
        return m_context;
    reset();
    m_context = sws_getContext(width, height, AVPixelFormat(format), toWidth, toHeight, AVPixelFormat(toFormat), flags,
                               nullptr, nullptr, nullptr);
    if (m_context)
        std::copy(std::begin(key), std::end(key), std::begin(m_key));
    return m_context;
}

void PictureConverter::reset()
{
    sws_freeContext(m_context);
    m_context = nullptr;
}
