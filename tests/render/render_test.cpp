// The effect rendering end to end inside our host, on small images.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "hostapp/draft_layers.h"
#include "hostkit/checkout_ids.h"
#include "render/render_support.h"

namespace {

using rtest::Edge;
using rtest::RenderTest;

constexpr int kW = 40;
constexpr int kH = 24;

// ---- The worked example: a map value of 0.75 moves content by half the translation ----------

TEST_F(RenderTest, MapValueScalesTheTranslation32Bit) {
  vhost::Image input = rtest::Pattern(kW, kH, 32);
  vhost::Image map = rtest::Uniform(kW, kH, 32, 1.0f, 0.75f, 0.0f, 0.0f);
  Set(PARAM_CHANNEL, kChannelRed);
  Set(PARAM_TRANSLATE_X, 10);  // 0.1 of the width at the full amount; 0.5 gives 0.05 = 2 pixels
  vhost::RenderResult r = Render(input, &map);
  ASSERT_EQ(r.err, PF_Err_NONE);
  ASSERT_EQ(r.output.width, kW);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      for (int c = 0; c < 4; ++c)
        ASSERT_NEAR(r.output.Get(x, y, c), rtest::Shifted(input, x, y, c, 2, 0), 2e-4)
            << x << "," << y << " channel " << c;
}

TEST_F(RenderTest, FullAmountTranslationIsExactAt8Bit) {
  vhost::Image input = rtest::Pattern(kW, kH, 8);
  UseFullAmount();
  Set(PARAM_TRANSLATE_X, 10);   // 4 pixels
  Set(PARAM_TRANSLATE_Y, -25);  // 6 pixels toward the first row
  vhost::RenderResult r = Render(input);
  ASSERT_EQ(r.err, PF_Err_NONE);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      for (int c = 0; c < 4; ++c)
        ASSERT_EQ(r.output.Get(x, y, c), rtest::Shifted(input, x, y, c, 4, -6))
            << x << "," << y << " channel " << c;
}

// ---- Map layers ---------------------------------------------------------------------------

TEST_F(RenderTest, SmallerOffsetMapLandsAtItsOwnPlace) {
  vhost::Image input = rtest::Pattern(kW, kH, 32);
  // A map half the size, placed 10 columns right and 6 rows down of the input's origin. Its red
  // 1.0 displaces by +1; elsewhere the map is transparent black, red 0, which displaces by -1.
  vhost::Image map = rtest::Uniform(kW / 2, kH / 2, 32, 1.0f, 1.0f, 0.0f, 0.0f, 10, 6);
  Set(PARAM_CHANNEL, kChannelRed);
  Set(PARAM_TRANSLATE_X, 5);  // 2 pixels
  vhost::RenderResult r = Render(input, &map);
  ASSERT_EQ(r.err, PF_Err_NONE);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const bool inside = x >= 10 && x < 10 + kW / 2 && y >= 6 && y < 6 + kH / 2;
      const int dx = inside ? 2 : -2;
      for (int c = 0; c < 4; ++c)
        ASSERT_NEAR(r.output.Get(x, y, c), rtest::Shifted(input, x, y, c, dx, 0), 2e-4)
            << x << "," << y << (inside ? " inside" : " outside");
    }
}

TEST_F(RenderTest, MapMixInputBlendsTowardTheLayer) {
  // The layer's red is 0.25 and the map's 0.75; mixed half-way the amount is 0 (no movement).
  vhost::Image input = rtest::Uniform(kW, kH, 32, 1.0f, 0.25f, 0.5f, 0.5f);
  for (int y = 0; y < kH; ++y) input.Set(7, y, 2, 1.0f);  // a column that shows movement
  vhost::Image map = rtest::Uniform(kW, kH, 32, 1.0f, 0.75f, 0.0f, 0.0f);
  Set(PARAM_CHANNEL, kChannelRed);
  Set(PARAM_TRANSLATE_X, 20);
  Set(PARAM_MAP_MIX_INPUT, 50);
  vhost::RenderResult r = Render(input, &map);
  ASSERT_EQ(r.err, PF_Err_NONE);
  EXPECT_LT(rtest::MaxDifference(r.output, input), 1e-5);
}

// ---- Map softness ---------------------------------------------------------------------------

