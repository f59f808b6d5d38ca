#pragma once

namespace tavi {

// Gives the calling thread an alternate signal stack of its own (kept until
// the thread ends), so that the crash handler still runs, and writes its
// dump, after a stack overflow on this thread. Cheap once done; every thread
// the client starts calls it first.
void ensureSignalStack();

} // namespace tavi
