#include "hostapp/frame_memory.h"

#include <cstdlib>  // defines __GLIBC__ on the GNU C library

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace vhost {

void KeepFreedFrameMemory() {
#if defined(__GLIBC__)
  // Every block comes from the one heap, whatever its size and whichever thread asks: a
  // supersampled target is far above the largest size below which the library would otherwise
  // keep a block, and a thread's own heap is unmapped as soon as it is wholly free, which between
  // two frames it is. Render threads allocate a few large blocks per frame, so sharing the heap's
  // lock costs nothing measurable.
  mallopt(M_ARENA_MAX, 1);
  mallopt(M_MMAP_MAX, 0);
  mallopt(M_TRIM_THRESHOLD, 512 << 20);
#endif
}

}  // namespace vhost
