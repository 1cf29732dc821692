// The displacement's variants seen from the host: a render drawn with the variant for its settings
// gives the bytes the general program gives (the module loaded by our host, once as it runs and
// once with VARNEX_GL_VARIANTS=0), a thread builds a variant once per set of settings, and a
// variant that cannot be had leaves the render on the general program.
#include <thread>
#include <utility>
#include <vector>

#include "gl/context.h"
#include "gl/program.h"
#include "gl/program_variants.h"
#include "render/render_support.h"
#include "support/effect_main.h"
#include "support/pairwise.h"
#include "support/scoped_env.h"

namespace {

constexpr int kW = 24;
constexpr int kH = 14;

// A map whose channels all vary, so that every channel choice displaces unevenly.
vhost::Image VaryingMap(int bpc) {
  vhost::Image img = vhost::Image::Make(kW, kH, bpc);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      img.Set(x, y, 0, static_cast<float>((x * 7 + y * 3) % 13) / 12.0f);
      img.Set(x, y, 1, static_cast<float>(x) / static_cast<float>(kW - 1));
      img.Set(x, y, 2, static_cast<float>(y) / static_cast<float>(kH - 1));
      img.Set(x, y, 3, static_cast<float>((x + y) % 5) / 4.0f);
    }
  return img;
}

// One dimension of the covering set: a control and the panel values it takes. The map layer and
// the depth are dimensions of the render job instead, under the pseudo-indices below.
constexpr int kMapDimension = -1;
constexpr int kDepthDimension = -2;
struct Dimension {
  int control;
  std::vector<double> values;
};
const std::vector<Dimension> kDimensions = {
    {kMapDimension, {0, 1}},
    {kDepthDimension, {8, 32}},
    {PARAM_CHANNEL,
     {kChannelRed, kChannelGreen, kChannelBlue, kChannelAlpha, kChannelHue, kChannelSaturation,
      kChannelLuminance}},
    {PARAM_INVERT_MAP, {0, 1}},
    {PARAM_MAP_INTERPRETATION, {kMapInterpretationStandard, kMapInterpretationLegacy}},
    {PARAM_VIEW_MAP, {0, 1}},
    {PARAM_DISPLACEMENT_EASING, {kEasingNone, kEasingIn, kEasingOut, kEasingInOut}},
    {PARAM_ITERATIONS, {1, 3}},
    {PARAM_CLAMP_NEGATIVE_SCALE, {0, 1}},
    {PARAM_CA_RED, {1, 1.3}},
    {PARAM_MAP_GAMMA, {1, 2.2}},
    {PARAM_SCALE_X, {120, -70}},
    {PARAM_MAP_SOFTNESS, {0, 2}},
    {PARAM_EDGE_BEHAVIOR, {kEdgeNone, kEdgeRepeat, kEdgeMirrorRepeat, kEdgeEdgeRepeat}},
    {PARAM_ANTI_ALIASING, {kAntiAliasingNone, kAntiAliasing2x}},
};

std::vector<std::vector<int>> CoveringRows() {
  std::vector<int> sizes;
  for (const Dimension& d : kDimensions) sizes.push_back(static_cast<int>(d.values.size()));
  return PairwiseRows(sizes, 27);
}

// The controls every row shares, so that pixels move in every row.
void SetMotion(vhost::Host& host) {
  host.controls().SetValue(PARAM_TRANSLATE_X, 9);
  host.controls().SetValue(PARAM_ROTATE, 14);
  host.controls().SetValue(PARAM_DISPLACEMENT_OFFSET, 0.1);
}

vhost::RenderResult RenderRow(vhost::Host& host, const std::vector<int>& row,
                              vhost::Timing timing) {
  int bpc = 8;
  bool with_map = false;
  for (size_t d = 0; d < kDimensions.size(); ++d) {
    const double value = kDimensions[d].values[static_cast<size_t>(row[d])];
    if (kDimensions[d].control == kMapDimension) {
      with_map = value != 0;
    } else if (kDimensions[d].control == kDepthDimension) {
      bpc = static_cast<int>(value);
    } else {
      host.controls().SetValue(kDimensions[d].control, value);
    }
  }
  const vhost::Image input = rtest::Pattern(kW, kH, bpc);
  const vhost::Image map = VaryingMap(bpc);
  vhost::RenderJob job;
  job.timing = timing;
  job.bpc = bpc;
  job.input = &input;
  job.map = with_map ? &map : nullptr;
  return host.Render(job);
}

