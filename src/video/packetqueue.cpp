#include "video/packetqueue.h"

#include <SDL2/SDL.h>

#include <cstring>

void packetQueueInit(PacketQueue *q)
{
    q->first = q->last = nullptr;
    q->count = 0;
    q->bytes = 0;
    q->mutex = SDL_CreateMutex();
    q->cond = SDL_CreateCond();
}

void packetQueueDestroy(PacketQueue *q)
{
    if (q->mutex)
        packetQueueFlush(q);
    if (q->cond)
        SDL_DestroyCond(q->cond);
    if (q->mutex)
        SDL_DestroyMutex(q->mutex);
    q->cond = nullptr;
    q->mutex = nullptr;
}

int packetQueuePut(PacketQueue *q, AVPacket *packet)
{
    if (!q->mutex || av_packet_make_refcounted(packet) < 0)
        return -1;
    auto *node = static_cast<PacketNode *>(av_mallocz(sizeof(PacketNode)));
    if (!node)
        return -1;
    av_packet_move_ref(&node->packet, packet);
    node->next = nullptr;
    const int size = node->packet.size;

    SDL_LockMutex(q->mutex);
    if (q->last)
        q->last->next = node;
    else
        q->first = node;
    q->last = node;
    q->count += 1;
    q->bytes += size;
    SDL_CondSignal(q->cond);
    SDL_UnlockMutex(q->mutex);
    return 0;
}

int packetQueueGet(PacketQueue *q, AVPacket *out, int block)
{
    if (!q->mutex)
        return 0;
    int result = 0;
    SDL_LockMutex(q->mutex);
    for (;;) {
        PacketNode *node = q->first;
        if (node) {
            q->first = node->next;
            if (!q->first)
                q->last = nullptr;
            q->count -= 1;
            q->bytes -= node->packet.size;
            av_packet_move_ref(out, &node->packet);
            av_free(node);
            result = 1;
            break;
        }
        if (!block)
            break;
        SDL_CondWait(q->cond, q->mutex);
    }
    SDL_UnlockMutex(q->mutex);
    return result;
}

void packetQueueFlush(PacketQueue *q)
{
    if (!q->mutex)
        return;
    SDL_LockMutex(q->mutex);
    PacketNode *node = q->first;
    while (node) {
        PacketNode *next = node->next;
        av_packet_unref(&node->packet);
        av_free(node);
        node = next;
    }
    q->first = q->last = nullptr;
    q->count = 0;
    q->bytes = 0;
    SDL_UnlockMutex(q->mutex);
}

static const char kFlush[] = "FLUSH";
static const int kFlushStreamIndex = -0x464c5553;

int makeFlushPacket(AVPacket *packet)
{
    av_packet_unref(packet);
    if (av_new_packet(packet, 10) < 0)
        return -1;
    std::memset(packet->data, 0, 10);
    std::memcpy(packet->data, kFlush, sizeof(kFlush));
    // Demuxed packets never carry this index, so a stream whose payload
    // happens to read "FLUSH" cannot reset a decoder.
    packet->stream_index = kFlushStreamIndex;
    return 0;
}

bool isFlushPacket(const AVPacket *packet)
{
    return packet->stream_index == kFlushStreamIndex && packet->data && packet->size >= int(sizeof(kFlush)) &&
        std::memcmp(packet->data, kFlush, sizeof(kFlush)) == 0;
}
