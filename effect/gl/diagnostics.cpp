#include "gl/diagnostics.h"

#include <atomic>
#include <iostream>
#include <streambuf>

namespace {

std::atomic<std::ostream*> diagnostics_to{&std::cout};

// Takes every character and keeps none, leaving its stream good, so that a dropped diagnostic
// leaves no state a later one would trip over.
class DroppingBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char_type*, std::streamsize n) override { return n; }
};

}  // namespace

std::ostream& GLDiagnostics() {
  if (std::ostream* to = diagnostics_to.load(std::memory_order_acquire)) return *to;
  // One per thread: a stream's state is not shared between threads.
  thread_local DroppingBuffer buffer;
  thread_local std::ostream dropped(&buffer);
  return dropped;
}

void SetGLDiagnostics(std::ostream* to) {
  diagnostics_to.store(to, std::memory_order_release);
}
