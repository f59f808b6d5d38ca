#pragma once

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
