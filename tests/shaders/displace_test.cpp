// The displacement program on small layers. Inputs hold straight red-green-blue-alpha; the
// output is alpha first. Nearest filtering with clamp-to-edge: each case is laid out so that
// sampling coordinates fall on texel centres, so expectations are exact texel picks.
#include <cmath>

#include "params/popups.h"
#include "shader_harness.h"

namespace {

struct Xform {
  float tx = 0.0f, ty = 0.0f;
  float ax = 0.5f, ay = 0.5f;
  float sx = 1.0f, sy = 1.0f;
  float rot = 0.0f;
};

struct Settings {
  int usingAuxTex = 1;
  int srcL = kChannelRed;
  int invert = 0;
  int legacyB = 0;
  int viewMapL = 0;
  float gammaF = 1.0f;
  float offsetF = 0.0f;
  int easingL = kEasingNone;
  int bpc = 32;
  int iterL = 1;
  Xform prev;
  Xform next;
  int clampOverflowXformsL = 0;
  int usingCA = 0;
  float redMult = 1.0f, greenMult = 1.0f, blueMult = 1.0f;
};

// Straight texels, all different, none transparent.
Image Layer(int w, int h) {
  Image image = Image::Filled(w, h, {});
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      image.at(x, y) = {0.05f + 0.045f * float(x), 0.1f + 0.08f * float(y),
                        1.0f - 0.03f * float(x + y), 0.3f + 0.035f * float(x)};
    }
  }
  return image;
}

// A map whose red channel is `value` everywhere.
Image Map(int w, int h, float value) {
  return Image::Filled(w, h, {value, 0.0f, 0.0f, 1.0f});
}

// What the output shows of one straight texel: alpha first, all zero when transparent.
Px Shown(const Px& texel) {
  if (texel[3] <= 0.0f) return {};
  return {texel[3], texel[0], texel[1], texel[2]};
}

Px Grey(float v) {
  return {1.0f, v, v, v};
}

constexpr float kTol = 1e-6f;

class DisplaceTest : public ShaderTest {
 protected:
  Image Displace(const Settings& s, const Image& input, const Image& map) {
    UniformMap u;
    u["inTex"] = TEX2D(Upload(input));
    u["displaceTex"] = TEX2D(Upload(map));
    u["usingAuxTex"] = IVEC(s.usingAuxTex);
    u["srcL"] = IVEC(s.srcL);
    u["invert"] = IVEC(s.invert);
    u["legacyB"] = IVEC(s.legacyB);
    u["viewMapL"] = IVEC(s.viewMapL);
    u["gammaF"] = VEC(s.gammaF);
    u["offsetF"] = VEC(s.offsetF);
    u["easingL"] = IVEC(s.easingL);
    u["bpc"] = IVEC(s.bpc);
    u["resV"] = VEC2({float(input.width), float(input.height)});
    u["iterL"] = IVEC(s.iterL);
    const std::pair<const char*, const Xform*> ends[] = {{"prev_", &s.prev}, {"next_", &s.next}};
    for (const auto& [prefix, t] : ends) {
      const std::string p = prefix;
      u[p + "translateX"] = VEC(t->tx);
      u[p + "translateY"] = VEC(t->ty);
      u[p + "anchorX"] = VEC(t->ax);
      u[p + "anchorY"] = VEC(t->ay);
      u[p + "scaleX"] = VEC(t->sx);
      u[p + "scaleY"] = VEC(t->sy);
      u[p + "rot"] = VEC(t->rot);
    }
    u["clampOverflowXformsL"] = IVEC(s.clampOverflowXformsL);
    u["usingCA"] = IVEC(s.usingCA);
    u["redMult"] = VEC(s.redMult);
    u["greenMult"] = VEC(s.greenMult);
    u["blueMult"] = VEC(s.blueMult);
    return Draw(programs_.displaceProgram, u, input.width, input.height);
  }

