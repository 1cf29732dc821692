// The bridge: renders equal the command's, its description of the controls is what the effect
// declares, and what it cannot render it refuses in words.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "bridge/controls.h"
#include "bridge/frame_time.h"
#include "bridge/renderer.h"
#include "hostapp/control_kinds.h"
#include "support/cli_support.h"
#include "support/rgba_frames.h"

extern "C" PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                             PF_ParamDef* params[], PF_LayerDef* output, void* extra);

namespace {

using testsupport::RgbaFrame;

vbridge::RgbaPixels PixelsOf(const RgbaFrame& frame) {
  return {frame.data(), frame.width, frame.height, static_cast<ptrdiff_t>(frame.width) * 4};
}

vbridge::RgbaTarget TargetOf(RgbaFrame& frame) {
  return {frame.data(), frame.width, frame.height, static_cast<ptrdiff_t>(frame.width) * 4};
}

// One control set both ways: in the panel's units for the bridge, as --set takes it.
struct Setting {
  ParamIndex control;
  double x;
  std::string cli;
};

struct RenderCase {
  const char* name;
  int width, height;
  bool with_map;
  int frame;
  int fps;
  std::vector<Setting> settings;
};

// Named by its case, so that CTest lists it by name.
void PrintTo(const RenderCase& c, std::ostream* out) {
  *out << c.name;
}

class BridgeRenderTest : public ::testing::TestWithParam<RenderCase> {};

// A frame through the bridge is the command's render of that frame, byte for byte: the layers,
// the controls in the panel's units and the time as seconds.
TEST_P(BridgeRenderTest, EqualsTheCommandsRender) {
  const RenderCase& c = GetParam();
  testsupport::TempDir dir;
  const RgbaFrame input = testsupport::PatternFrame(c.width, c.height, 1);
  const RgbaFrame map = testsupport::PatternFrame(c.width, c.height, 2);
  testsupport::WritePng(dir.path() / "in.png", input);
  testsupport::WritePng(dir.path() / "map.png", map);

  std::vector<std::string> args = {"render", (dir.path() / "in.png").string(),
                                   "-f",     std::to_string(c.frame),
                                   "--fps",  std::to_string(c.fps),
                                   "-o",     (dir.path() / "out.png").string()};
  if (c.with_map) args.insert(args.end(), {"--map", (dir.path() / "map.png").string()});
  vbridge::Renderer renderer;
  for (const Setting& s : c.settings) {
    args.insert(args.end(), {"--set", s.cli});
    renderer.Set(s.control, s.x);
  }
  const clitest::RunResult run = clitest::RunVarnex(args, dir);
  ASSERT_EQ(run.status, 0) << run.err;

  RgbaFrame output = testsupport::BlankFrame(c.width, c.height);
  const vbridge::RgbaPixels map_pixels = PixelsOf(map);
  renderer.Render(PixelsOf(input), c.with_map ? &map_pixels : nullptr,
                  {static_cast<double>(c.frame) / c.fps, 1.0 / c.fps}, TargetOf(output));
  EXPECT_TRUE(testsupport::FramesAgree(output, testsupport::ReadPng(dir.path() / "out.png"), 0));
}

INSTANTIATE_TEST_SUITE_P(
    Layers, BridgeRenderTest,
    ::testing::Values(RenderCase{"OwnMap",
                                 24,
                                 16,
                                 false,
                                 0,
                                 24,
                                 {{PARAM_ROTATE, 30, "Rotate=30"},
                                  {PARAM_TRANSLATE_X, 5, "Translate X=5"},
                                  {PARAM_SCALE_X, 110, "Scale X=110"},
                                  {PARAM_ITERATIONS, 3, "Iterations=3"},
                                  {PARAM_CHANNEL, 1, "Channel=Red"},
                                  {PARAM_CA_RED, 1.05, "Red=1.05"},
                                  {PARAM_EDGE_BEHAVIOR, 4, "Edge Behavior=Mirror Repeat"},
                                  {PARAM_ANTI_ALIASING, 4, "Anti-Aliasing=4x"}}},
                      RenderCase{"MapLayer",
                                 27,
                                 13,
                                 true,
                                 5,
                                 25,
                                 {{PARAM_TRANSLATE_Y, -7.5, "Translate Y=-7.5"},
                                  {PARAM_ROTATE, -45, "Rotate=-45"},
                                  {PARAM_INVERT_MAP, 1, "Invert Map=on"},
                                  {PARAM_MAP_SOFTNESS, 2, "Map Softness=2"},
                                  {PARAM_DISPLACEMENT_EASING, 3, "Displacement Easing=Ease In"},
                                  {PARAM_EDGE_BEHAVIOR, 3, "Edge Behavior=Repeat"}}}),
    [](const ::testing::TestParamInfo<RenderCase>& p) { return std::string(p.param.name); });

std::vector<std::string> PopupEntries(const std::string& text) {
  std::vector<std::string> items;
  size_t start = 0;
  for (size_t bar; (bar = text.find('|', start)) != std::string::npos; start = bar + 1)
    items.push_back(text.substr(start, bar - start));
  items.push_back(text.substr(start));
  return items;
}

// The description the bridge gives without starting the effect is what the effect declares to a
// host (what `varnex controls` lists): every control that holds a setting, in order, with its
// label, range and default.
TEST(BridgeControlsTest, DescribeWhatTheEffectDeclares) {
  vhost::Host host(&EffectMain);
  ASSERT_EQ(host.GlobalSetup(), PF_Err_NONE);
  ASSERT_EQ(host.ParamsSetup(), PF_Err_NONE);
  std::vector<const vbridge::ControlSpec*> described;
  for (const vbridge::ControlSpec& spec : vbridge::SettableControls()) described.push_back(&spec);

  size_t next = 0;
  for (int i = 1; i < host.controls().size(); ++i) {
    const vhost::Control& control = host.controls().at(i);
    const vhost::ControlKind& kind = vhost::KindOf(control.def.param_type);
    const bool driver_text =
        kind.form == vhost::ValueForm::kItem && (control.def.ui_flags & PF_PUI_DISABLED);
    const bool settable = !kind.cannot_set && kind.form != vhost::ValueForm::kNone && !driver_text;
    if (!settable) {
      EXPECT_EQ(vbridge::FindSettable(static_cast<ParamIndex>(i)), nullptr) << "control " << i;
      continue;
    }
    ASSERT_LT(next, described.size()) << "control " << i << " is not described";
    const vbridge::ControlSpec& spec = *described[next++];
    SCOPED_TRACE(spec.label);
    EXPECT_EQ(spec.index, i);
    EXPECT_EQ(spec.label, vhost::ControlLabel(control));
    const vhost::PanelRange range = kind.range(control.def);
    EXPECT_EQ(spec.default_x, range.dephault.x);
    if (spec.kind == vbridge::ControlKind::kPoint) {
      EXPECT_EQ(spec.default_y, range.dephault.y);
    }
    if (kind.has_slider) {
      EXPECT_EQ(spec.min, range.valid_min);
      EXPECT_EQ(spec.max, range.valid_max);
      EXPECT_EQ(spec.slider_min, range.slider_min);
      EXPECT_EQ(spec.slider_max, range.slider_max);
      EXPECT_EQ(spec.percent, range.percent);
    }
    if (kind.form == vhost::ValueForm::kItem) {
      EXPECT_EQ(spec.items, PopupEntries(control.text));
    }
  }
  EXPECT_EQ(next, described.size()) << "described controls the effect does not declare";
  ASSERT_EQ(host.GlobalSetdown(), PF_Err_NONE);
}

// Each fault is refused on its own, in words, and the output is left alone; then a good frame
// renders.
TEST(BridgeRendererTest, RefusesWhatItCannotRender) {
  vbridge::Renderer renderer;
  const RgbaFrame input = testsupport::PatternFrame(8, 8, 3);
  RgbaFrame output = testsupport::BlankFrame(8, 8);
  RgbaFrame small = testsupport::BlankFrame(4, 8);
  const vbridge::FrameTime at{0, 0};
  const auto refused = [&](vbridge::RgbaPixels in, vbridge::RgbaTarget out, const char* words) {
    try {
      renderer.Render(in, nullptr, at, out);
      ADD_FAILURE() << "rendered; expected a refusal saying \"" << words << "\"";
    } catch (const vbridge::RenderFailure& e) {
      EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
    }
  };
  vbridge::RgbaPixels no_pixels = PixelsOf(input);
  no_pixels.pixels = nullptr;
  refused(no_pixels, TargetOf(output), "has no pixels");
  vbridge::RgbaPixels huge = PixelsOf(input);
  huge.width = vhost::kMaxImageSide + 1;
  refused(huge, TargetOf(output), "pixels a side");
  vbridge::RgbaPixels short_rows = PixelsOf(input);
  short_rows.stride = 8;
  refused(short_rows, TargetOf(output), "fewer than its width takes");
  refused(PixelsOf(input), TargetOf(small), "differ in size");
  EXPECT_TRUE(testsupport::FramesAgree(output, testsupport::BlankFrame(8, 8), 0));

  EXPECT_THROW(renderer.Set(PARAM_TRANSLATE_X, 5001), std::invalid_argument);
  EXPECT_THROW(renderer.Set(PARAM_CHANNEL, 9), std::invalid_argument);
  EXPECT_THROW(renderer.Set(PARAM_VERSION, 1), std::invalid_argument);
  EXPECT_THROW(renderer.Set(PARAM_MAP_LAYER, 1), std::invalid_argument);
  EXPECT_EQ(renderer.Get(PARAM_TRANSLATE_X), 0);

  renderer.Set(PARAM_ITERATIONS, 2.6);
  EXPECT_EQ(renderer.Get(PARAM_ITERATIONS), 3);
  renderer.Render(PixelsOf(input), nullptr, at, TargetOf(output));
  EXPECT_FALSE(testsupport::FramesAgree(output, testsupport::BlankFrame(8, 8), 0));
}

// A frame placed in seconds gets the ticks the command gives that frame at that rate, for whole
// rates, NTSC rates, and FFmpeg's milliseconds (a frame every 40 "seconds").
TEST(FrameTimeTest, SecondsMeetTheCommandsTicks) {
  struct Case {
    double seconds, frame_seconds;
    A_long time, step;
    A_u_long scale;
  };
  const Case cases[] = {
      {5.0 / 25, 1.0 / 25, 5000, 1000, 25000},
      {7 * 1001.0 / 30000, 1001.0 / 30000, 7007, 1001, 30000},
      {0, 0, 0, 1000, 25000},
      {120, 40, 3000, 1000, 25},
  };
  for (const Case& c : cases) {
    const vhost::Timing t = vbridge::TimingAt(c.seconds, c.frame_seconds);
    EXPECT_EQ(t.current_time, c.time) << c.seconds << " s, frames of " << c.frame_seconds;
    EXPECT_EQ(t.time_step, c.step) << c.seconds << " s, frames of " << c.frame_seconds;
    EXPECT_EQ(t.time_scale, c.scale) << c.seconds << " s, frames of " << c.frame_seconds;
  }
}

}  // namespace
