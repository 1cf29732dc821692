#include "hostapp/frame_memory.h"

#include <cstdlib>  // defines __GLIBC__ on the GNU C library

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace vhost {

void KeepFreedFrameMemory() {
#if defined(__GLIBC__)
  // Blocks below this size come from the heap; it is the largest value the library accepts, and
  // a 1080p float target fits under it.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 512 << 20);
#endif
}

}  // namespace vhost
