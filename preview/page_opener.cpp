#include "preview/page_opener.h"

#include <dlfcn.h>

#include <atomic>
#include <cstring>

namespace vpreview {

namespace {

std::atomic<bool> claimed{false};
thread_local PageCapture* current_capture = nullptr;

// The address of "xdg-open ADDRESS" or "open ADDRESS", when ADDRESS is a plain web address.
std::optional<std::string> PageAddress(const char* command) {
  for (const char* opener : {"xdg-open ", "open "}) {
    const size_t n = std::strlen(opener);
    if (std::strncmp(command, opener, n) != 0) continue;
    std::string address = command + n;
    if (address.rfind("https://", 0) != 0 && address.rfind("http://", 0) != 0) return {};
    // Only what a browser takes as one address: no spaces, quotes or shell characters.
    for (unsigned char ch : address)
      if (ch <= ' ' || ch >= 127 || std::strchr("\"'`\\<>|;&$()", ch)) return {};
    return address;
  }
  return {};
}

}  // namespace

void ClaimPageOpener() {
  claimed.store(true);
}

PageCapture::PageCapture() : outer_(current_capture) {
  current_capture = this;
}

PageCapture::~PageCapture() {
  current_capture = outer_;
}

bool PageCapture::Offer(const char* command) {
  if (!current_capture || !command) return false;
  std::optional<std::string> address = PageAddress(command);
  if (!address) return false;
  current_capture->url_ = std::move(address);
  return true;
}

}  // namespace vpreview

// The C library's system(), in front of it. Exported from the executable (see cli/CMakeLists.txt),
// so a module loaded later binds its calls here.
extern "C" int system(const char* command) {
  if (vpreview::claimed.load()) {
    // system(nullptr) asks whether a shell exists; under preview none is offered.
    if (!command) return 0;
    vpreview::PageCapture::Offer(command);
    return 0;
  }
  using SystemFn = int (*)(const char*);
  static const SystemFn next = reinterpret_cast<SystemFn>(dlsym(RTLD_NEXT, "system"));
  return next ? next(command) : -1;
}
