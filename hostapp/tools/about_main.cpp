// Prints the plug-in's About text through our host: the smallest end-to-end use of a module.
#include <cstdio>
#include <exception>
#include <string>

#include "hostapp/host.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PLUGIN\n", argv[0]);
    return 2;
  }
  try {
    vhost::Host host(argv[1]);
    std::string text;
    PF_Err err = host.About(&text);
    if (err) {
      std::fprintf(stderr, "about failed: %s\n", vhost::ErrorName(err).c_str());
      return 1;
    }
    std::fputs(text.c_str(), stdout);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 2;
  }
}
