// Standard output written during an action. The effect's diagnostics go through both printf and
// std::cout, so both are flushed before the capture ends.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <iostream>
#include <string>

inline std::string CaptureOutput(const std::function<void()>& action) {
  testing::internal::CaptureStdout();
  action();
  std::cout.flush();
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}
