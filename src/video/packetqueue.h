#pragma once

// First-in-first-out queue of compressed packets between a player's reader
// and its decoders. Every operation takes the queue's mutex; count and bytes
// are also atomics so the reader can poll its limits without the lock.

#include <atomic>

extern "C" {
#include <libavcodec/avcodec.h>
}

struct SDL_mutex;
struct SDL_cond;

struct PacketNode
{
    AVPacket packet;
    PacketNode *next;
};

struct PacketQueue
{
    PacketNode *first = nullptr;
    PacketNode *last = nullptr;
    std::atomic<int> count{0};
    std::atomic<int> bytes{0};
    SDL_mutex *mutex = nullptr;
    SDL_cond *cond = nullptr;
};

void packetQueueInit(PacketQueue *q);
// Frees every queued packet and the mutex and condition.
void packetQueueDestroy(PacketQueue *q);
// Takes over the packet's data; the caller's packet is left blank for reuse.
int packetQueuePut(PacketQueue *q, AVPacket *packet);
// 1 with the oldest packet moved into *out (caller unreferences it), 0 when
// empty and not blocking.
int packetQueueGet(PacketQueue *q, AVPacket *out, int block);
void packetQueueFlush(PacketQueue *q);

// A packet whose payload is the text "FLUSH": the decoder that takes it
// resets itself instead of decoding.
int makeFlushPacket(AVPacket *packet);
bool isFlushPacket(const AVPacket *packet);
