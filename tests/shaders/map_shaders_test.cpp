// The map preparation, blur and copy programs, drawn into float targets and read back.
#include <cmath>
#include <random>

#include "shader_harness.h"

namespace {

Matrix44f Identity() {
  Matrix44f m{};
  m.m[0] = m.m[5] = m.m[10] = m.m[15] = 1.0f;
  return m;
}

class SwizzleInTest : public ShaderTest {
 protected:
  // Draws into a target of the input's size unless `target_size` is given.
  Image Swizzle(const Image& input, int premult, float mix, const Image* second = nullptr,
                const Matrix44f& xform = Identity(), int target_size = 0) {
    UniformMap u;
    u["xform"] = MAT44(xform);
    u["videoTexture"] = TEX2D(Upload(input));
    u["premultB"] = IVEC(premult);
    u["mapInputMixF"] = VEC(mix);
    u["videoTexture2"] = TEX2D(second ? Upload(*second) : 0);
    if (target_size > 0) return Draw(programs_.swizzleInProgram, u, target_size, target_size);
    return Draw(programs_.swizzleInProgram, u, input.width, input.height);
  }
};

TEST_F(SwizzleInTest, TurnsAlphaFirstPixelsIntoRedGreenBlueAlpha) {
  Image input = Image::Filled(3, 2, {1.0f, 0.2f, 0.4f, 0.6f});
  input.at(2, 1) = {0.25f, -0.5f, 1.5f, 0.0f};
  const Image out = Swizzle(input, 0, 0.0f);
  ExpectImage(
      out,
      [](int x, int y) -> Px {
        if (x == 2 && y == 1) return {-0.5f, 1.5f, 0.0f, 0.25f};
        return {0.2f, 0.4f, 0.6f, 1.0f};
      },
      0.0f);
}

TEST_F(SwizzleInTest, PremultipliesOnlyWhenAsked) {
  const Image input = Image::Filled(2, 2, {0.5f, 0.2f, 0.4f, 0.8f});
  ExpectImage(
      Swizzle(input, 1, 0.0f),
      [](int, int) -> Px {
        return {0.1f, 0.2f, 0.4f, 0.5f};
      },
      1e-7f);
  ExpectImage(
      Swizzle(input, 0, 0.0f),
      [](int, int) -> Px {
        return {0.2f, 0.4f, 0.8f, 0.5f};
      },
      0.0f);
}

TEST_F(SwizzleInTest, MixesTheSecondImageAsItIs) {
  const Image input = Image::Filled(2, 2, {0.5f, 0.2f, 0.4f, 0.8f});
  const Image second = Image::Filled(2, 2, {0.9f, 0.7f, 0.3f, 1.0f});
  // The second image is already red-green-blue-alpha: it is mixed in without reordering.
  ExpectImage(
      Swizzle(input, 1, 1.0f, &second),
      [](int, int) -> Px {
        return {0.9f, 0.7f, 0.3f, 1.0f};
      },
      1e-7f);
  ExpectImage(
      Swizzle(input, 1, 0.5f, &second),
      [](int, int) -> Px {
        return {0.5f, 0.45f, 0.35f, 0.75f};
      },
      1e-6f);
  // At 0 the second image has no say, whatever it holds.
  ExpectImage(
      Swizzle(input, 1, 0.0f, &second),
      [](int, int) -> Px {
        return {0.1f, 0.2f, 0.4f, 0.5f};
      },
      1e-7f);
}

TEST_F(SwizzleInTest, PlacesTheQuadThroughARowMajorMatrix) {
  // x' = 0.5 x - 0.5 and y' = 0.5 y - 0.5: the quad covers the quarter of the target at its
  // first rows and columns. The translation sits in the last column of the mathematical matrix,
  // stored row by row.
  Matrix44f m = Identity();
  m.m[0] = 0.5f;
  m.m[3] = -0.5f;
  m.m[5] = 0.5f;
  m.m[7] = -0.5f;
  Image input = Image::Filled(4, 4, {});
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) input.at(x, y) = {1.0f, float(x), float(y), 0.5f};
  }
  const Image out = Swizzle(input, 0, 0.0f, nullptr, m, 8);
  ExpectImage(
      out,
      [](int x, int y) -> Px {
        if (x >= 4 || y >= 4) return {0.0f, 0.0f, 0.0f, 0.0f};
        return {float(x), float(y), 0.5f, 1.0f};
      },
      0.0f);
}

class BlurTest : public ShaderTest {
 protected:
  Image Blur(GLuint program, const Image& input, float radius, GLint filter = GL_NEAREST) {
    UniformMap u;
    u["videoTexture"] = TEX2D(Upload(input, filter));
    u["radiusF"] = VEC(radius);
    u["resV"] = VEC2({float(input.width), float(input.height)});
    return Draw(program, u, input.width, input.height);
  }
};

constexpr Px kImpulse = {1.0f, 2.0f, 3.0f, 4.0f};

