// How the effect uses time: the window of the dynamic-flags query, the two shutter times a render
// reads the transforms at, the trail that unanimated transforms get over the iterations, the
// angle's fixed-point units, and the request and times the pre-render hands the host. Everything
// goes through the real module in our host and is observed through the probe's call log, the
// pre-render's checkouts and the rendered pixels.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "render/render_support.h"

namespace {

using rtest::RenderTest;

// A parameter or layer checkout as one line, so that a mismatch in a list reads plainly.
std::string Describe(int index, A_long time, A_long step, A_u_long scale) {
  return "#" + std::to_string(index) + " at " + std::to_string(time) + " step " +
         std::to_string(step) + " scale " + std::to_string(scale);
}

// The parameter checkouts of a call log, in order; `checkins` counts the check-ins beside them.
std::vector<std::string> ParamCheckouts(const std::vector<vhost::CallRecord>& calls,
                                        int* checkins = nullptr) {
  std::vector<std::string> out;
  if (checkins) *checkins = 0;
  for (const vhost::CallRecord& call : calls) {
    if (call.function == "checkin_param" && checkins) ++*checkins;
    if (call.function != "checkout_param") continue;
    if (!call.at) {
      out.push_back("checkout without a time");
      continue;
    }
    out.push_back(Describe(call.at->index, call.at->time, call.at->time_step, call.at->time_scale));
  }
  return out;
}

vhost::Timing MakeTiming(A_long now, A_long step, A_u_long scale) {
  vhost::Timing t;
  t.current_time = now;
  t.time_step = step;
  t.time_scale = scale;
  return t;
}

class TimeTest : public RenderTest {
 protected:
  // A job of the input's depth at `timing`; tests add layers over time or a request to it.
  static vhost::RenderJob Job(const vhost::Image& input, vhost::Timing timing = DefaultTiming()) {
    vhost::RenderJob job;
    job.timing = timing;
    job.bpc = input.bpc;
    job.input = &input;
    return job;
  }
};

// ---- The dynamic-flags query ----------------------------------------------------------------

using DynamicFlagsWindowTest = TimeTest;

TEST_F(DynamicFlagsWindowTest, IterationsAreReadTwoStepsEitherSideInTimeOrder) {
  // A backward step walks the same window from the other end.
  for (const vhost::Timing& timing : {MakeTiming(1000, 100, 2400), MakeTiming(1000, -50, 600)}) {
    ASSERT_EQ(host().QueryDynamicFlags(timing), PF_Err_NONE);
    int checkins = 0;
    const std::vector<std::string> checkouts = ParamCheckouts(probe().last_calls(), &checkins);
    std::vector<std::string> expected;
    for (int k = -2; k <= 2; ++k)
      expected.push_back(Describe(PARAM_ITERATIONS, timing.current_time + k * timing.time_step,
                                  timing.time_step, timing.time_scale));
    EXPECT_EQ(checkouts, expected) << "step " << timing.time_step;
    EXPECT_EQ(checkins, 5);
  }
}

TEST_F(DynamicFlagsWindowTest, TwoIterationsAtTheWindowsEdgeSetTheFlag) {
  // Time 1000 with step 100 looks at 800 ... 1200. Each pair of keys one tick apart makes
  // "Iterations" read 2 on one side of a time and 1 on the other, so one of the five looks
  // decides.
  const vhost::Timing timing = MakeTiming(1000, 100, 2400);
  auto at = [&](A_long time) { return static_cast<double>(time) / timing.time_scale; };
  const struct {
    const char* what;
    std::vector<vhost::Keyframe> keys;
    bool varies;
  } cases[] = {
      {"2 from exactly t + 2d", {{at(1199), 1}, {at(1200), 2}}, true},
      {"2 from one step later", {{at(1299), 1}, {at(1300), 2}}, false},
      {"2 until exactly t - 2d", {{at(800), 2}, {at(801), 1}}, true},
      {"2 until one step earlier", {{at(700), 2}, {at(701), 1}}, false},
  };
  for (const auto& c : cases) {
    host().controls().SetKeyframes(PARAM_ITERATIONS, c.keys);
    // The flag is set or cleared whatever it was, and no other flag moves.
    for (PF_OutFlags before : {PF_OutFlags{PF_OutFlag_NON_PARAM_VARY}, PF_OutFlags{0}}) {
      host().out_data().out_flags = 0x04000000 | before;
      ASSERT_EQ(host().QueryDynamicFlags(timing), PF_Err_NONE);
      const PF_OutFlags after = host().out_data().out_flags;
      EXPECT_EQ(after & ~PF_OutFlag_NON_PARAM_VARY, 0x04000000) << c.what;
      EXPECT_EQ((after & PF_OutFlag_NON_PARAM_VARY) != 0, c.varies) << c.what;
    }
  }
}

// ---- The two shutter times --------------------------------------------------------------------

using ShutterTimesTest = TimeTest;

TEST_F(ShutterTimesTest, TransformsAreReadAtBothShutterTimesAndEverythingElseNow) {
  // The shutter's half-width is duration × 0.005 steps, worked in single precision and cut toward
  // zero; with one iteration both times are the current time.
  const struct {
    double duration;
    int iterations;
    A_long now, step;
    A_u_long scale;
    A_long earlier, later;
  } cases[] = {
      {33, 3, 2400, 100, 2400, 2383, 2416},  // 16.5 either side
      {33, 3, -50, 100, 2400, -66, -33},     // toward zero below it, not down
      {0, 3, 2400, 100, 2400, 2400, 2400},
      {100, 3, 2400, 100, 3000, 2350, 2450},
      {200, 2, 2400, 100, 2400, 2300, 2500},
      {100, 3, 2400, 7, 2400, 2396, 2403},                // 3.5: cut, not rounded
      {50, 3, 2400, -100, 2400, 2425, 2375},              // a backward step
      {100, 3, 16777217, 100, 2400, 16777166, 16777266},  // the time itself rounds to float
      {100, 1, 2400, 100, 2400, 2400, 2400},
  };
  constexpr int kTransforms[] = {PARAM_TRANSLATE_X, PARAM_TRANSLATE_Y, PARAM_ROTATE,  PARAM_SCALE_X,
                                 PARAM_SCALE_Y,     PARAM_ANCHOR_X,    PARAM_ANCHOR_Y};
  const vhost::Image input = rtest::Pattern(8, 6, 32);
  for (const auto& c : cases) {
    Set(PARAM_SHUTTER_DURATION, c.duration);
    Set(PARAM_ITERATIONS, c.iterations);
    const vhost::RenderResult r = host().Render(Job(input, MakeTiming(c.now, c.step, c.scale)));
    ASSERT_EQ(r.err, PF_Err_NONE);
    int checkins = 0;
    const std::vector<std::string> checkouts = ParamCheckouts(probe().last_calls(), &checkins);
    std::vector<std::string> expected;
    for (int i = PARAM_CHANNEL; i < PARAM_NUM_PARAMS; ++i)
      expected.push_back(Describe(i, c.now, c.step, c.scale));
    for (A_long when : {c.earlier, c.later})
      for (int i : kTransforms) expected.push_back(Describe(i, when, c.step, c.scale));
    EXPECT_EQ(checkouts, expected)
        << "duration " << c.duration << " step " << c.step << " at " << c.now;
    EXPECT_EQ(checkins, static_cast<int>(expected.size()));
  }
}

// ---- The trail ----------------------------------------------------------------------------------

// What the trail rule makes of a later value, in the controls' own units.
enum class TrailKind { kToZero, kToHundred };
double Trailed(TrailKind kind, double value, double f) {
  return kind == TrailKind::kToZero ? value * f : 100 - (100 - value) * f;
}

struct TrailedControl {
  const char* name;
  int index;
  double value;
  TrailKind kind;
  bool uniform_scale;
  double rest;  // its default, where it moves nothing
};
constexpr TrailedControl kTrailed[] = {
    {"Translate X", PARAM_TRANSLATE_X, 100, TrailKind::kToZero, true, 0},
    {"Translate Y", PARAM_TRANSLATE_Y, -40, TrailKind::kToZero, true, 0},
    {"Rotate", PARAM_ROTATE, 40, TrailKind::kToZero, true, 0},
    {"Scale X, Y following", PARAM_SCALE_X, 50, TrailKind::kToHundred, true, 100},
    {"Scale Y alone", PARAM_SCALE_Y, 50, TrailKind::kToHundred, false, 100},
};

// An unanimated transform control takes its value at the earlier shutter time and a value pulled
// toward "no transform" at the later one. Keyframes at exactly those two times with those two
// values are read as they are, so the two renders must agree to the byte.
class TrailTest : public TimeTest {
 protected:
  void SetUp() override {
    TimeTest::SetUp();
    UseFullAmount();
    Set(PARAM_ITERATIONS, 2);
  }

