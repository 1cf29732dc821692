// The allocator settings that let one frame reuse the memory of the last.
#include "hostapp/frame_memory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <thread>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

// A sanitizer's allocator replaces the C library's, whose settings and counts then mean nothing.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VARNEX_OWN_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VARNEX_OWN_ALLOCATOR 1
#endif
#endif

namespace {

TEST(FrameMemory, AFreedFrameSizedBlockStaysWithTheProcess) {
#if defined(VARNEX_OWN_ALLOCATOR)
  GTEST_SKIP() << "a sanitizer's allocator is in use";
#elif defined(__GLIBC__)
  vhost::KeepFreedFrameMemory();
  // A 1080p float target is a little under 32 MiB and a 2x one four times that; with the
  // library's defaults a block of either size is mapped for the call and unmapped on free, and a
  // render thread's blocks live in a heap of its own that is unmapped once wholly free.
  constexpr size_t kFrame = 1920u * 1080u * 16u;
  // Called through pointers the compiler cannot see through, so the pair is not optimised away.
  void* (*volatile allocate)(size_t) = std::malloc;
  void (*volatile release)(void*) = std::free;
  auto allocate_and_free = [&](size_t size) {
    void* block = allocate(size);
    ASSERT_NE(block, nullptr);
    std::memset(block, 1, size);
    release(block);
  };
  allocate_and_free(kFrame);
  EXPECT_GE(mallinfo2().fordblks, kFrame) << "the freed block went back to the kernel";
  std::thread([&] { allocate_and_free(4 * kFrame); }).join();
  EXPECT_GE(mallinfo2().fordblks, 4 * kFrame)
      << "a supersampled target freed by a render thread went back to the kernel";
#else
  GTEST_SKIP() << "no allocator settings on this C library";
#endif
}

}  // namespace
