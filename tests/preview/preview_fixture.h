// A preview of the sample pictures for each test, in a folder of its own.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "preview/preview_server.h"
#include "support/temp_dir.h"

class PreviewTest : public testing::Test {
 protected:
  static std::string Example(const std::string& name) {
    return std::string(VARNEX_SOURCE_DIR) + "/examples/" + name;
  }

  // Starts the server on the sample input and map with `more` arguments.
  void Start(std::vector<std::string> more = {}) {
    std::vector<std::string> args = {Example("input.png"), "--map", Example("map.png")};
    args.insert(args.end(), more.begin(), more.end());
    server_ = std::make_unique<testsupport::PreviewServer>(args, dir_.path());
    ASSERT_TRUE(server_->started());
  }
  void SetUp() override { Start(); }

  testsupport::PreviewServer& server() { return *server_; }
  nlohmann::json State() { return server_->State(); }
  const nlohmann::json& Control(const nlohmann::json& state, const std::string& identifier) {
    return testsupport::ControlIn(state, identifier);
  }
  testsupport::Answer Set(const std::string& name, const nlohmann::json& value) {
    return server_->Post("/api/control", {{"name", name}, {"value", value}});
  }

  testsupport::TempDir dir_;
  std::unique_ptr<testsupport::PreviewServer> server_;
};