  // The single value shown by the map view of a uniform map.
  float ViewedValue(Settings s, const Image& map) {
    s.viewMapL = 1;
    const Image out = Displace(s, Layer(map.width, map.height), map);
    const Px& p = out.at(0, 0);
    EXPECT_EQ(p[0], 1.0f);
    EXPECT_TRUE(p[1] == p[2] && p[2] == p[3]) << Show(p);
    return p[1];
  }
};

TEST_F(DisplaceTest, WorkedExampleShiftsContentByAFractionOfTheWidth) {
  // Standard interpretation: map 0.75 gives g = 0.5, so a translation of 0.1 of the width moves
  // the content by 0.05 of it: one pixel of twenty toward larger x.
  Image input = Layer(20, 3);
  for (int y = 0; y < 3; ++y) input.at(7, y) = {0.9f, 0.9f, 0.9f, 0.0f};
  Settings s;
  s.prev.tx = 0.1f;
  ExpectImage(
      Displace(s, input, Map(20, 3, 0.75f)),
      [&](int x, int y) { return Shown(input.clamped(x - 1, y)); }, kTol);
  // Mid-grey is still; below it the content moves the other way, down to g = -1 at 0.
  ExpectImage(
      Displace(s, input, Map(20, 3, 0.5f)), [&](int x, int y) { return Shown(input.at(x, y)); },
      kTol);
  ExpectImage(
      Displace(s, input, Map(20, 3, 0.25f)),
      [&](int x, int y) { return Shown(input.clamped(x + 1, y)); }, kTol);
  ExpectImage(
      Displace(s, input, Map(20, 3, 0.0f)),
      [&](int x, int y) { return Shown(input.clamped(x + 2, y)); }, kTol);
}

TEST_F(DisplaceTest, OffsetEnlargesTheStandardAmountOnBothSidesOfZero) {
  // Offset 0.5 and a translation of 0.2 of ten pixels: two pixels per unit of amount. Mid-grey
  // (amount exactly 0) moves the positive way.
  const Image input = Layer(10, 2);
  Settings s;
  s.offsetF = 0.5f;
  s.prev.tx = 0.2f;
  for (auto [map_value, pixels] : {std::pair{0.75f, 2}, std::pair{0.25f, -2}, std::pair{0.5f, 1}}) {
    ExpectImage(
        Displace(s, input, Map(10, 2, map_value)),
        [&](int x, int y) { return Shown(input.clamped(x - pixels, y)); }, kTol);
  }
}

TEST_F(DisplaceTest, ScaleEnlargesAboutTheAnchorInProportionToTheAmount) {
  const Image input = Layer(8, 8);
  Settings s;
  s.prev.sx = s.prev.sy = 2.0f;
  // g = 1 samples at 0.5 (uv - anchor) + anchor; g = 0.5 at 0.75 (uv - anchor) + anchor.
  for (auto [map_value, factor] : {std::pair{1.0f, 0.5}, std::pair{0.75f, 0.75}}) {
    for (auto [ax, ay] : {std::pair{0.5, 0.5}, std::pair{0.25, 0.75}}) {
      s.prev.ax = float(ax);
      s.prev.ay = float(ay);
      auto texel = [factor](int i, double anchor) {
        return int(std::floor((factor * ((i + 0.5) / 8.0 - anchor) + anchor) * 8.0));
      };
      ExpectImage(
          Displace(s, input, Map(8, 8, map_value)),
          [&](int x, int y) { return Shown(input.at(texel(x, ax), texel(y, ay))); }, kTol);
    }
  }
}

