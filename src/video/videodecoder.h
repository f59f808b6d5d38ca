#pragma once

// The picture side of the players: decodes the video queue, paces each
// picture against the play clock, converts it to a 32-bit RGB QImage and
// emits it through the owning player's sig_GetOneFrame(QImage). Every image
// carries its presentation time in seconds as the text "pts".

// "video_thread" of VideoPlayer_Thread: paced, drops pictures before a seek
// target, ends at the end of the input once the queue is played out.
int videoDecodeThread(void *state);

// "video_thread_play" of VideoPlayer: emits every picture at once and keeps
// polling until the player quits.
int videoPlayDecodeThread(void *state);