// The product of the render's discrete settings is too many renders for a test, so an all-pairs
// covering set of them runs, each setting also meeting every edge mode, anti-aliasing, the blur
// and a negative scale.
class VariantIdentityTest : public rtest::RenderTest {
 protected:
  void SetUp() override {
    rtest::RenderTest::SetUp();
    general_ = std::make_unique<vhost::Host>(VARNEX_MODULE);
    general_->probe();
    {
      ScopedEnv off("VARNEX_GL_VARIANTS", "0");
      ASSERT_EQ(general_->GlobalSetup(), PF_Err_NONE);
    }
    ASSERT_EQ(general_->ParamsSetup(), PF_Err_NONE);
    for (vhost::Host* h : {&host(), general_.get()}) SetMotion(*h);
  }
  void TearDown() override {
    if (general_) {
      for (const std::string& leak : general_->probe().leaks()) ADD_FAILURE() << leak;
      general_.reset();
    }
    rtest::RenderTest::TearDown();
  }
  std::unique_ptr<vhost::Host> general_;
};

TEST_F(VariantIdentityTest, EveryCoveredSettingRendersTheGeneralProgramsBytes) {
  const std::vector<std::vector<int>> rows = CoveringRows();
  int differing = 0;
  for (size_t r = 0; r < rows.size(); ++r) {
    const vhost::RenderResult variant = RenderRow(host(), rows[r], DefaultTiming());
    const vhost::RenderResult general = RenderRow(*general_, rows[r], DefaultTiming());
    ASSERT_EQ(variant.err, PF_Err_NONE) << "row " << r;
    ASSERT_EQ(general.err, PF_Err_NONE) << "row " << r;
    if (!rtest::SamePixels(variant.output, general.output) && ++differing <= 5) {
      std::string settings;
      for (int v : rows[r]) settings += std::to_string(v) + " ";
      ADD_FAILURE() << "row " << r << " (value indices " << settings << ") differs by up to "
                    << rtest::MaxDifference(variant.output, general.output);
    }
  }
  EXPECT_EQ(differing, 0) << "of " << rows.size() << " rows";
}

// With the effect linked in, the process's count of variant builds and the thread's record are
// in view.
class VariantBuildTest : public rtest::RenderTest {
 protected:
  std::unique_ptr<vhost::Host> MakeHost() override {
    return std::make_unique<vhost::Host>(&EffectMain);
  }
  void SetUp() override {
    rtest::RenderTest::SetUp();
    input_ = rtest::Pattern(kW, kH, 8);
    map_ = VaryingMap(8);
    Set(PARAM_TRANSLATE_X, 10);
  }
  // The builds one render on the calling thread makes; it must succeed.
  int64_t BuildsOf(vhost::Host& h, const vhost::Image* map, vhost::RenderResult* result = nullptr) {
    const int64_t before = ProgramVariantBuilds();
    vhost::RenderJob job;
    job.timing = DefaultTiming();
    job.bpc = 8;
    job.input = &input_;
    job.map = map;
    vhost::RenderResult r = h.Render(job);
    EXPECT_EQ(r.err, PF_Err_NONE);
    if (result != nullptr) *result = std::move(r);
    return ProgramVariantBuilds() - before;
  }
  int LiveVariants() const {
    int live = 0;
    for (const ProgramVariant& slot : local_render_data->variants.slots)
      live += slot.lastUse != 0 ? 1 : 0;
    return live;
  }
  vhost::Image input_, map_;
};

