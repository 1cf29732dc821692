// The displacement program against its reference transcription, bit for bit. The program is laid
// out for renderers that execute every branch (one texture read per sample, one sample call per
// loop, selects instead of branches); none of that may change a single output bit.
#include <cstring>
#include <random>

#include "reference_displace.h"
#include "shader_harness.h"
#include "shaders/glsl.h"

namespace {

constexpr int kWidth = 29;
constexpr int kHeight = 17;

// Values across and beyond 0..1, with the exact values the curves and thresholds single out.
float Channel(std::mt19937& rng) {
  static constexpr float kExact[] = {0.0f, 0.25f, 0.5f, 0.75f, 1.0f, 0.5f + 1.0f / 512.0f};
  std::uniform_int_distribution<int> pick(0, 9);
  const int k = pick(rng);
  if (k < 6) return kExact[k];
  return std::uniform_real_distribution<float>(-0.2f, 1.2f)(rng);
}

Image RandomImage(std::mt19937& rng) {
  Image image = Image::Filled(kWidth, kHeight, {});
  for (Px& p : image.texels) {
    for (float& c : p) c = Channel(rng);
    // Some texels transparent, the rest with alpha in 0..1.
    p[3] = std::fabs(p[3]) > 1.0f ? 0.0f : std::fabs(p[3]);
  }
  return image;
}

template <typename T>
T OneOf(std::mt19937& rng, std::initializer_list<T> values) {
  std::uniform_int_distribution<size_t> pick(0, values.size() - 1);
  return values.begin()[pick(rng)];
}

float Between(std::mt19937& rng, float lo, float hi) {
  return std::uniform_real_distribution<float>(lo, hi)(rng);
}

void RandomTransform(std::mt19937& rng, const std::string& prefix, UniformMap* u) {
  (*u)[prefix + "translateX"] = VEC(OneOf(rng, {0.0f, Between(rng, -0.6f, 0.6f)}));
  (*u)[prefix + "translateY"] = VEC(OneOf(rng, {0.0f, Between(rng, -0.6f, 0.6f)}));
  (*u)[prefix + "anchorX"] = VEC(OneOf(rng, {0.5f, Between(rng, -0.5f, 1.5f)}));
  (*u)[prefix + "anchorY"] = VEC(OneOf(rng, {0.5f, Between(rng, -0.5f, 1.5f)}));
  (*u)[prefix + "scaleX"] = VEC(OneOf(rng, {1.0f, 0.0f, -1.0f, Between(rng, -3.0f, 3.0f)}));
  (*u)[prefix + "scaleY"] = VEC(OneOf(rng, {1.0f, 0.0f, 2.0f, Between(rng, -3.0f, 3.0f)}));
  (*u)[prefix + "rot"] = VEC(OneOf(rng, {0.0f, 90.0f, Between(rng, -720.0f, 720.0f)}));
}

UniformMap RandomSettings(std::mt19937& rng) {
  UniformMap u;
  u["usingAuxTex"] = IVEC(OneOf(rng, {0, 1}));
  u["srcL"] = IVEC(OneOf(rng, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  u["invert"] = IVEC(OneOf(rng, {0, 1}));
  u["legacyB"] = IVEC(OneOf(rng, {0, 0, 1, 2}));
  u["viewMapL"] = IVEC(OneOf(rng, {0, 0, 0, 1}));
  u["gammaF"] = VEC(OneOf(rng, {1.0f, 1.0f, 0.0f, 0.45f, 2.2f, Between(rng, 0.0f, 10.0f)}));
  u["offsetF"] = VEC(OneOf(rng, {0.0f, 0.0f, 0.3f, -0.25f, Between(rng, -10.0f, 10.0f)}));
  u["easingL"] = IVEC(OneOf(rng, {0, 1, 2, 3, 4, 5, 6}));
  u["bpc"] = IVEC(OneOf(rng, {8, 32}));
  u["resV"] = VEC2({float(kWidth), float(kHeight)});
  u["iterL"] = IVEC(OneOf(rng, {1, 1, 0, -1, 2, 3, 8}));
  RandomTransform(rng, "prev_", &u);
  RandomTransform(rng, "next_", &u);
  u["clampOverflowXformsL"] = IVEC(OneOf(rng, {0, 1}));
  u["usingCA"] = IVEC(OneOf(rng, {0, 1, 1, 2}));
  u["redMult"] = VEC(OneOf(rng, {1.0f, 0.0f, Between(rng, -2.0f, 3.0f)}));
  u["greenMult"] = VEC(OneOf(rng, {1.0f, 0.0f, Between(rng, -2.0f, 3.0f)}));
  u["blueMult"] = VEC(OneOf(rng, {1.0f, 0.0f, Between(rng, -2.0f, 3.0f)}));
  return u;
}

std::string Exact(const Px& p) {
  char text[128];
  std::snprintf(text, sizeof text, "(%.9g, %.9g, %.9g, %.9g)", p[0], p[1], p[2], p[3]);
  return text;
}

std::string Describe(const UniformMap& u) {
  std::string text;
  for (const auto& [name, value] : u) {
    if (value.type == kUniformTEX2D) continue;
    char item[96];
    if (value.type == kUniformIVEC) {
      std::snprintf(item, sizeof item, "%s=%d ", name.c_str(), value.value.i[0]);
    } else {
      std::snprintf(item, sizeof item, "%s=%.9g ", name.c_str(), value.value.f[0]);
    }
    text += item;
  }
  return text;
}

class DisplaceEquivalenceTest : public ShaderTest {
 protected:
  static void SetUpTestSuite() {
    ShaderTest::SetUpTestSuite();
    if (ctx_ == nullptr) return;
    reference_ = CompileReference();
  }
  static void TearDownTestSuite() {
    if (ctx_ != nullptr) {
      SetCurrentContext(ctx_);
      glDeleteProgram(reference_);
      reference_ = 0;
    }
    ShaderTest::TearDownTestSuite();
  }

  static GLuint CompileReference() {
    const ShaderStageWord stages[] = {GL_VERTEX_SHADER, StageSource(kVertIdentitySource),
                                      GL_FRAGMENT_SHADER, StageSource(kReferenceDisplaceSource), 0};
    return CreateProgram(stages, "");
  }

  void SetWrap(GLuint texture, GLint wrap, GLint filter) {
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrap);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrap);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    glBindTexture(GL_TEXTURE_2D, 0);
  }

  static inline GLuint reference_ = 0;
};

TEST_F(DisplaceEquivalenceTest, EveryOutputBitMatchesTheReference) {
  ASSERT_NE(reference_, 0u) << "reference program did not link";
  std::mt19937 rng(20261208);
  constexpr int kCases = 400;
  int differing_cases = 0;
  for (int i = 0; i < kCases; ++i) {
    UniformMap u = RandomSettings(rng);
    const GLuint input = Upload(RandomImage(rng));
    const GLuint map = Upload(RandomImage(rng));
    SetWrap(input,
            OneOf(rng, {GL_CLAMP_TO_BORDER, GL_REPEAT, GL_MIRRORED_REPEAT, GL_CLAMP_TO_EDGE}),
            OneOf(rng, {GL_LINEAR, GL_NEAREST}));
    SetWrap(map, GL_CLAMP_TO_EDGE, GL_LINEAR);
    u["inTex"] = TEX2D(input);
    u["displaceTex"] = TEX2D(map);

    Image ours;
    Image reference;
    // The target helper reports its filter on standard output; that is not what is tested here.
    CaptureOutput([&] {
      ours = Draw(programs_.displaceProgram, u, kWidth, kHeight);
      reference = Draw(reference_, u, kWidth, kHeight);
    });
    for (GLuint texture : {input, map}) glDeleteTextures(1, &texture);
    textures_.resize(textures_.size() - 2);

    int first = -1;
    for (size_t t = 0; t < ours.texels.size() && first < 0; ++t) {
      if (std::memcmp(&ours.texels[t], &reference.texels[t], sizeof(Px)) != 0) {
        first = static_cast<int>(t);
      }
    }
    if (first >= 0 && ++differing_cases <= 5) {
      ADD_FAILURE() << "case " << i << " differs first at texel (" << first % kWidth << ", "
                    << first / kWidth << "): " << Exact(ours.texels[first]) << " instead of "
                    << Exact(reference.texels[first]) << "\n  " << Describe(u);
    }
  }
  EXPECT_EQ(differing_cases, 0) << "of " << kCases << " cases";
}

}  // namespace
