// Frame rates: how each way of writing one is read, and that a keyframe's frame and a render's
// frame meet at the same host time at a rate that is not whole.
#include <gtest/gtest.h>

#include <filesystem>

#include "pipeline/errors.h"
#include "pipeline/options.h"
#include "pipeline/plan.h"
#include "pipeline/timing.h"

namespace {

vpipe::FrameRate RateOf(const std::string& text) {
  vpipe::RenderRequest request;
  request.input = "in.png";
  request.output = (std::filesystem::temp_directory_path() / "out.png").string();
  vpipe::SetOption(&request, "fps", text);
  return vpipe::ResolveRenderSettings(request).fps;
}

TEST(FrameRateTest, WholeDecimalAndRatioRatesAreExact) {
  const struct {
    const char* text;
    int64_t num, den;
  } kRates[] = {
      {"24", 24, 1},
      {"25", 25, 1},
      {"12.5", 25, 2},
      {"23.976", 24000, 1001},
      {"29.97", 30000, 1001},
      {"59.94", 60000, 1001},
      {"24000/1001", 24000, 1001},
      {"48/2", 24, 1},
      {"23.5", 47, 2},
  };
  for (const auto& rate : kRates) {
    const vpipe::FrameRate fps = RateOf(rate.text);
    EXPECT_EQ(fps.num, rate.num) << rate.text;
    EXPECT_EQ(fps.den, rate.den) << rate.text;
  }
  for (const char* bad : {"24/0", "0/1", "1/3000", "24/", "fast", "2000"})
    EXPECT_THROW(RateOf(bad), vpipe::InputError) << bad;
}

TEST(FrameRateTest, FramesMeetTheHostTimeTheyAreRenderedAt) {
  for (const vpipe::FrameRate fps :
       {vpipe::FrameRate{24000, 1001}, vpipe::FrameRate{24, 1}, vpipe::FrameRate{25, 2}}) {
    for (int frame : {0, 1, 1000, 999999}) {
      const vhost::Timing t = vpipe::FrameTiming(frame, fps, 1);
      EXPECT_EQ(vpipe::FrameSeconds(frame, fps),
                static_cast<double>(t.current_time) / t.time_scale);
      EXPECT_GT(t.current_time, -1) << "frame " << frame << " overflows the host's time";
      // One frame lasts exactly den / num seconds.
      EXPECT_EQ(static_cast<int64_t>(t.time_step) * fps.num,
                static_cast<int64_t>(t.time_scale) * fps.den);
    }
  }
}

}  // namespace
