// The allocator settings that let one frame reuse the memory of the last.
#include "hostapp/frame_memory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

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
  // A 1080p float target is a little under 32 MiB; with the library's defaults a block this size
  // is mapped for the call and unmapped on free.
  constexpr size_t kFrame = 1920u * 1080u * 16u;
  // Called through pointers the compiler cannot see through, so the pair is not optimised away.
  void* (*volatile allocate)(size_t) = std::malloc;
  void (*volatile release)(void*) = std::free;
  void* block = allocate(kFrame);
  ASSERT_NE(block, nullptr);
  std::memset(block, 1, kFrame);
  release(block);
  const struct mallinfo2 info = mallinfo2();
  EXPECT_GE(info.fordblks, kFrame) << "the freed block went back to the kernel";
#else
  GTEST_SKIP() << "no allocator settings on this C library";
#endif
}

}  // namespace
