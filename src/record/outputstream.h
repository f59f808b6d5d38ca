#pragma once

#include <cstdint>

struct AVStream;
struct AVCodecContext;
struct AVFrame;
struct AVCodec;
struct SwrContext;

// One output track: its stream, encoder and conversion state.
struct OutputStream
{
    AVStream *stream = nullptr;
    AVCodecContext *encoderContext = nullptr;
    int64_t nextPts = 0; // next frame: frame count (video), sample count (audio)
    int64_t samplesCount = 0; // audio samples handed to the encoder
    AVFrame *frame = nullptr;
    AVFrame *tmpFrame = nullptr;
    const AVCodec *codec = nullptr;
    SwrContext *resampler = nullptr;
};
