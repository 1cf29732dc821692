// The displacement program against its reference transcription, bit for bit. The program is laid
// out for renderers that execute every branch (one texture read per sample, one sample call per
// loop, selects instead of branches); none of that may change a single output bit. Its variants,
// which fix a render's discrete settings at compile time, are held to the general program the
// same way.
#include <cstring>
#include <random>

#include "reference_displace.h"
#include "render/displace_variant.h"
#include "shader_harness.h"
#include "shaders/glsl.h"
#include "support/pairwise.h"

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

  // Random input and map textures with random edge modes and filters for `u`'s two samplers.
  void BindRandomTextures(std::mt19937& rng, UniformMap* u) {
    const GLuint input = Upload(RandomImage(rng));
    const GLuint map = Upload(RandomImage(rng));
    SetWrap(input,
            OneOf(rng, {GL_CLAMP_TO_BORDER, GL_REPEAT, GL_MIRRORED_REPEAT, GL_CLAMP_TO_EDGE}),
            OneOf(rng, {GL_LINEAR, GL_NEAREST}));
    SetWrap(map, GL_CLAMP_TO_EDGE, GL_LINEAR);
    (*u)["inTex"] = TEX2D(input);
    (*u)["displaceTex"] = TEX2D(map);
  }
  void DeleteTextures() {
    for (GLuint texture : textures_) glDeleteTextures(1, &texture);
    textures_.clear();
  }

  // Adds a failure for the first few cases whose images differ in any bit; returns whether they do.
  static bool Differs(const Image& ours, const Image& theirs, const std::string& what,
                      const UniformMap& u, int* differing_cases) {
    int first = -1;
    for (size_t t = 0; t < ours.texels.size() && first < 0; ++t) {
      if (std::memcmp(&ours.texels[t], &theirs.texels[t], sizeof(Px)) != 0) {
        first = static_cast<int>(t);
      }
    }
    if (first < 0) return false;
    if (++*differing_cases <= 5) {
      ADD_FAILURE() << what << " differs first at texel (" << first % kWidth << ", "
                    << first / kWidth << "): " << Exact(ours.texels[first]) << " instead of "
                    << Exact(theirs.texels[first]) << "\n  " << Describe(u);
    }
    return true;
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
    BindRandomTextures(rng, &u);
    Image ours;
    Image reference;
    // The target helper reports its filter on standard output; that is not what is tested here.
    CaptureOutput([&] {
      ours = Draw(programs_.displaceProgram, u, kWidth, kHeight);
      reference = Draw(reference_, u, kWidth, kHeight);
    });
    DeleteTextures();
    Differs(ours, reference, "case " + std::to_string(i), u, &differing_cases);
  }
  EXPECT_EQ(differing_cases, 0) << "of " << kCases << " cases";
}

// The discrete settings a variant fixes, with the values a render sends and the neighbours the
// general program treats alike: values outside the popups and separators, aberration and legacy
// flags above 1. "gammaF" is 1 or some other gamma; each aberration factor is 1 (a channel the
// variant takes from the plain sample) or some other factor. The iteration count is not fixed by a
// variant but changes what the fixed settings reach, so it varies with them.
struct Setting {
  const char* name;
  std::vector<int> values;
};
const std::vector<Setting> kVariantSettings = {
    {"usingAuxTex", {0, 1}}, {"srcL", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
    {"invert", {0, 1}},      {"legacyB", {0, 1, 2}},
    {"viewMapL", {0, 1}},    {"easingL", {0, 1, 2, 3, 4, 5, 6}},
    {"bpc", {8, 32}},        {"clampOverflowXformsL", {0, 1}},
    {"usingCA", {0, 1, 2}},  {"iterL", {-1, 0, 1, 2, 3, 8, 9, 16}},
    {"gammaF", {1, 0}},      {"redMult", {1, 0}},
    {"greenMult", {1, 0}},   {"blueMult", {1, 0}},
};

// The full product of these settings is far too many programs to build in a test, so it runs an
// all-pairs covering set: every value of each setting meets every value of each other in some
// variant. Everything else (transforms, offset, multipliers, images, edge modes, filters) is
// random.
TEST_F(DisplaceEquivalenceTest, EveryVariantMatchesTheGeneralProgramBitForBit) {
  std::vector<int> sizes;
  for (const Setting& s : kVariantSettings) sizes.push_back(static_cast<int>(s.values.size()));
  const std::vector<std::vector<int>> rows = PairwiseRows(sizes, 18);
  std::mt19937 rng(20261209);
  int differing_cases = 0;
  for (size_t r = 0; r < rows.size(); ++r) {
    UniformMap u = RandomSettings(rng);
    for (size_t d = 0; d < kVariantSettings.size(); ++d) {
      const Setting& s = kVariantSettings[d];
      const int value = s.values[static_cast<size_t>(rows[r][d])];
      const std::string name = s.name;
      if (name == "gammaF") {
        u[s.name] = VEC(value == 1 ? 1.0f : OneOf(rng, {0.0f, 0.45f, 2.2f, Between(rng, 0, 10)}));
      } else if (name.size() > 4 && name.compare(name.size() - 4, 4, "Mult") == 0) {
        u[s.name] = VEC(value == 1 ? 1.0f : OneOf(rng, {0.0f, -1.0f, Between(rng, -2, 3)}));
      } else {
        u[s.name] = IVEC(value);
      }
    }
    BindRandomTextures(rng, &u);
    const std::string prefix = DisplaceVariantPrefix(u);
    ASSERT_FALSE(prefix.empty());
    uint32_t variant = 0;
    Image general;
    Image fixed;
    CaptureOutput([&] {
      variant = CreateProgram(DisplaceVariantStages(), prefix.c_str());
      general = Draw(programs_.displaceProgram, u, kWidth, kHeight);
      fixed = Draw(variant, u, kWidth, kHeight);
    });
    ASSERT_NE(variant, 0u) << prefix;
    // Fixed settings are constants of the variant, no longer uniforms to set.
    for (const char* name : {"usingAuxTex", "srcL", "bpc", "usingCA"})
      EXPECT_EQ(glGetUniformLocation(variant, name), -1) << name;
    DeleteProgram(&variant);
    DeleteTextures();
    Differs(fixed, general, "variant " + std::to_string(r), u, &differing_cases);
  }
  EXPECT_EQ(differing_cases, 0) << "of " << rows.size() << " variants";
}

}  // namespace
