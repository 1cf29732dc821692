// The map's preparation (placement, premultiplication, the mix toward the input), which texture the
// softness blur reads, and the downscale that ends a supersampled render, all through our host.
//
// The oracles work on straight red-green-blue-alpha values; the host's alpha-first order only
// matters where pixels are set and read. In the standard interpretation a map value v gives the
// amount 2v - 1 of the transform.
#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "render/render_support.h"

namespace {

using rtest::Edge;

constexpr int kW = 40;
constexpr int kH = 24;
// "Translate X" 20 % of a 40-pixel row moves content by 8 pixels at the full amount, so map values
// in sixteenths move it by whole pixels and every expectation below is exact.
constexpr int kTranslatePercent = 20;
constexpr float kFullShift = kW * kTranslatePercent / 100.0f;

// The two channels of a texel the map tests choose; the others never drive the amount here.
struct Texel {
  float alpha, red;
};

Texel Premultiplied(Texel t) {
  return {t.alpha, t.red * t.alpha};
}

Texel Mixed(Texel from, Texel toward, float f) {
  return {from.alpha * (1 - f) + toward.alpha * f, from.red * (1 - f) + toward.red * f};
}

float Read(Texel t, int channel) {
  return channel == kChannelAlpha ? t.alpha : t.red;
}

// One way of turning the map and input texels at a place into the value that drives the amount.
using Preparation = std::function<float(Texel map, Texel input, float f, int channel)>;

// The map premultiplied by its own alpha, then mixed toward the straight input by f.
float PreparedValue(Texel map, Texel input, float f, int channel) {
  return Read(Mixed(Premultiplied(map), input, f), channel);
}

float ShiftFor(float map_value) {
  return (2 * map_value - 1) * kFullShift;
}

struct MapCase {
  Texel map, input;
  int mix_percent;
  int channel;
};

class MapPassTest : public rtest::RenderTest {
 protected:
  // A straight, uniform alpha and red with green and blue stripes that show any movement.
  static vhost::Image Layer(Texel t) {
    vhost::Image img = rtest::Pattern(kW, kH, 32);
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        img.Set(x, y, 0, t.alpha);
        img.Set(x, y, 1, t.red);
      }
    return img;
  }

  // Renders the case with a uniform map over the whole frame and expects the input moved by the
  // whole-pixel shift the prepared value gives.
  void ExpectShift(const MapCase& k) {
    const float f = static_cast<float>(k.mix_percent) / 100.0f;
    const float shift = ShiftFor(PreparedValue(k.map, k.input, f, k.channel));
    ASSERT_EQ(shift, std::round(shift)) << "the cases are chosen for whole-pixel shifts";
    const vhost::Image input = Layer(k.input);
    const vhost::Image map = rtest::Uniform(kW, kH, 32, k.map.alpha, k.map.red, 0.0f, 0.0f);
    Set(PARAM_CHANNEL, k.channel);
    Set(PARAM_TRANSLATE_X, kTranslatePercent);
    Set(PARAM_MAP_MIX_INPUT, k.mix_percent);
    vhost::RenderResult r = Render(input, &map);
    ASSERT_EQ(r.err, PF_Err_NONE);
    const int dx = static_cast<int>(shift);
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x)
        for (int c = 0; c < 4; ++c)
          ASSERT_NEAR(r.output.Get(x, y, c), rtest::Shifted(input, x, y, c, dx, 0), 2e-4)
              << "expected a shift of " << dx << " at " << x << "," << y << " channel " << c;
  }

  // Whether some case moves the picture by a different amount under `other` than under the rule:
  // a table that no look-alike fails could not tell them apart.
  static bool TellsApart(const std::vector<MapCase>& cases, const Preparation& other) {
    for (const MapCase& k : cases) {
      const float f = static_cast<float>(k.mix_percent) / 100.0f;
      const float rule = ShiftFor(PreparedValue(k.map, k.input, f, k.channel));
      if (std::fabs(ShiftFor(other(k.map, k.input, f, k.channel)) - rule) >= 1) return true;
    }
    return false;
  }
};

// ---- Premultiplication --------------------------------------------------------------------------

