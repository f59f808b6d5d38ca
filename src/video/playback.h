#pragma once

// What the three players' readers share: opening an address (the input, its
// streams, the sound device and the decoders, each failure reported), the
// read loop that fills the queues, seeking, and the end of a run.

#include "video/mediainput.h"

#include <QString>

#include <functional>

struct AVFormatContext;
struct VideoState;
class InputReconnector;
class QObject;

// How a player opens its address.
struct PlayerOpening
{
    enum Pictures {
        NoPictures,
        FirstVideoStream,
        LastVideoStream
    };
    enum Sound {
        NoSound,
        SoundIfAny, // played when the input has it and the player keeps time by it
        SoundOnly // an input without sound is refused
    };
    Pictures pictures;
    Sound sound;
    // Probing of a class stream; a local file gets FFmpeg's own.
    Probe classProbe;
    // Live pictures leave the decoder with their own packet (slice threads).
    bool lowDelayWhenLive;
    // The decoding thread of the pictures and its name.
    int (*videoThread)(void *);
    const char *videoThreadName;
};

// Plays an address for a player, on its reader thread: opens it, reads it
// until quit and ends the run (endPlayback). streamsChosen is called with
// the input once its streams are known, before the decoders open.
void playAddress(VideoState *state, const QString &url, bool classStreamOnly, const PlayerOpening &how, QObject *player,
                 const std::function<void(AVFormatContext *)> &streamsChosen);

// Reads packets into the state's queues until quit. Between reads it waits,
// without looking again until something changes, while a queue is at its
// limit, while paused, and after the end of a file (until a seek). A file's
// end goes into the video queue as an end packet.
void readPackets(VideoState *state, InputReconnector &input);

// Drops what waits in the queues, the sound the device has not been handed
// and a picture waiting for its turn; the decoders start afresh.
void dropQueued(VideoState *state);

// Carries out the pending seek request: the input moves, the queues are
// flushed and the decoders told.
void seekInput(VideoState *state);

// Ends a run: stops and joins the video thread, lets go of the sound device,
// frees what the run held and marks the reader (and decoder) finished, then
// closes the device and, when the run started it, SDL's audio.
void endPlayback(VideoState *state, bool sdlAudio);
