// What both fuzzers share: a scratch folder for the files the command's readers need, and the
// plug-in started once in our host, as the command starts it.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "pipeline/host_session.h"

namespace fuzz {

// A folder of this process's own, removed at exit. Its name lives in static storage, which
// outlives the exit handlers.
inline const char* ScratchDir() {
  static char name[] = "/tmp/varnex-fuzz-XXXXXX";
  static const bool made = [] {
    if (!mkdtemp(name)) std::abort();
    std::atexit([] {
      static char command[64];
      std::snprintf(command, sizeof command, "rm -rf '%s'", name);
      if (std::system(command) != 0) std::fputs("cannot remove the scratch folder\n", stderr);
    });
    return true;
  }();
  (void)made;
  return name;
}

inline std::string WriteScratch(const std::string& name, const uint8_t* data, size_t size) {
  const std::string path = std::string(ScratchDir()) + "/" + name;
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return path;
}

// The plug-in with global setup run and its controls declared; its GL diagnostics are dropped.
inline vpipe::Session& TheSession() {
  static vpipe::Session session = [] {
    std::fflush(stdout);
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();
    return vpipe::StartSession(VARNEX_MODULE);
  }();
  return session;
}

}  // namespace fuzz
