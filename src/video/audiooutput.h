#pragma once

// SDL audio output of the players: opening a device that matches the audio
// stream, the device callback, and decoding with resampling into 16-bit
// samples, which keeps the audio clock (the master clock of playback).

#include "video/videostate.h"

#include <SDL2/SDL_stdinc.h>

struct VideoAudioState : VideoState
{};

int audio_stream_component_open(VideoState *state, int streamIndex);
void audioCallback(void *userdata, Uint8 *stream, int len);
int audioDecodeFrame(VideoState *state, double *pts);

// The audio-only player's twins: the callback keeps playing after the end of
// input and marks in decoderFinished that it has stopped.
int audioPlay_stream_component_open(VideoAudioState *state, int streamIndex);
void audioPlayCallback(void *userdata, Uint8 *stream, int len);

// Makes the callback leave the state alone: a running call has returned and
// later calls only play silence. The device itself stays open.
void detachAudioDevice(VideoState *state);
// Closes the state's device, if any. With some sound servers this waits
// for the device thread to wake up, which can take a while.
void closeAudioDevice(VideoState *state);

// SDL's audio subsystem, counted so one player ending does not close the
// devices of another.
bool initSdlAudio();
void quitSdlAudio();

// Scales 16-bit samples to a volume of 0 (silence) to 100 (unchanged),
// along a square curve so that the slider's middle sounds about half as loud.
void applyVolume(Uint8 *samples, int len, int volume);

// Next channel count to try when a device refuses the current one; 0: none.
int channelFallback(int channels);