  // The default timing (2400, step 100, 2400 per second) at a shutter duration whose factor
  // f = 1 - s is exact in binary; f differs from s so that a swapped factor shows.
  struct Shutter {
    double duration;
    double f;
    A_long earlier, later;
  };
  static constexpr Shutter kShutters[] = {{50, 0.75, 2375, 2425}, {150, 0.25, 2325, 2475}};

  // Keys `index` with `from` at the earlier shutter time and `to` at the later one, and checks
  // the host gives exactly those values at those times.
  void Animate(int index, const Shutter& shutter, double from, double to) {
    const double earlier = static_cast<double>(shutter.earlier) / DefaultTiming().time_scale;
    const double later = static_cast<double>(shutter.later) / DefaultTiming().time_scale;
    host().controls().SetKeyframes(index, {{earlier, from}, {later, to}});
    ASSERT_EQ(host().controls().ValueAt(index, earlier), from);
    ASSERT_EQ(host().controls().ValueAt(index, later), to);
  }

  // Sets `c` to its value, unanimated, with "Uniform Scale" as its case needs.
  void Hold(const TrailedControl& c) {
    Set(PARAM_UNIFORM_SCALE, c.uniform_scale);
    Set(c.index, c.value);
  }

  vhost::Image Rendered(const vhost::Image& input) {
    vhost::RenderResult r = Render(input, nullptr, 32);
    EXPECT_EQ(r.err, PF_Err_NONE);
    return r.output;
  }
};

TEST_F(TrailTest, UnanimatedTransformsRenderAsIfKeyedToTheirTrail) {
  const vhost::Image input = rtest::Pattern(32, 20, 32);
  for (const Shutter& shutter : kShutters)
    for (const TrailedControl& c : kTrailed) {
      SCOPED_TRACE(std::string(c.name) + ", duration " + std::to_string(shutter.duration));
      Set(PARAM_SHUTTER_DURATION, shutter.duration);
      Hold(c);
      Set(PARAM_ITERATIONS, 1);
      const vhost::Image single = Rendered(input);
      Set(PARAM_ITERATIONS, 2);
      const vhost::Image unanimated = Rendered(input);
      host().controls().SetKeyframes(c.index, {{0.0, c.value}});
      const vhost::Image one_key = Rendered(input);
      Animate(c.index, shutter, c.value, Trailed(c.kind, c.value, shutter.f));
      const vhost::Image keyed_to_trail = Rendered(input);
      Animate(c.index, shutter, c.value, c.value);
      const vhost::Image keyed_still = Rendered(input);
      Set(c.index, c.rest);

      EXPECT_TRUE(rtest::SamePixels(unanimated, keyed_to_trail));
      EXPECT_TRUE(rtest::SamePixels(unanimated, one_key)) << "one keyframe is not an animation";
      // Two equal keys are an animation that stands still: every iteration samples the same
      // transform, and two equal halves add up exactly to what one iteration gives.
      EXPECT_TRUE(rtest::SamePixels(keyed_still, single)) << "two keyframes get no trail";
      EXPECT_FALSE(rtest::SamePixels(unanimated, keyed_still)) << "the trail must show";
    }
}

TEST_F(TrailTest, AnchorsGetNoTrail) {
  // A rotation and a scale, both unanimated, make the anchor matter.
  const vhost::Image input = rtest::Pattern(32, 20, 32);
  const Shutter& shutter = kShutters[0];
  Set(PARAM_SHUTTER_DURATION, shutter.duration);
  Set(PARAM_ROTATE, 30);
  Set(PARAM_SCALE_X, 150);
  for (int anchor : {PARAM_ANCHOR_X, PARAM_ANCHOR_Y}) {
    SCOPED_TRACE(anchor == PARAM_ANCHOR_X ? "Anchor X" : "Anchor Y");
    Set(anchor, 30);
    const vhost::Image unanimated = Rendered(input);
    Animate(anchor, shutter, 30, 30);
    const vhost::Image keyed_still = Rendered(input);
    Animate(anchor, shutter, 30, 30 * shutter.f);
    const vhost::Image keyed_to_trail = Rendered(input);
    Set(anchor, 50);

    EXPECT_TRUE(rtest::SamePixels(unanimated, keyed_still));
    EXPECT_FALSE(rtest::SamePixels(unanimated, keyed_to_trail)) << "a trail would show";
  }
}

// ---- The angle's units
// ----------------------------------------------------------------------------

using TimeAngleTest = TimeTest;

// A checkerboard: every neighbour differs by the full range, so the smallest drift in where a
// pixel is sampled shows in its value.
vhost::Image Checker(int n) {
  vhost::Image img = vhost::Image::Make(n, n, 32);
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) {
      img.Set(x, y, 0, 1.0f);
      img.Set(x, y, 1, static_cast<float>((x + y) % 2));
      img.Set(x, y, 2, static_cast<float>(x % 3) * 0.5f);
      img.Set(x, y, 3, static_cast<float>(y % 4) / 3.0f);
    }
  return img;
}