TEST_F(MapPassTest, MapColourIsMultipliedByItsOwnAlpha) {
  const Texel opaque_input{1.0f, 0.3f};
  const std::vector<MapCase> cases = {
      {{0.5f, 1.0f}, opaque_input, 0, kChannelRed},     // red 0.5: no movement, not the full shift
      {{0.75f, 1.0f}, opaque_input, 0, kChannelRed},    // red 0.75: half the shift
      {{0.5f, 0.5f}, opaque_input, 0, kChannelRed},     // red 0.25: half the shift backwards
      {{0.75f, 1.0f}, opaque_input, 0, kChannelAlpha},  // alpha itself, not alpha squared
      {{0.25f, 1.0f}, opaque_input, 0, kChannelAlpha},
  };
  for (const MapCase& k : cases) {
    SCOPED_TRACE(testing::Message() << "map alpha " << k.map.alpha << " red " << k.map.red
                                    << " channel " << k.channel);
    ExpectShift(k);
  }
  const Preparation straight = [](Texel map, Texel, float, int channel) {
    return Read(map, channel);
  };
  const Preparation alpha_squared = [](Texel map, Texel, float, int channel) {
    return Read({map.alpha * map.alpha, map.red * map.alpha}, channel);
  };
  EXPECT_TRUE(TellsApart(cases, straight));
  EXPECT_TRUE(TellsApart(cases, alpha_squared));
}

// ---- The mix toward the input -------------------------------------------------------------------

TEST_F(MapPassTest, MixGoesFromThePremultipliedMapTowardTheStraightInput) {
  const std::vector<MapCase> cases = {
      {{1.0f, 0.75f}, {0.5f, 0.25f}, 25, kChannelRed},
      {{1.0f, 1.0f}, {0.5f, 0.5f}, 50, kChannelRed},
      {{1.0f, 0.0f}, {0.5f, 0.75f}, 100, kChannelRed},  // the input alone
      {{0.5f, 1.0f}, {1.0f, 0.0f}, 50, kChannelRed},    // premultiplied before the mix
      {{0.5f, 1.0f}, {1.0f, 0.3f}, 25, kChannelAlpha},  // the alpha is mixed too
  };
  for (const MapCase& k : cases) {
    SCOPED_TRACE(testing::Message() << "mix " << k.mix_percent << " % channel " << k.channel);
    ExpectShift(k);
  }
  const Preparation swapped = [](Texel map, Texel input, float f, int channel) {
    return Read(Mixed(input, Premultiplied(map), f), channel);
  };
  const Preparation unmixed = [](Texel map, Texel, float, int channel) {
    return Read(Premultiplied(map), channel);
  };
  const Preparation premultiplied_input = [](Texel map, Texel input, float f, int channel) {
    return Read(Mixed(Premultiplied(map), Premultiplied(input), f), channel);
  };
  const Preparation premultiplied_after_mix = [](Texel map, Texel input, float f, int channel) {
    return Read(Premultiplied(Mixed(map, input, f)), channel);
  };
  const Preparation colour_only = [](Texel map, Texel input, float f, int channel) {
    const Texel m = Premultiplied(map);
    return Read({m.alpha, Mixed(m, input, f).red}, channel);
  };
  EXPECT_TRUE(TellsApart(cases, swapped));
  EXPECT_TRUE(TellsApart(cases, unmixed));
  EXPECT_TRUE(TellsApart(cases, premultiplied_input));
  EXPECT_TRUE(TellsApart(cases, premultiplied_after_mix));
  EXPECT_TRUE(TellsApart(cases, colour_only));
}

// ---- What the softness blur reads ---------------------------------------------------------------

TEST_F(MapPassTest, WithAMapLayerTheBlurSoftensThePreparedMap) {
  // A uniform prepared map (red 1 at alpha 0.75 reads 0.75) comes out of the blur unchanged, so
  // softness must not move a picture whose own red is sharply patterned. "Repeat" keeps the blurred
  // map uniform up to the border.
  const vhost::Image input = rtest::Pattern(kW, kH, 32);
  const vhost::Image map = rtest::Uniform(kW, kH, 32, 0.75f, 1.0f, 0.0f, 0.0f);
  Set(PARAM_CHANNEL, kChannelRed);
  Set(PARAM_TRANSLATE_X, kTranslatePercent);
  Set(PARAM_EDGE_BEHAVIOR, kEdgeRepeat);
  vhost::RenderResult sharp = Render(input, &map);
  Set(PARAM_MAP_SOFTNESS, 4);
  vhost::RenderResult soft = Render(input, &map);
  vhost::RenderResult input_as_map = Render(input);
  ASSERT_EQ(sharp.err, PF_Err_NONE);
  ASSERT_EQ(soft.err, PF_Err_NONE);
  ASSERT_EQ(input_as_map.err, PF_Err_NONE);
  EXPECT_LT(rtest::MaxDifference(soft.output, sharp.output), 1e-5);
  const int dx = static_cast<int>(ShiftFor(0.75f));
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      for (int c = 0; c < 4; ++c)
        ASSERT_NEAR(soft.output.Get(x, y, c), rtest::Shifted(input, x, y, c, dx, 0, Edge::kRepeat),
                    2e-4)
            << x << "," << y << " channel " << c;
  // What a blur of the input would have made of the map must show in the picture.
  EXPECT_GT(rtest::MaxDifference(input_as_map.output, soft.output), 0.05f);
}

