// A test fixture that loads the real plug-in module into our host and fails the test when the
// host saw a protocol leak (a suite, checkout, reference or undo group left open).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "hostapp/host.h"

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override { host_ = std::make_unique<vhost::Host>(VARNEX_MODULE); }
  void TearDown() override {
    if (!host_) return;
    for (const std::string& leak : host_->leaks()) ADD_FAILURE() << "host reports: " << leak;
    host_.reset();
  }
  vhost::Host& host() { return *host_; }

  std::unique_ptr<vhost::Host> host_;
};