Px Scaled(const Px& p, float k) {
  return {p[0] * k, p[1] * k, p[2] * k, p[3] * k};
}

float TapWeight(int i, int taps_each_side) {
  const float x = float(i) / float(taps_each_side);
  return std::exp(-0.5f * x * x / 0.06f);
}

TEST_F(BlurTest, RadiusOneReadsThreeTapsAPixelApart) {
  // A column of impulses: the horizontal pass spreads it along rows, every channel alike.
  Image input = Image::Filled(9, 3, {});
  for (int y = 0; y < 3; ++y) input.at(4, y) = kImpulse;
  const float side = TapWeight(1, 1);
  EXPECT_NEAR(side, 0.00024f, 0.000005f);
  const float total = 1.0f + 2.0f * side;
  ExpectImage(
      Blur(programs_.blurWProgram, input, 1.0f),
      [&](int x, int) -> Px {
        if (x == 4) return Scaled(kImpulse, 1.0f / total);
        if (x == 3 || x == 5) return Scaled(kImpulse, side / total);
        return {};
      },
      1e-6f);
  // The vertical pass leaves a column of equal values as it is.
  ExpectImage(
      Blur(programs_.blurHProgram, input, 1.0f), [&](int x, int y) { return input.at(x, y); },
      1e-6f);
}

TEST_F(BlurTest, VerticalPassBlursAlongColumns) {
  Image input = Image::Filled(3, 9, {});
  for (int x = 0; x < 3; ++x) input.at(x, 4) = kImpulse;
  const float side = TapWeight(1, 1);
  const float total = 1.0f + 2.0f * side;
  ExpectImage(
      Blur(programs_.blurHProgram, input, 1.0f),
      [&](int, int y) -> Px {
        if (y == 4) return Scaled(kImpulse, 1.0f / total);
        if (y == 3 || y == 5) return Scaled(kImpulse, side / total);
        return {};
      },
      1e-6f);
}

TEST_F(BlurTest, FractionalRadiusSpreadsSevenTapsOverExactlyTheRadius) {
  // Radius 2.5: three taps each side, 2.5 / 3 pixel apart. With bilinear filtering an impulse
  // at texel k is seen at a tap position p with weight max(0, 1 - |p - k|).
  const int k = 8;
  Image input = Image::Filled(17, 1, {});
  input.at(k, 0) = kImpulse;
  const Image out = Blur(programs_.blurWProgram, input, 2.5f, GL_LINEAR);
  float total = 0.0f;
  for (int i = -3; i <= 3; ++i) total += TapWeight(i, 3);
  ExpectImage(
      out,
      [&](int x, int) {
        float sum = 0.0f;
        for (int i = -3; i <= 3; ++i) {
          const float offset = float(x) + float(i) * (2.5f / 3.0f) - float(k);
          sum += TapWeight(i, 3) * std::fmax(0.0f, 1.0f - std::fabs(offset));
        }
        return Scaled(kImpulse, sum / total);
      },
      2e-3f);
  // Nothing reaches beyond the radius.
  EXPECT_TRUE(Near(out.at(k - 4, 0), {}, 0.0f));
  EXPECT_TRUE(Near(out.at(k + 4, 0), {}, 0.0f));
}

TEST_F(BlurTest, UniformImageComesOutUnchanged) {
  const Image input = Image::Filled(7, 5, {0.3f, 0.6f, 0.9f, 0.75f});
  for (float radius : {1.0f, 2.5f, 7.3f}) {
    for (GLuint program : {programs_.blurWProgram, programs_.blurHProgram}) {
      SCOPED_TRACE(radius);
      ExpectImage(
          Blur(program, input, radius, GL_LINEAR),
          [](int, int) -> Px {
            return {0.3f, 0.6f, 0.9f, 0.75f};
          },
          1e-6f);
    }
  }
}

TEST_F(BlurTest, ZeroRadiusCopiesInsteadOfDividingZeroByZero) {
  Image input = Image::Filled(5, 3, {});
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 5; ++x) input.at(x, y) = {float(x), float(y), 0.5f, 1.0f};
  }
  for (GLuint program : {programs_.blurWProgram, programs_.blurHProgram}) {
    ExpectImage(
        Blur(program, input, 0.0f), [&](int x, int y) { return input.at(x, y); }, 1e-6f);
  }
}

TEST_F(ShaderTest, IdentityCopiesExactly) {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> value(-3.0f, 3.0f);
  Image input = Image::Filled(6, 5, {});
  for (Px& p : input.texels) p = {value(random), value(random), value(random), value(random)};
  input.at(0, 0) = {1e-30f, -0.0f, 65504.5f, 1.0f / 3.0f};
  UniformMap u;
  u["inTex"] = TEX2D(Upload(input));
  const Image out = Draw(programs_.identityProgram, u, input.width, input.height);
  for (size_t i = 0; i < input.texels.size(); ++i) {
    EXPECT_EQ(out.texels[i], input.texels[i]) << "texel " << i;
  }
}

}  // namespace
