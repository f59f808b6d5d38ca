#include "base/allocator.h"

#include <malloc.h>

namespace tavi {

void keepLargeBlocksMapped()
{
    // Setting it also keeps glibc from moving it, and the trim threshold
    // with it.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
}

} // namespace tavi