TEST_F(RenderTest, SoftnessBlursOnlyAboveATenthOfAPixel) {
  vhost::Image input = rtest::Pattern(kW, kH, 32);
  Set(PARAM_CHANNEL, kChannelRed);
  Set(PARAM_TRANSLATE_X, 10);
  vhost::RenderResult sharp = Render(input);
  Set(PARAM_MAP_SOFTNESS, 0.1);
  vhost::RenderResult at_threshold = Render(input);
  Set(PARAM_MAP_SOFTNESS, 3);
  vhost::RenderResult soft = Render(input);
  ASSERT_EQ(sharp.err, PF_Err_NONE);
  ASSERT_EQ(at_threshold.err, PF_Err_NONE);
  ASSERT_EQ(soft.err, PF_Err_NONE);
  EXPECT_TRUE(rtest::SamePixels(sharp.output, at_threshold.output));
  EXPECT_GT(rtest::MaxDifference(sharp.output, soft.output), 0.01f);
}

TEST_F(RenderTest, SoftnessRadiusFollowsTheDownsampleFactor) {
  // A picture made of 2 × 2 blocks is exactly the same picture at half resolution, so a render at
  // 1/2 with softness 6 must equal a full-resolution render of the half picture with softness 3.
  vhost::Image half = rtest::Pattern(kW / 2, kH / 2, 32);
  vhost::Image full = vhost::Image::Make(kW, kH, 32);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      for (int c = 0; c < 4; ++c) full.Set(x, y, c, half.Get(x / 2, y / 2, c));
  Set(PARAM_CHANNEL, kChannelRed);
  Set(PARAM_TRANSLATE_X, 10);
  Set(PARAM_MAP_SOFTNESS, 3);
  vhost::RenderResult reference = Render(half);
  Set(PARAM_MAP_SOFTNESS, 6);
  vhost::Timing draft = DefaultTiming();
  draft.downsample_x = {1, 2};
  draft.downsample_y = {1, 2};
  vhost::RenderResult drafted = Render(full, nullptr, 32, draft);
  ASSERT_EQ(reference.err, PF_Err_NONE);
  ASSERT_EQ(drafted.err, PF_Err_NONE);
  ASSERT_EQ(drafted.output.width, kW / 2);
  EXPECT_LT(rtest::MaxDifference(reference.output, drafted.output), 1e-6);
}

TEST_F(RenderTest, ADraftOfAStillIsFilteredOnceAndNeverServedStale) {
  // The host keeps a still's draft copy for as long as the still lives, so a second draft of the
  // same picture must come out as the first, and a new picture (even one at the same address
  // once the old one is gone) must not be served the old copy.
  Set(PARAM_CHANNEL, kChannelRed);
  Set(PARAM_TRANSLATE_X, 10);
  vhost::Timing draft = DefaultTiming();
  draft.downsample_x = {1, 2};
  draft.downsample_y = {1, 2};
  auto picture = std::make_shared<const vhost::Image>(rtest::Pattern(kW, kH, 32));
  auto draft_of = [&](std::shared_ptr<const vhost::Image> layer) {
    vhost::RenderJob job;
    job.timing = draft;
    job.bpc = 32;
    job.input_at = [layer](A_long, A_u_long) { return layer; };
    return host().Render(job);
  };
  const vhost::RenderResult by_address = Render(*picture, nullptr, 32, draft);
  const vhost::RenderResult first = draft_of(picture);
  const vhost::RenderResult second = draft_of(picture);
  ASSERT_EQ(first.err, PF_Err_NONE);
  ASSERT_EQ(second.err, PF_Err_NONE);
  EXPECT_TRUE(rtest::SamePixels(first.output, by_address.output));
  EXPECT_TRUE(rtest::SamePixels(first.output, second.output));

  vhost::DraftLayers drafts;
  EXPECT_EQ(drafts.Get(picture, {1, 2}, {1, 2}), drafts.Get(picture, {1, 2}, {1, 2}));
  EXPECT_NE(drafts.Get(picture, {1, 2}, {1, 2}), drafts.Get(picture, {1, 4}, {1, 4}));

  picture.reset();
  vhost::Image changed = rtest::Pattern(kW, kH, 32);
  for (int x = 0; x < kW; ++x) changed.Set(x, kH / 2, 0, 1.0f);
  const vhost::RenderResult after = draft_of(std::make_shared<const vhost::Image>(changed));
  ASSERT_EQ(after.err, PF_Err_NONE);
  EXPECT_TRUE(rtest::SamePixels(after.output, Render(changed, nullptr, 32, draft).output));
}

