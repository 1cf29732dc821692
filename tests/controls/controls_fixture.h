// The real module in our host, with its controls declared as a freshly applied effect has them.
#pragma once

#include <vector>

#include "params/param_ids.h"
#include "support/host_fixture.h"

class ControlsTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    ASSERT_EQ(host().ParamsSetup(), PF_Err_NONE);
    ASSERT_EQ(host().controls().size(), PARAM_NUM_PARAMS);
  }

  const vhost::Control& control(int index) { return host().controls().at(index); }
  double value(int index) { return host().controls().ValueAt(index, 0); }

  std::vector<double> AllValues() {
    std::vector<double> values;
    for (int i = 0; i < host().controls().size(); ++i) values.push_back(value(i));
    return values;
  }

  int CallCount(const char* function) {
    int n = 0;
    for (const auto& call : probe().last_calls()) n += call.function == function;
    return n;
  }
};
