#pragma once

namespace tavi {

// Called first in a program that plays or publishes a class: every block of
// 128 kB or more gets pages of its own, which go back to the system when it
// is freed, for the whole run.
//
// glibc starts so, but raises that threshold to the size of each mapped
// block freed (up to 32 MB), and from then on such blocks come from the heap
// of whichever thread asks, where they stay resident once freed. The
// libraries free such blocks whenever a stream is opened again: the FLV
// reader's 2 MB context at a player's reopen, the H.264 encoder's 66 MB of
// pictures at each publishing run. After that, what they allocate next lands
// in the threads' heaps beside what is still in use there, and resident
// memory grows by megabytes a step while the memory in use stays flat. Our
// own pictures come from pools and never take this path; the libraries'
// blocks we do not allocate.
void keepLargeBlocksMapped();

} // namespace tavi