TEST_F(RenderTest, WithoutMapLayerTheBlurredInputIsTheMapButColoursStaySharp) {
  // Red is uniform, so blurring it leaves the amount at exactly 0.5 (half the translation); the
  // green stripes must come out shifted but as sharp as they went in.
  vhost::Image input = rtest::Uniform(kW, kH, 32, 1.0f, 0.75f, 0.0f, 0.3f);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; x += 5) input.Set(x, y, 2, 1.0f);
  // "Repeat" keeps the blurred red uniform up to the border.
  Set(PARAM_CHANNEL, kChannelRed);
  Set(PARAM_TRANSLATE_X, 20);  // half of 20 % of 40 = 4 pixels
  Set(PARAM_MAP_SOFTNESS, 4);
  Set(PARAM_EDGE_BEHAVIOR, kEdgeRepeat);
  vhost::RenderResult r = Render(input);
  ASSERT_EQ(r.err, PF_Err_NONE);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      for (int c = 0; c < 4; ++c)
        ASSERT_NEAR(r.output.Get(x, y, c), rtest::Shifted(input, x, y, c, 4, 0, Edge::kRepeat),
                    2e-4)
            << x << "," << y;
}

// ---- Iterations and the trail ---------------------------------------------------------------

// The mean of translations by each of `shifts` pixels (opaque input, so the mean is the colour).
float TrailMean(const vhost::Image& in, int x, int y, int c, const std::vector<float>& shifts) {
  double sum = 0;
  for (float s : shifts) {
    // Bilinear sample along x at a fractional shift; border is transparent black.
    float fx = static_cast<float>(x) - s;
    int x0 = static_cast<int>(std::floor(fx));
    float f = fx - static_cast<float>(x0);
    float a = rtest::Shifted(in, x0, y, c, 0, 0) * (1 - f);
    float b = rtest::Shifted(in, x0 + 1, y, c, 0, 0) * f;
    sum += a + b;
  }
  return static_cast<float>(sum / static_cast<double>(shifts.size()));
}

TEST_F(RenderTest, IterationsStepFromTheValueTowardItsTrail) {
  // "Iterations" 4, "Shutter Duration" 100 %: an unanimated "Translate X" of 10 % steps from 0.1
  // toward 0.05 of the width: 4, 3.5, 3 and 2.5 pixels on a 40-pixel row.
  vhost::Image input = rtest::Pattern(kW, kH, 32);
  UseFullAmount();
  Set(PARAM_TRANSLATE_X, 10);
  Set(PARAM_ITERATIONS, 4);
  Set(PARAM_SHUTTER_DURATION, 100);
  vhost::RenderResult r = Render(input);
  ASSERT_EQ(r.err, PF_Err_NONE);
  for (int y = 0; y < kH; ++y)
    for (int x = 5; x < kW; ++x)  // away from the border, where alpha falls off
      for (int c = 1; c < 4; ++c)
        ASSERT_NEAR(r.output.Get(x, y, c), TrailMean(input, x, y, c, {4, 3.5f, 3, 2.5f}), 2e-5)
            << x << "," << y << " channel " << c;
}

TEST_F(RenderTest, AnimatedControlIsNotGivenATrail) {
  // Two keyframes with the same value: animated, so both shutter times read 10 % and every
  // iteration uses the same translation.
  vhost::Image input = rtest::Pattern(kW, kH, 32);
  UseFullAmount();
  host().controls().SetKeyframes(PARAM_TRANSLATE_X, {{0.0, 10.0}, {10.0, 10.0}});
  Set(PARAM_ITERATIONS, 4);
  vhost::RenderResult r = Render(input);
  ASSERT_EQ(r.err, PF_Err_NONE);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      for (int c = 0; c < 4; ++c)
        ASSERT_NEAR(r.output.Get(x, y, c), rtest::Shifted(input, x, y, c, 4, 0), 1e-5);
}

TEST_F(RenderTest, UniformScaleMakesScaleYIrrelevant) {
  vhost::Image input = rtest::Pattern(kW, kH, 32);
  UseFullAmount();
  Set(PARAM_SCALE_X, 150);
  Set(PARAM_SCALE_Y, 40);
  vhost::RenderResult a = Render(input);
  Set(PARAM_SCALE_Y, 300);
  vhost::RenderResult b = Render(input);
  ASSERT_EQ(a.err, PF_Err_NONE);
  EXPECT_TRUE(rtest::SamePixels(a.output, b.output));
  Set(PARAM_UNIFORM_SCALE, 0);
  vhost::RenderResult c = Render(input);
  EXPECT_FALSE(rtest::SamePixels(b.output, c.output));
}

// ---- Anti-aliasing -------------------------------------------------------------------------