TEST_F(MapPassTest, WithoutAMapLayerTheBlurSoftensTheInputAsTheMap) {
  // An opaque input given as its own map layer prepares to itself, so both renders blur the same
  // texture; a blur of anything else (the empty map target) would tell them apart. The placement
  // pass rounds texel centres slightly, hence a tolerance well above float precision.
  const vhost::Image input = rtest::Pattern(kW, kH, 32);
  Set(PARAM_CHANNEL, kChannelRed);
  Set(PARAM_TRANSLATE_X, kTranslatePercent);
  vhost::RenderResult sharp = Render(input);
  Set(PARAM_MAP_SOFTNESS, 3);
  vhost::RenderResult without_layer = Render(input);
  vhost::RenderResult own_layer = Render(input, &input);
  ASSERT_EQ(sharp.err, PF_Err_NONE);
  ASSERT_EQ(without_layer.err, PF_Err_NONE);
  ASSERT_EQ(own_layer.err, PF_Err_NONE);
  EXPECT_LT(rtest::MaxDifference(without_layer.output, own_layer.output), 1e-4);
  EXPECT_GT(rtest::MaxDifference(without_layer.output, sharp.output), 0.05f);
}

// ---- The downscale after supersampling ----------------------------------------------------------

class SupersamplingTest : public rtest::RenderTest {};

// Scale 125 % about the centre at the full amount: sub-pixel (sx, sy) of output pixel (x, y) at
// factor f reads the replicated input, nearest, at its own supersampled coordinate. At 150 % the
// input's texel edges fall exactly between the middle sub-pixels, where the whole block and its
// middle have the same mean; at 125 % they fall elsewhere, and no sub-pixel lands on one.
float SubPixel(const vhost::Image& in, int f, int x, int y, int sx, int sy, int c) {
  const double u = (f * x + sx + 0.5) / (f * in.width);
  const double v = (f * y + sy + 0.5) / (f * in.height);
  const double cu = (u - 0.5) / 1.25 + 0.5, cv = (v - 0.5) / 1.25 + 0.5;
  return in.Get(static_cast<int>(std::floor(cu * in.width)),
                static_cast<int>(std::floor(cv * in.height)), c);
}

TEST_F(SupersamplingTest, FourAndEightTimesAverageTheMiddleTwoByTwoOfEachBlock) {
  const struct {
    int popup, factor, w, h;
  } factors[] = {{kAntiAliasing4x, 4, 16, 12}, {kAntiAliasing8x, 8, 12, 8}};
  for (const auto& s : factors) {
    SCOPED_TRACE(testing::Message() << s.factor << "x");
    const vhost::Image input = rtest::Pattern(s.w, s.h, 32);
    UseFullAmount();
    Set(PARAM_SCALE_X, 125);
    Set(PARAM_ANTI_ALIASING, s.popup);
    vhost::RenderResult r = Render(input);
    ASSERT_EQ(r.err, PF_Err_NONE);
    ASSERT_EQ(r.output.width, s.w);
    float whole_block_miss = 0;
    for (int y = 0; y < s.h; ++y)
      for (int x = 0; x < s.w; ++x)
        for (int c = 1; c < 4; ++c) {
          // One bilinear sample at the pixel's centre falls between sub-pixels f/2 - 1 and f/2.
          double middle = 0;
          for (int sy = s.factor / 2 - 1; sy <= s.factor / 2; ++sy)
            for (int sx = s.factor / 2 - 1; sx <= s.factor / 2; ++sx)
              middle += SubPixel(input, s.factor, x, y, sx, sy, c);
          ASSERT_NEAR(r.output.Get(x, y, c), middle / 4, 2e-4) << x << "," << y << " channel " << c;
          double whole = 0;
          for (int sy = 0; sy < s.factor; ++sy)
            for (int sx = 0; sx < s.factor; ++sx)
              whole += SubPixel(input, s.factor, x, y, sx, sy, c);
          whole /= s.factor * s.factor;
          whole_block_miss = std::max(whole_block_miss,
                                      std::fabs(r.output.Get(x, y, c) - static_cast<float>(whole)));
        }
    // The picture is one where a box filter over the whole block would give another result.
    EXPECT_GT(whole_block_miss, 0.05f);
  }
}

}  // namespace
