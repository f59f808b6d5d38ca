#pragma once

// What the players' readers share once their input is open: the read loop
// that fills the queues, seeking, and the end of a run.

struct VideoState;
class InputReconnector;

// Reads packets into the state's queues until quit. Between reads it waits,
// without looking again until something changes, while a queue is at its
// limit, while paused, and after the end of a file (until a seek). A file's
// end goes into the video queue as an end packet.
void readPackets(VideoState *state, InputReconnector &input);

// Carries out the pending seek request: the input moves, the queues are
// flushed and the decoders told.
void seekInput(VideoState *state);

// Ends a run: stops and joins the video thread, lets go of the sound device,
// frees what the run held and marks the reader (and decoder) finished, then
// closes the device and, when the run started it, SDL's audio.
void endPlayback(VideoState *state, bool sdlAudio);
