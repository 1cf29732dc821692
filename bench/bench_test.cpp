// Checks that the benchmark measures what it claims: the covering set varies each dimension
// against the base, the floor draws the plan's passes and brings the pixels back unchanged
// through padded rows, and the trace sees the calls made through libepoxy.
#include <gtest/gtest.h>

#include <set>

#include "bench/config.h"
#include "bench/gl_floor.h"
#include "bench/gl_trace.h"
#include "bench/synthetic.h"
#include "bench/timing.h"

namespace vbench {
namespace {

TEST(BenchConfig, CoveringSetVariesEachDimensionAgainstTheBase) {
  const std::vector<Config> set = CoveringSet();
  ASSERT_FALSE(set.empty());
  const Config base = set.front();
  std::set<std::string> names;
  bool bpc = false, none = false, four = false, iterations = false, ca = false, map = false;
  for (const Config& c : set) {
    EXPECT_TRUE(names.insert(c.Name()).second) << "duplicate " << c.Name();
    int changed = (c.bpc != base.bpc) + (c.aa != base.aa) + (c.iterations != base.iterations) +
                  (c.chromatic_aberration != base.chromatic_aberration) +
                  (c.map_layer != base.map_layer);
    if (changed != 1) continue;
    bpc |= c.bpc == 32;
    none |= c.aa == AntiAliasing::kNone;
    four |= c.aa == AntiAliasing::k4x;
    iterations |= c.iterations == 8;
    ca |= c.chromatic_aberration;
    map |= c.map_layer && c.map_softness == 10.0;
  }
  EXPECT_TRUE(bpc && none && four && iterations && ca && map);
  EXPECT_EQ(CrossProduct().size(), 48u);
}

TEST(BenchConfig, MedianOfOddAndEvenCounts) {
  EXPECT_EQ(Median({5, 1, 3}), 3);
  EXPECT_EQ(Median({4, 1, 3, 2}), 2.5);
  EXPECT_EQ(Median({}), 0);
}

class FloorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(floor_.Init(&error)) << error;
    ASSERT_TRUE(InstallGLTrace());
  }
  GLFloor floor_;
};

// Bytes come back exactly; floats within the rounding of bilinear sampling at texel centres.
TEST_F(FloorTest, CopiesPixelsBackThroughPaddedRows) {
  for (int bpc : {8, 32}) {
    const vhost::Image input = MakeInputLayer(37, 21, bpc);
    vhost::Image output = MakeHostBuffer(37, 21, bpc);
    Config config;
    config.bpc = bpc;
    config.aa = AntiAliasing::kNone;
    floor_.Render(PlanFor(config, 37, 21), input, nullptr, &output);
    for (int y = 0; y < 21; ++y)
      for (int x = 0; x < 37; ++x)
        for (int c = 0; c < 4; ++c)
          ASSERT_NEAR(output.Get(x, y, c), input.Get(x, y, c), bpc == 8 ? 0.0 : 1e-5)
              << bpc << " bits, pixel " << x << "," << y << " channel " << c;
  }
}

TEST_F(FloorTest, DrawsThePassesOfThePlanAtTheirSizes) {
  const vhost::Image input = MakeInputLayer(40, 24, 8);
  const vhost::Image map = MakeMapLayer(40, 24, 8);
  Config config;
  config.aa = AntiAliasing::k4x;
  config.map_layer = true;
  config.map_softness = 10.0;
  const PassPlan plan = PlanFor(config, 40, 24);
  vhost::Image output = MakeHostBuffer(40, 24, 8);
  ResetGLTrace();
  floor_.Render(plan, input, &map, &output);
  const GLTraceCounts trace = ReadGLTrace();
  EXPECT_EQ(trace.draws, plan.Passes());
  EXPECT_EQ(trace.max_alloc_w, 160);
  EXPECT_EQ(trace.max_alloc_h, 96);
  EXPECT_EQ(floor_.FactorUsed(), 4);
  EXPECT_GT(trace.SpanMs(), 0.0);
}

}  // namespace
}  // namespace vbench