TEST_F(RenderTest, TwoTimesAntiAliasingIsTheMeanOfEachTwoByTwoBlock) {
  // Scale 150 % about the centre at the full amount: each of the 2 × 2 sub-pixels samples the
  // replicated input (nearest) at its own coordinate; the output is their mean.
  const int w = 24, h = 16;
  vhost::Image input = rtest::Pattern(w, h, 32);
  UseFullAmount();
  Set(PARAM_SCALE_X, 150);
  Set(PARAM_ANTI_ALIASING, kAntiAliasing2x);
  vhost::RenderResult r = Render(input);
  ASSERT_EQ(r.err, PF_Err_NONE);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 1; c < 4; ++c) {
        double sum = 0;
        for (int sy = 0; sy < 2; ++sy)
          for (int sx = 0; sx < 2; ++sx) {
            double u = (2 * x + sx + 0.5) / (2.0 * w), v = (2 * y + sy + 0.5) / (2.0 * h);
            double cu = (u - 0.5) / 1.5 + 0.5, cv = (v - 0.5) / 1.5 + 0.5;
            sum += input.Get(static_cast<int>(std::floor(cu * w)),
                             static_cast<int>(std::floor(cv * h)), c);
          }
        ASSERT_NEAR(r.output.Get(x, y, c), sum / 4, 2e-4) << x << "," << y;
      }
}

// ---- Edges ----------------------------------------------------------------------------------

TEST_F(RenderTest, EdgeModesDecideWhatLiesBeyondTheBorder) {
  vhost::Image input = rtest::Pattern(kW, kH, 32);
  UseFullAmount();
  const struct {
    int popup;
    Edge edge;
  } modes[] = {{kEdgeNone, Edge::kNone},
               {kEdgeRepeat, Edge::kRepeat},
               {kEdgeMirrorRepeat, Edge::kMirror},
               {kEdgeEdgeRepeat, Edge::kClamp}};
  for (int shift_percent : {-25, 100}) {  // a quarter of the frame, and a whole frame
    const int dx = kW * shift_percent / 100;
    Set(PARAM_TRANSLATE_X, shift_percent);
    for (const auto& mode : modes) {
      Set(PARAM_EDGE_BEHAVIOR, mode.popup);
      vhost::RenderResult r = Render(input);
      ASSERT_EQ(r.err, PF_Err_NONE);
      for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
          for (int c = 0; c < 4; ++c)
            ASSERT_NEAR(r.output.Get(x, y, c), rtest::Shifted(input, x, y, c, dx, 0, mode.edge),
                        2e-4)
                << "mode " << mode.popup << " shift " << dx << " at " << x << "," << y;
    }
  }
}

// ---- Controls the render must not read -------------------------------------------------------

TEST_F(RenderTest, ViewAndDebugControlsChangeNothing) {
  vhost::Image input = rtest::Pattern(kW, kH, 8);
  Set(PARAM_CHANNEL, kChannelRed);
  Set(PARAM_TRANSLATE_X, 10);
  Set(PARAM_ROTATE, 20);
  vhost::RenderResult plain = Render(input);
  Set(PARAM_VIEW, kViewMap);
  Set(PARAM_CACHING_BEHAVIOR, kCachingStill);
  for (int i : {PARAM_LEFT, PARAM_TOP, PARAM_RIGHT, PARAM_BOTTOM}) Set(i, 3);
  Set(PARAM_MODE, kModeGradientRamp);
  host().controls().at(PARAM_RAMP_ORIGIN).value2 = 10;
  Set(PARAM_RAMP_ORIGIN, 10);
  Set(PARAM_RAMP_SCALE, 30);
  Set(PARAM_LINK_ANCHOR_TO_ORIGIN, 1);
  vhost::RenderResult debug = Render(input);
  ASSERT_EQ(plain.err, PF_Err_NONE);
  ASSERT_EQ(debug.err, PF_Err_NONE);
  EXPECT_TRUE(rtest::SamePixels(plain.output, debug.output));
}

// ---- Pre-render ---------------------------------------------------------------------------

TEST_F(RenderTest, OutputAreaFollowsTheInputAlone) {
  vhost::Image input = rtest::Pattern(kW, kH, 8);
  vhost::Image big_map = rtest::Uniform(kW * 2, kH * 2, 8, 1, 1, 1, 1, -10, -5);
  const vhost::Image* maps[] = {nullptr, &big_map};
  for (const vhost::Image* map : maps) {
    vhost::RenderResult r = Render(input, map);
    ASSERT_EQ(r.err, PF_Err_NONE);
    EXPECT_EQ(r.result_rect.left, 0);
    EXPECT_EQ(r.result_rect.top, 0);
    EXPECT_EQ(r.result_rect.right, kW);
    EXPECT_EQ(r.result_rect.bottom, kH);
    EXPECT_EQ(std::memcmp(&r.result_rect, &r.max_result_rect, sizeof r.result_rect), 0);
  }
}

