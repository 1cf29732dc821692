// A stand-in for the system's page opener ("xdg-open", or "open" on macOS), first on PATH for as
// long as it lives, so the link buttons start no browser; it logs the arguments it was run with.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "support/scoped_env.h"

class PageOpenerStub {
 public:
  PageOpenerStub() {
    char dir_template[] = "/tmp/varnex-opener-XXXXXX";
    if (mkdtemp(dir_template) == nullptr) {
      ADD_FAILURE() << "no folder for the stand-in page opener";
      return;
    }
    dir_ = dir_template;
    log_ = dir_ + "/opened.log";
    for (const char* name : {"xdg-open", "open"}) {
      const std::string script = dir_ + "/" + name;
      std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" << log_ << "'\n";
      EXPECT_EQ(chmod(script.c_str(), 0755), 0) << script;
    }
    const char* path = std::getenv("PATH");
    path_ = std::make_unique<ScopedEnv>("PATH", dir_ + ":" + (path ? path : ""));
  }
  ~PageOpenerStub() {
    path_.reset();
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  PageOpenerStub(const PageOpenerStub&) = delete;
  PageOpenerStub& operator=(const PageOpenerStub&) = delete;

  // One line per run: the arguments it was given.
  std::string Opened() const {
    std::ifstream in(log_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  std::string dir_;
  std::string log_;
  std::unique_ptr<ScopedEnv> path_;
};