// The largest difference between a render and the input turned a quarter about its centre: the
// output pixel (x, y) shows the input pixel (y, n - 1 - x).
float DistanceFromQuarterTurn(const vhost::Image& out, const vhost::Image& in) {
  float worst = 0;
  for (int y = 0; y < in.height; ++y)
    for (int x = 0; x < in.width; ++x)
      for (int c = 0; c < 4; ++c)
        worst = std::max(worst, std::fabs(out.Get(x, y, c) - in.Get(y, in.width - 1 - x, c)));
  return worst;
}

TEST_F(TimeAngleTest, RotateIsSixteenSixteenDegrees) {
  const vhost::Image input = Checker(32);
  UseFullAmount();
  auto rotated = [&](double degrees) {
    Set(PARAM_ROTATE, degrees);
    vhost::RenderResult r = Render(input, nullptr, 32);
    EXPECT_EQ(r.err, PF_Err_NONE);
    return r.output;
  };
  // The shader's own degree-to-radian constant and its sine and cosine leave a few 1e-5 on the
  // corners; reading the angle a 65535th too large turns them 5e-4 of a pixel further, which on
  // a checkerboard is 5e-4 of the range.
  constexpr float kTolerance = 1e-4f;
  EXPECT_LT(DistanceFromQuarterTurn(rotated(90), input), kTolerance);
  EXPECT_GT(DistanceFromQuarterTurn(rotated(90 * 65536.0 / 65535.0), input), kTolerance)
      << "the tolerance must see a 65535th";
  // Fractions of a degree count.
  EXPECT_FALSE(rtest::SamePixels(rotated(22.5), rotated(22)));
  EXPECT_FALSE(rtest::SamePixels(rotated(0.5), rotated(0)));
}