class DynamicFlagsTest : public RenderTest {
 protected:
  bool Varies(A_long time) {
    vhost::Timing t = DefaultTiming();
    t.current_time = time;
    host().out_data().out_flags = 0x04000004;
    EXPECT_EQ(host().QueryDynamicFlags(t), PF_Err_NONE);
    EXPECT_EQ(host().out_data().out_flags & ~PF_OutFlag_NON_PARAM_VARY, 0x04000000);
    return host().out_data().out_flags & PF_OutFlag_NON_PARAM_VARY;
  }
};

TEST_F(DynamicFlagsTest, ConstantIterations) {
  Set(PARAM_ITERATIONS, 1);
  EXPECT_FALSE(Varies(2400));
  Set(PARAM_ITERATIONS, 2);
  EXPECT_TRUE(Varies(2400));
}

TEST_F(DynamicFlagsTest, KeyframedIterationsVaryNearWhereTheyReachTwo) {
  // 1 at 0 s, 3 at 2 s: the slider reads 2 from 0.5 s on, time 1200 at 2400 per second.
  host().controls().SetKeyframes(PARAM_ITERATIONS, {{0.0, 1.0}, {2.0, 3.0}});
  EXPECT_FALSE(Varies(0));
  EXPECT_FALSE(Varies(900));  // the latest time looked at, 1100, still reads 1
  EXPECT_TRUE(Varies(1000));  // 1200 is within two steps
  EXPECT_TRUE(Varies(4800));
}

TEST_F(DynamicFlagsTest, FailingFirstCheckoutLeavesTheFlagsAndStops) {
  Set(PARAM_ITERATIONS, 2);
  probe().FailCall("checkout_param", 1, PF_Err_OUT_OF_MEMORY);
  host().out_data().out_flags = 0x04000000;
  EXPECT_EQ(host().QueryDynamicFlags(DefaultTiming()), PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(host().out_data().out_flags, 0x04000000);
  int checkouts = 0, checkins = 0;
  for (const auto& call : probe().last_calls()) {
    checkouts += call.function == "checkout_param";
    checkins += call.function == "checkin_param";
  }
  EXPECT_EQ(checkouts, 1);
  EXPECT_EQ(checkins, 5);
}

// ---- A host without a probe ----------------------------------------------------------------

// Renders without a probe leave nothing behind to inspect: no probe is made on the way, and one
// installed afterwards starts empty and sees only the commands sent after it. Only the probe pads
// rows, the layer's included when it was given tight.
TEST(UnwatchedHostTest, RendersWithoutKeepingRecords) {
  vhost::Host host(VARNEX_MODULE);
  ASSERT_EQ(host.GlobalSetup(), PF_Err_NONE);
  ASSERT_EQ(host.ParamsSetup(), PF_Err_NONE);
  host.controls().SetValue(PARAM_ANTI_ALIASING, 1);
  const vhost::Image input = rtest::Pattern(8, 6, 8);
  vhost::RenderJob job;
  job.input = &input;
  const vhost::RenderResult unwatched = host.Render(job);
  ASSERT_EQ(unwatched.err, PF_Err_NONE);
  EXPECT_FALSE(host.has_probe());
  EXPECT_EQ(unwatched.output.rowbytes, input.width * 4);

  vhost::Probe& probe = host.probe();
  EXPECT_TRUE(host.has_probe());
  EXPECT_TRUE(probe.last_calls().empty());
  EXPECT_TRUE(probe.leaks().empty());
  A_long input_rowbytes = 0;
  probe.DamageLayer(kInputCheckoutId, [&](PF_EffectWorld& w) { input_rowbytes = w.rowbytes; });
  const vhost::RenderResult watched = host.Render(job);
  ASSERT_EQ(watched.err, PF_Err_NONE);
  const A_long padded = (input.width + vhost::Probe::kRowPadding) * 4;
  EXPECT_EQ(watched.output.rowbytes, padded);
  EXPECT_EQ(input_rowbytes, padded);
  EXPECT_TRUE(rtest::SamePixels(watched.output, unwatched.output)) << "the probe changes nothing";
  const std::vector<vhost::CallRecord> calls = probe.last_calls();
  EXPECT_EQ(
      std::count_if(calls.begin(), calls.end(),
                    [](const vhost::CallRecord& c) { return c.function == "checkout_output"; }),
      1);
  EXPECT_TRUE(probe.leaks().empty());
  EXPECT_EQ(host.GlobalSetdown(), PF_Err_NONE);
}

}  // namespace