TEST_F(DisplaceTest, EasingCurvesBendTheAmount) {
  const Image half = Map(2, 2, 0.5f);
  Settings s;
  s.easingL = kEasingIn;
  EXPECT_NEAR(ViewedValue(s, half), 0.03125f, kTol);
  s.easingL = kEasingOut;
  EXPECT_NEAR(ViewedValue(s, half), 0.96875f, kTol);
  s.easingL = kEasingInOut;
  EXPECT_NEAR(ViewedValue(s, half), 0.5f, kTol);
  EXPECT_NEAR(ViewedValue(s, Map(2, 2, 0.25f)), 0.015625f, kTol);
  s.easingL = kEasingGap;  // any other value above "None" eases in and out
  EXPECT_NEAR(ViewedValue(s, Map(2, 2, 0.25f)), 0.015625f, kTol);
  s.easingL = kEasingNone;
  EXPECT_NEAR(ViewedValue(s, Map(2, 2, 0.25f)), 0.25f, kTol);
}

TEST_F(DisplaceTest, MapViewShowsTheValueWithoutGammaOrCentring) {
  // Standard interpretation: inverted and offset only, then shown times the map's alpha.
  Settings s;
  s.invert = 1;
  s.gammaF = 2.0f;
  s.offsetF = 0.1f;
  EXPECT_NEAR(ViewedValue(s, Image::Filled(2, 2, {0.3f, 0.0f, 0.0f, 0.5f})), 0.4f, kTol);
}

TEST_F(DisplaceTest, ChannelChoiceReadsTheMapOrTheLayer) {
  const Image map = Image::Filled(2, 2, {0.2f, 0.6f, 0.4f, 0.5f});
  // Hue of (0.2, 0.6, 0.4) is 150 degrees, saturation 0.4 / 0.6; luminance is the plain mean.
  const float expected[] = {0.0f,        0.2f, 0.6f, 0.4f, 0.5f, 0.0f, 150.0f / 360.0f,
                            0.4f / 0.6f, 0.4f, 0.0f};
  Settings s;
  for (int src = 0; src <= 9; ++src) {
    s.srcL = src;
    EXPECT_NEAR(ViewedValue(s, map), expected[src] * 0.5f, kTol) << "srcL " << src;
  }
  // Without an auxiliary map the layer itself is the map.
  s.srcL = kChannelRed;
  s.usingAuxTex = 0;
  s.viewMapL = 1;
  const Image input = Layer(3, 2);
  ExpectImage(
      Displace(s, input, map),
      [&](int x, int y) { return Grey(input.at(x, y)[0] * input.at(x, y)[3]); }, kTol);
}

TEST_F(DisplaceTest, EightBitRendersQuantiseTheAmount) {
  Settings s;
  s.bpc = 8;
  EXPECT_NEAR(ViewedValue(s, Map(2, 2, 0.3f)), 0.296875f, kTol);
  EXPECT_NEAR(ViewedValue(s, Map(2, 2, -0.3f)), -0.296875f, kTol);
  s.bpc = 32;
  EXPECT_NEAR(ViewedValue(s, Map(2, 2, 0.3f)), 0.3f, kTol);
}

TEST_F(DisplaceTest, EightBitRendersIgnoreOneStepEitherSideOfZero) {
  // Legacy interpretation, so the map value is the amount. A translation of 32 widths moves
  // the content one pixel of eight per 1/256 of amount.
  const Image input = Layer(8, 2);
  Settings s;
  s.legacyB = 1;
  s.bpc = 8;
  s.prev.tx = 32.0f;
  auto shifted = [&](float amount) { return Displace(s, input, Map(8, 2, amount)); };
  auto by = [&](int pixels) {
    return [&input, pixels](int x, int y) { return Shown(input.clamped(x - pixels, y)); };
  };
  ExpectImage(shifted(1.0f / 256.0f), by(0), kTol);
  ExpectImage(shifted(-1.0f / 256.0f), by(0), kTol);
  ExpectImage(shifted(0.003f), by(0), kTol);  // truncates to 0
  ExpectImage(shifted(2.0f / 256.0f), by(2), kTol);
  ExpectImage(shifted(-2.0f / 256.0f), by(-2), kTol);
  s.bpc = 32;
  ExpectImage(shifted(1.0f / 256.0f), by(1), kTol);
}