// ---- The pre-render's request and times
// ------------------------------------------------------------

using PreRenderTimeTest = TimeTest;

constexpr int kW = 32;
constexpr int kH = 20;

bool SameRect(const PF_LRect& a, const PF_LRect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST_F(PreRenderTimeTest, RequestAndTimesArePassedOnUnchangedToBothLayers) {
  PF_RenderRequest request{};
  request.rect = {2, 3, 30, 19};
  request.field = 1;
  request.channel_mask = 0x7;
  request.preserve_rgb_of_zero_alpha = 1;
  request.reserved[0] = 1;
  request.reserved[1] = 2;
  request.reserved[2] = 3;
  request.reserved[3] = 4;
  const vhost::Timing timing = MakeTiming(1234, -7, 3000);
  const vhost::Image input = rtest::Pattern(kW, kH, 32);
  const vhost::Image map = rtest::Uniform(kW, kH, 32, 1, 0.5f, 0.5f, 0.5f);
  // The map layer is asked for even when none is chosen.
  for (const vhost::Image* chosen : {&map, static_cast<const vhost::Image*>(nullptr)}) {
    SCOPED_TRACE(chosen ? "with a map" : "without a map");
    vhost::RenderJob job = Job(input, timing);
    job.map = chosen;
    job.request = request;
    const vhost::RenderResult r = host().Render(job);
    ASSERT_EQ(r.err, PF_Err_NONE);
    ASSERT_EQ(r.checkouts.size(), 2u);
    for (int i = 0; i < 2; ++i) {
      const vhost::LayerCheckout& asked = r.checkouts[i];
      EXPECT_EQ(asked.index, i);
      EXPECT_EQ(asked.checkout_id, i);
      EXPECT_EQ(std::memcmp(&asked.request, &request, sizeof request), 0) << "layer " << i;
      EXPECT_EQ(Describe(asked.index, asked.time, asked.time_step, asked.time_scale),
                Describe(i, timing.current_time, timing.time_step, timing.time_scale));
    }
    // The output is the part asked for; no transform, so it is that part of the input.
    EXPECT_TRUE(SameRect(r.result_rect, request.rect));
    EXPECT_TRUE(SameRect(r.max_result_rect, request.rect));
    ASSERT_EQ(r.output.width, 28);
    ASSERT_EQ(r.output.height, 16);
    float worst = 0;
    for (int y = 0; y < r.output.height; ++y)
      for (int x = 0; x < r.output.width; ++x)
        for (int c = 0; c < 4; ++c)
          worst = std::max(worst, std::fabs(r.output.Get(x, y, c) - input.Get(x + 2, y + 3, c)));
    EXPECT_LT(worst, 1e-5f);
  }
}

TEST_F(PreRenderTimeTest, OutputAreaFollowsTheInputWhateverTheMapCovers) {
  // The request reaches past the input on every side, so each map's checkout comes back larger
  // than the input's or beside it.
  PF_RenderRequest request{};
  request.rect = {-4, -2, kW + 8, kH + 10};
  request.channel_mask = 0xF;
  const vhost::Image input = rtest::Pattern(kW, kH, 8);
  const vhost::Image big = rtest::Uniform(kW * 2, kH * 2, 8, 1, 1, 1, 1, -10, -5);
  const vhost::Image aside = rtest::Uniform(10, 8, 8, 1, 1, 1, 1, -3, kH - 6);
  const PF_LRect whole_input = {0, 0, kW, kH};
  for (const vhost::Image* map : {&big, &aside}) {
    vhost::RenderJob job = Job(input);
    job.map = map;
    job.request = request;
    const vhost::RenderResult r = host().Render(job);
    ASSERT_EQ(r.err, PF_Err_NONE);
    EXPECT_TRUE(SameRect(r.result_rect, whole_input)) << "map of " << map->width;
    EXPECT_TRUE(SameRect(r.max_result_rect, whole_input)) << "map of " << map->width;
    EXPECT_EQ(r.output.width, kW);
    EXPECT_EQ(r.output.height, kH);
  }
}

TEST_F(PreRenderTimeTest, PixelsComeFromBothLayersAtTheCurrentTime) {
  // At the current time the map's red is mid-grey, which holds the layer still; at any other time
  // the map moves it and the layer is another picture.
  const vhost::Timing timing = MakeTiming(4800, 100, 2400);
  const vhost::Image now = rtest::Pattern(kW, kH, 32);
  const vhost::Image other = rtest::Uniform(kW, kH, 32, 1, 0.2f, 0.9f, 0.4f);
  const vhost::Image still_map = rtest::Uniform(kW, kH, 32, 1, 0.5f, 0, 0);
  const vhost::Image moving_map = rtest::Uniform(kW, kH, 32, 1, 1, 0, 0);
  Set(PARAM_CHANNEL, kChannelRed);
  Set(PARAM_TRANSLATE_X, 25);
  vhost::RenderJob job = Job(now, timing);
  // The pictures belong to the test; the host only borrows them.
  auto borrowed = [](const vhost::Image& image) {
    return std::shared_ptr<const vhost::Image>(&image, [](const vhost::Image*) {});
  };
  job.input_at = [&](A_long t, A_u_long) {
    return borrowed(t == timing.current_time ? now : other);
  };
  job.map_at = [&](A_long t, A_u_long) {
    return borrowed(t == timing.current_time ? still_map : moving_map);
  };
  const vhost::RenderResult r = host().Render(job);
  ASSERT_EQ(r.err, PF_Err_NONE);
  EXPECT_LT(rtest::MaxDifference(r.output, now), 1e-5f);
}

}  // namespace