TEST_F(VariantBuildTest, ASecondRenderOfTheSameSettingsBuildsNothing) {
  std::thread([&] {
    EXPECT_EQ(BuildsOf(host(), &map_), 1);
    EXPECT_EQ(BuildsOf(host(), &map_), 0);
    // Continuous controls are uniforms of the variant.
    Set(PARAM_TRANSLATE_X, -4);
    Set(PARAM_MAP_SOFTNESS, 3);
    EXPECT_EQ(BuildsOf(host(), &map_), 0);
    // A discrete one is not; nor is whether the map is a layer or the input itself.
    Set(PARAM_CHANNEL, kChannelHue);
    EXPECT_EQ(BuildsOf(host(), &map_), 1);
    // Without a map layer and a blur the input is its own map.
    Set(PARAM_MAP_SOFTNESS, 0);
    EXPECT_EQ(BuildsOf(host(), nullptr), 1);
    Set(PARAM_CHANNEL, kChannelLuminance);
    EXPECT_EQ(BuildsOf(host(), &map_), 0) << "the first variant is still kept";
    EXPECT_EQ(LiveVariants(), 3);
  }).join();
}

TEST_F(VariantBuildTest, AThreadKeepsABoundedNumberAndRebuildsTheLeastRecentlyUsed) {
  std::thread([&] {
    // Channel and easing give 7 × 4 = 28 variants; one more than a thread keeps is built.
    std::vector<std::pair<int, int>> settings;
    for (int channel : {kChannelRed, kChannelGreen, kChannelBlue, kChannelAlpha, kChannelHue,
                        kChannelSaturation, kChannelLuminance})
      for (int easing : {kEasingNone, kEasingIn, kEasingOut, kEasingInOut})
        settings.emplace_back(channel, easing);
    ASSERT_GT(settings.size(), static_cast<size_t>(kMaxProgramVariants));
    for (int i = 0; i <= kMaxProgramVariants; ++i) {
      Set(PARAM_CHANNEL, settings[static_cast<size_t>(i)].first);
      Set(PARAM_DISPLACEMENT_EASING, settings[static_cast<size_t>(i)].second);
      EXPECT_EQ(BuildsOf(host(), &map_), 1) << i;
    }
    EXPECT_EQ(LiveVariants(), kMaxProgramVariants);
    // The latest settings are still there; the very first went to make room.
    EXPECT_EQ(BuildsOf(host(), &map_), 0);
    Set(PARAM_CHANNEL, settings[0].first);
    Set(PARAM_DISPLACEMENT_EASING, settings[0].second);
    EXPECT_EQ(BuildsOf(host(), &map_), 1);
    EXPECT_EQ(BuildsOf(host(), &map_), 0);
    EXPECT_EQ(LiveVariants(), kMaxProgramVariants);
  }).join();
}

TEST_F(VariantBuildTest, WithoutAVariantTheGeneralProgramGivesTheSameBytes) {
  std::thread([&] {
    vhost::RenderResult with_variant;
    EXPECT_EQ(BuildsOf(host(), &map_, &with_variant), 1);
    // A build that failed is kept as a variant of name 0: the render falls back, and does not try
    // to build it again.
    for (ProgramVariant& slot : local_render_data->variants.slots) DeleteProgram(&slot.program);
    vhost::RenderResult fallback;
    EXPECT_EQ(BuildsOf(host(), &map_, &fallback), 0);
    EXPECT_FALSE(testimg::IsCleared(fallback.output));
    EXPECT_TRUE(rtest::SamePixels(with_variant.output, fallback.output));
  }).join();
}

TEST_F(VariantBuildTest, TheEnvironmentSwitchKeepsRendersOnTheGeneralProgram) {
  vhost::Host general(&EffectMain);
  general.probe();
  {
    ScopedEnv off("VARNEX_GL_VARIANTS", "0");
    ASSERT_EQ(general.GlobalSetup(), PF_Err_NONE);
  }
  ASSERT_EQ(general.ParamsSetup(), PF_Err_NONE);
  general.controls().SetValue(PARAM_ANTI_ALIASING, kAntiAliasingNone);
  general.controls().SetValue(PARAM_TRANSLATE_X, 10);
  std::thread([&] {
    vhost::RenderResult off;
    vhost::RenderResult on;
    EXPECT_EQ(BuildsOf(general, &map_, &off), 0);
    EXPECT_EQ(BuildsOf(host(), &map_, &on), 1) << "the switch belongs to the host that set it up";
    EXPECT_TRUE(rtest::SamePixels(on.output, off.output));
  }).join();
  EXPECT_TRUE(general.probe().leaks().empty());
}

}  // namespace