TEST_F(DisplaceTest, IterationsAverageAlongThePathShortOfItsEnd) {
  const Image input = Layer(10, 2);
  const Image map = Map(10, 2, 1.0f);  // g = 1
  Settings s;
  s.prev.tx = 0.1f;
  s.next = {0.5f, 0.3f, 0.2f, 0.9f, 3.0f, -2.0f, 45.0f};
  s.iterL = 0;
  ExpectImage(
      Displace(s, input, map), [](int, int) { return Px{}; }, 0.0f);
  // One sample: the end of the path plays no part.
  s.iterL = 1;
  ExpectImage(
      Displace(s, input, map), [&](int x, int y) { return Shown(input.clamped(x - 1, y)); }, kTol);
  // Two samples at fractions 0 and 1/2 of the way, averaged premultiplied.
  s.iterL = 2;
  s.prev = {};
  s.next = {};
  s.next.tx = 0.2f;
  ExpectImage(
      Displace(s, input, map),
      [&](int x, int y) -> Px {
        const Px& p = input.at(x, y);
        const Px& q = input.clamped(x - 1, y);
        const float a = 0.5f * (p[3] + q[3]);
        Px out = {a, 0.0f, 0.0f, 0.0f};
        for (int c = 0; c < 3; ++c) out[c + 1] = 0.5f * (p[c] * p[3] + q[c] * q[3]) / a;
        return out;
      },
      kTol);
}

TEST_F(DisplaceTest, ChromaticAberrationMultiplierOfZeroKeepsThatColourStill) {
  const Image input = Layer(10, 2);
  Settings s;
  s.prev.tx = 0.1f;  // one pixel at g = 1
  s.usingCA = 1;
  s.redMult = 0.0f;
  s.greenMult = 1.0f;
  s.blueMult = 2.0f;
  // Alpha and green move with the plain amount, blue twice as far, red not at all.
  ExpectImage(
      Displace(s, input, Map(10, 2, 1.0f)),
      [&](int x, int y) -> Px {
        return {input.clamped(x - 1, y)[3], input.at(x, y)[0], input.clamped(x - 1, y)[1],
                input.clamped(x - 2, y)[2]};
      },
      kTol);
}

TEST_F(DisplaceTest, NegativeScaleIsClampedToTransparentOrMirrors) {
  const Image input = Layer(6, 4);
  Settings s;
  s.prev.sx = s.prev.sy = -1.0f;
  s.clampOverflowXformsL = 1;
  ExpectImage(
      Displace(s, input, Map(6, 4, 1.0f)), [](int, int) { return Px{}; }, 0.0f);
  s.clampOverflowXformsL = 0;
  ExpectImage(
      Displace(s, input, Map(6, 4, 1.0f)),
      [&](int x, int y) { return Shown(input.at(5 - x, 3 - y)); }, kTol);
}

TEST_F(DisplaceTest, RotationOfANonSquareFrameDoesNotShear) {
  // A quarter turn of a 16 × 8 frame, measured in pixels: about the centre, the texel (x, y)
  // shows the one at (8 + (y + 0.5 - 4), 4 - (x + 0.5 - 8)); about a quarter of the width,
  // the one at (4 + (y + 0.5 - 4), 4 - (x + 0.5 - 4)).
  const Image input = Layer(16, 8);
  Settings s;
  s.prev.rot = 90.0f;
  ExpectImage(
      Displace(s, input, Map(16, 8, 1.0f)),
      [&](int x, int y) { return Shown(input.clamped(y + 4, 11 - x)); }, kTol);
  s.prev.ax = 0.25f;
  ExpectImage(
      Displace(s, input, Map(16, 8, 1.0f)),
      [&](int x, int y) { return Shown(input.clamped(y, 7 - x)); }, kTol);
}

