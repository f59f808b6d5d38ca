#pragma once

#include <cstdint>

struct SwsContext;

// A picture converter, built again only when what it converts changes.
// FFmpeg's sws_getCachedContext compares its arguments with what its context
// keeps, and the context keeps some formats other than asked: a format whose
// fourth byte is unused (the X11 desktop's, PipeWire's) as the one with
// alpha, full-range YUV as limited. For those it freed and built a whole
// converter for every picture: its tables, its filters, and the heap of the
// capture thread trimmed and grown again 25 times a second.
class PictureConverter
{
public:
    PictureConverter() = default;
    ~PictureConverter() { reset(); }
    PictureConverter(const PictureConverter &) = delete;
    PictureConverter &operator=(const PictureConverter &) = delete;

    // The converter from (width, height, format) to (toWidth, toHeight,
    // toFormat); null when it cannot be had.
    SwsContext *get(int width, int height, int format, int toWidth, int toHeight, int toFormat, int flags);
    void reset();

private:
    SwsContext *m_context = nullptr;
    int m_key[7] = {};
};

// Halves a picture of 32-bit pixels (any channel order) in both directions,
// each pixel the rounded mean of the four it covers: an area filter at
// exactly 2:1, in one pass over the source, where swscale makes several over
// the full-size picture (a 4K desktop published at 1920x1080). source holds
// 2 * width x 2 * height pixels.
void halvePicture32(const uint8_t *source, int sourceStride, uint8_t *target, int targetStride, int width, int height);
