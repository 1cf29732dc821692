// A test fixture that loads the real plug-in module into our host, watched by a probe, and fails
// the test when the probe saw a protocol leak (a suite, checkout, reference or undo group left
// open).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>

#include "hostapp/host.h"
#include "hostapp/probe.h"

// The effect's global-data block through the handle it gave the host, or null.
inline void* GlobalBlock(vhost::Host& host) {
  std::lock_guard<std::mutex> lock(host.mutex());
  const PF_Handle handle = host.out_data().global_data;
  return handle ? *handle : nullptr;
}

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override { Adopt(std::make_unique<vhost::Host>(VARNEX_MODULE)); }
  void TearDown() override {
    if (!host_) return;
    for (const std::string& leak : probe().leaks()) ADD_FAILURE() << "host reports: " << leak;
    host_.reset();
  }
  // Takes `host` as the fixture's, with a probe watching it from its first command.
  void Adopt(std::unique_ptr<vhost::Host> host) {
    host_ = std::move(host);
    host_->probe();
  }
  vhost::Host& host() { return *host_; }
  vhost::Probe& probe() { return host_->probe(); }

  std::unique_ptr<vhost::Host> host_;
};
