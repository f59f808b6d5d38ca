#pragma once

// First-in-first-out queue of compressed packets between a player's reader
// and its decoders. Every operation takes the queue's mutex; count and bytes
// are also atomics so the reader can look at its limits without the lock.
// A consumer may wait for the next packet; aborting the queue ends that wait
// at once (a stop), until the queue is initialised for the next run.

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
    // The mutex and the condition live as long as the queue, so that a stop
    // may abort it from any thread at any moment.
    PacketQueue();
    ~PacketQueue();
    PacketQueue(const PacketQueue &) = delete;
    PacketQueue &operator=(const PacketQueue &) = delete;

    PacketNode *first = nullptr;
    PacketNode *last = nullptr;
    std::atomic<int> count{0};
    std::atomic<int> bytes{0};
    bool aborted = false; // under mutex
    SDL_mutex *mutex = nullptr;
    SDL_cond *cond = nullptr;
};

// Empties the queue and makes it take packets again after an abort.
void packetQueueInit(PacketQueue *q);
// Frees every queued packet.
void packetQueueDestroy(PacketQueue *q);
// Takes over the packet's data; the caller's packet is left blank for reuse.
// -1 (the packet left to the caller) when the queue is aborted.
int packetQueuePut(PacketQueue *q, AVPacket *packet);
// 1 with the oldest packet moved into *out (caller unreferences it); 0 when
// empty and not blocking; -1 once the queue is aborted. Blocking waits for a
// packet or the abort.
int packetQueueGet(PacketQueue *q, AVPacket *out, int block);
void packetQueueFlush(PacketQueue *q);
// Ends every wait on the queue and refuses packets until the next init.
void packetQueueAbort(PacketQueue *q);

// A packet whose payload is the text "FLUSH": the decoder that takes it
// resets itself instead of decoding.
int makeFlushPacket(AVPacket *packet);
bool isFlushPacket(const AVPacket *packet);
// A packet without payload that marks the end of the input: the decoder
// that takes it hands out the pictures it still holds.
int makeEndPacket(AVPacket *packet);
bool isEndPacket(const AVPacket *packet);
