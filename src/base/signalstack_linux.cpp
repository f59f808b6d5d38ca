#include "base/signalstack.h"

#include <csignal>
#include <cstdlib>
#include <pthread.h>

namespace tavi {

namespace {

// Per-thread state in a pthread key rather than a thread_local, which would
// make every program linking this need the dynamic loader's TLS helper.
// The value is the thread's stack, or kForeign for a thread whose stack was
// set up by someone else (the sanitizers do so) and keeps that one.
pthread_key_t stackKey;
pthread_once_t keyOnce = PTHREAD_ONCE_INIT;
char foreign;
void *const kForeign = &foreign;

void freeStack(void *memory)
{
    if (memory == kForeign)
        return;
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    ::sigaltstack(&off, nullptr);
    std::free(memory);
}

void makeKey()
{
    ::pthread_key_create(&stackKey, freeStack);
}

} // namespace

void ensureSignalStack()
{
    ::pthread_once(&keyOnce, makeKey);
    if (::pthread_getspecific(stackKey))
        return;
    stack_t current{};
    if (::sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE)) {
        ::pthread_setspecific(stackKey, kForeign);
        return;
    }
    const size_t size = size_t(SIGSTKSZ) < 65536 ? 65536 : size_t(SIGSTKSZ);
    void *memory = std::malloc(size);
    if (!memory)
        return;
    stack_t stack{};
    stack.ss_sp = memory;
    stack.ss_size = size;
    stack.ss_flags = 0;
    if (::sigaltstack(&stack, nullptr) != 0) {
        std::free(memory);
        return;
    }
    ::pthread_setspecific(stackKey, memory);
}

} // namespace tavi
