#include "base/signalstack.h"

#include <csignal>
#include <cstdlib>

namespace tavi {

namespace {

// Frees the stack when its thread ends; a thread whose stack was set up by
// someone else (the sanitizers do so) keeps that one.
struct SignalStack
{
    void *memory = nullptr;
    bool checked = false;

    ~SignalStack()
    {
        if (!memory)
            return;
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        ::sigaltstack(&off, nullptr);
        std::free(memory);
    }
};

thread_local SignalStack threadStack;

} // namespace

void ensureSignalStack()
{
    if (threadStack.checked)
        return;
    threadStack.checked = true;
    stack_t current{};
    if (::sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE))
        return;
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
    threadStack.memory = memory;
}

} // namespace tavi
