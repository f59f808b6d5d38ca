#include "video/packetqueue.h"

#include <SDL2/SDL.h>

#include <cstring>

PacketQueue::PacketQueue() : mutex(SDL_CreateMutex()), cond(SDL_CreateCond()) {}

PacketQueue::~PacketQueue()
{
    packetQueueFlush(this);
    SDL_DestroyCond(cond);
    SDL_DestroyMutex(mutex);
}

void packetQueueInit(PacketQueue *q)
{
    packetQueueFlush(q);
    SDL_LockMutex(q->mutex);
    q->aborted = false;
    SDL_UnlockMutex(q->mutex);
}

void packetQueueDestroy(PacketQueue *q)
{
    packetQueueFlush(q);
}

int packetQueuePut(PacketQueue *q, AVPacket *packet)
{
    if (av_packet_make_refcounted(packet) < 0)
        return -1;
    auto *node = static_cast<PacketNode *>(av_mallocz(sizeof(PacketNode)));
    if (!node)
        return -1;
    av_packet_move_ref(&node->packet, packet);
    node->next = nullptr;
    const int size = node->packet.size;

    SDL_LockMutex(q->mutex);
    if (q->aborted) {
        SDL_UnlockMutex(q->mutex);
        av_packet_move_ref(packet, &node->packet);
        av_free(node);
        return -1;
    }
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
    int result = 0;
    SDL_LockMutex(q->mutex);
    for (;;) {
        if (q->aborted) {
            result = -1;
            break;
        }
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
    SDL_LockMutex(q->mutex);
    PacketNode *node = q->first;
    q->first = q->last = nullptr;
    q->count = 0;
    q->bytes = 0;
    SDL_UnlockMutex(q->mutex);
    while (node) {
        PacketNode *next = node->next;
        av_packet_unref(&node->packet);
        av_free(node);
        node = next;
    }
}

void packetQueueAbort(PacketQueue *q)
{
    SDL_LockMutex(q->mutex);
    q->aborted = true;
    SDL_CondBroadcast(q->cond);
    SDL_UnlockMutex(q->mutex);
}

static const char kFlush[] = "FLUSH";
// Demuxed packets never carry these indexes, so a stream whose payload
// happens to read "FLUSH" cannot reset a decoder.
static const int kFlushStreamIndex = -0x464c5553;
static const int kEndStreamIndex = -0x454e44;

int makeFlushPacket(AVPacket *packet)
{
    av_packet_unref(packet);
    if (av_new_packet(packet, 10) < 0)
        return -1;
    std::memset(packet->data, 0, 10);
    std::memcpy(packet->data, kFlush, sizeof(kFlush));
    packet->stream_index = kFlushStreamIndex;
    return 0;
}

bool isFlushPacket(const AVPacket *packet)
{
    return packet->stream_index == kFlushStreamIndex && packet->data && packet->size >= int(sizeof(kFlush)) &&
        std::memcmp(packet->data, kFlush, sizeof(kFlush)) == 0;
}

int makeEndPacket(AVPacket *packet)
{
    av_packet_unref(packet);
    packet->stream_index = kEndStreamIndex;
    return 0;
}

bool isEndPacket(const AVPacket *packet)
{
    return packet->stream_index == kEndStreamIndex && packet->size == 0;
}