TEST_F(DisplaceTest, TransparentLayerGivesAllZeros) {
  const Image input = Image::Filled(6, 3, {0.8f, 0.6f, 0.4f, 0.0f});
  Settings s;
  s.prev.tx = 0.2f;
  s.prev.rot = 30.0f;
  s.iterL = 3;
  s.next.tx = -0.1f;
  s.usingCA = 1;
  s.redMult = 1.5f;
  ExpectImage(
      Displace(s, input, Map(6, 3, 0.9f)), [](int, int) { return Px{}; }, 0.0f);
}

TEST_F(DisplaceTest, GammaOfANegativeAmountKeepsItsSign) {
  // Legacy interpretation applies gamma after the offset, so the amount can be negative.
  Settings s;
  s.legacyB = 1;
  s.gammaF = 2.0f;
  EXPECT_NEAR(ViewedValue(s, Map(2, 2, 0.5f)), 0.25f, kTol);
  s.offsetF = -1.0f;
  EXPECT_NEAR(ViewedValue(s, Map(2, 2, 0.5f)), -0.25f, kTol);
  s.gammaF = 0.5f;
  EXPECT_NEAR(ViewedValue(s, Map(2, 2, 0.25f)), -std::sqrt(0.75f), kTol);
  // 0 stays 0 even for a gamma of 0.
  s.gammaF = 0.0f;
  EXPECT_NEAR(ViewedValue(s, Map(2, 2, 1.0f)), 0.0f, 0.0f);

  // A float map below 0 in the standard interpretation: -0.5 bends to -(0.5^2.2) before
  // centring, an amount of about -1.435, which moves 0.1435 of the width: 2.87 pixels of 20.
  const Image input = Layer(20, 2);
  Settings standard;
  standard.gammaF = 2.2f;
  standard.prev.tx = 0.1f;
  ExpectImage(
      Displace(standard, input, Map(20, 2, -0.5f)),
      [&](int x, int y) { return Shown(input.clamped(x + 3, y)); }, kTol);
}

TEST_F(DisplaceTest, ZeroScaleCollapsesTheLayerLikeScalesJustAboveZero) {
  // Content shrunk to a point at the anchor: every texel of a small frame samples far beyond
  // the border and, clamped to the edge, shows the corner texel of its quadrant (mirrored for a
  // negative amount). Nothing infinite or NaN reaches a texture read.
  const Image input = Layer(8, 6);
  Settings s;
  s.prev.sx = s.prev.sy = 0.0f;
  auto corner = [&](int sign) {
    return [&input, sign](int x, int y) {
      const bool right = (x >= 4) == (sign > 0);
      const bool far_row = (y >= 3) == (sign > 0);
      return Shown(input.at(right ? 7 : 0, far_row ? 5 : 0));
    };
  };
  const Image at_zero = Displace(s, input, Map(8, 6, 1.0f));
  ExpectImage(at_zero, corner(1), kTol);
  ExpectImage(Displace(s, input, Map(8, 6, 0.75f)), corner(1), kTol);
  ExpectImage(Displace(s, input, Map(8, 6, 0.0f)), corner(-1), kTol);
  for (float tiny : {1e-3f, 1e-6f}) {
    s.prev.sx = s.prev.sy = tiny;
    const Image near_zero = Displace(s, input, Map(8, 6, 1.0f));
    EXPECT_EQ(near_zero.texels, at_zero.texels) << "scale " << tiny;
  }
  // A negative amount turns the effective scale negative, which the clamp catches.
  s.prev.sx = s.prev.sy = 0.0f;
  s.clampOverflowXformsL = 1;
  ExpectImage(
      Displace(s, input, Map(8, 6, 0.0f)), [](int, int) { return Px{}; }, 0.0f);
  // One axis at 0 leaves the other alone.
  s.clampOverflowXformsL = 0;
  s.prev.sy = 1.0f;
  ExpectImage(
      Displace(s, input, Map(8, 6, 1.0f)),
      [&](int x, int y) { return Shown(input.at(x >= 4 ? 7 : 0, y)); }, kTol);
}

}  // namespace
