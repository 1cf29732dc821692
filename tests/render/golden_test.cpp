// Whole renders held to the exact bytes they had when these checksums were taken: a fixed set of
// configurations that between them walk every path of the render (both depths, every edge mode,
// every supersampling factor, a map layer of another size and place, the blur, iterations,
// aberration and "View Map"). A restructuring of the render or of our host must leave every one
// of them unchanged; a deliberate change of the picture updates the checksum with its reason.
//
// The checksums are of Mesa's llvmpipe, the GL every test here runs on; another driver rounds
// differently and gives other bytes.
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "render/render_support.h"

namespace {

constexpr int kW = 36;
constexpr int kH = 20;

// FNV-1a over the pixels of every row (padding excluded), so rowbytes may change freely.
uint64_t PixelChecksum(const vhost::Image& img) {
  uint64_t h = 1469598103934665603ull;
  for (int y = 0; y < img.height; ++y) {
    const uint8_t* row = img.Row(y);
    for (size_t i = 0; i < static_cast<size_t>(img.width) * img.PixelBytes(); ++i) {
      h ^= row[i];
      h *= 1099511628211ull;
    }
  }
  return h;
}

// A map whose every channel varies, so that any channel choice displaces unevenly.
vhost::Image VaryingMap(int w, int h, int bpc, int origin_x = 0, int origin_y = 0) {
  vhost::Image img = vhost::Image::Make(w, h, bpc, origin_x, origin_y);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      img.Set(x, y, 0, static_cast<float>((x * 5 + y * 9) % 17) / 16.0f);
      img.Set(x, y, 1, static_cast<float>(x) / static_cast<float>(w - 1));
      img.Set(x, y, 2, static_cast<float>(y) / static_cast<float>(h - 1));
      img.Set(x, y, 3, static_cast<float>((x * y) % 11) / 10.0f);
    }
  return img;
}

struct Golden {
  const char* name;
  int bpc;
  enum { kNoMap, kSameSize, kOtherSize } map;
  std::vector<std::pair<int, double>> controls;  // control index, panel value
  uint64_t checksum;
};

const std::vector<Golden>& Configurations() {
  static const std::vector<Golden> all = {
      {"8bit_none_noaa_translate",
       8,
       Golden::kSameSize,
       {{PARAM_CHANNEL, kChannelRed},
        {PARAM_TRANSLATE_X, 12.5},
        {PARAM_TRANSLATE_Y, -7},
        {PARAM_ANTI_ALIASING, kAntiAliasingNone}},
       0x6616bfb19a21efe4},
      {"32bit_repeat_2x_rotate",
       32,
       Golden::kSameSize,
       {{PARAM_CHANNEL, kChannelGreen},
        {PARAM_ROTATE, 37},
        {PARAM_EDGE_BEHAVIOR, kEdgeRepeat},
        {PARAM_ANTI_ALIASING, kAntiAliasing2x}},
       0x2008fdd11fc68a38},
      {"8bit_mirror_4x_scale",
       8,
       Golden::kSameSize,
       {{PARAM_CHANNEL, kChannelLuminance},
        {PARAM_SCALE_X, 140},
        {PARAM_SCALE_Y, 70},
        {PARAM_ANCHOR_X, 30},
        {PARAM_EDGE_BEHAVIOR, kEdgeMirrorRepeat},
        {PARAM_ANTI_ALIASING, kAntiAliasing4x}},
       0x4b5ac2114c56ec5d},
      {"32bit_edge_8x_translate",
       32,
       Golden::kSameSize,
       {{PARAM_CHANNEL, kChannelBlue},
        {PARAM_TRANSLATE_X, -20},
        {PARAM_EDGE_BEHAVIOR, kEdgeEdgeRepeat},
        {PARAM_ANTI_ALIASING, kAntiAliasing8x}},
       0x80a14f7d5b0ac487},
      {"32bit_smaller_offset_map",
       32,
       Golden::kOtherSize,
       {{PARAM_CHANNEL, kChannelRed},
        {PARAM_TRANSLATE_X, 15},
        {PARAM_ROTATE, -12},
        {PARAM_ANTI_ALIASING, kAntiAliasingNone}},
       0x14d2018e786f420c},
      {"8bit_smaller_map_2x_mix",
       8,
       Golden::kOtherSize,
       {{PARAM_CHANNEL, kChannelHue},
        {PARAM_TRANSLATE_Y, 18},
        {PARAM_MAP_MIX_INPUT, 40},
        {PARAM_ANTI_ALIASING, kAntiAliasing2x}},
       0x865b8521999e7837},
      {"32bit_blur_map_gamma_invert",
       32,
       Golden::kSameSize,
       {{PARAM_CHANNEL, kChannelSaturation},
        {PARAM_MAP_SOFTNESS, 3},
        {PARAM_MAP_GAMMA, 1.8},
        {PARAM_INVERT_MAP, 1},
        {PARAM_TRANSLATE_X, 10},
        {PARAM_ANTI_ALIASING, kAntiAliasingNone}},
       0xe11d925883314785},
      {"8bit_blur_without_map_legacy",
       8,
       Golden::kNoMap,
       {{PARAM_CHANNEL, kChannelLuminance},
        {PARAM_MAP_SOFTNESS, 2},
        {PARAM_MAP_INTERPRETATION, kMapInterpretationLegacy},
        {PARAM_TRANSLATE_X, 9},
        {PARAM_ANTI_ALIASING, kAntiAliasingNone}},
       0xf089a3f061c8cff3},
      {"32bit_iterations_trail",
       32,
       Golden::kSameSize,
       {{PARAM_CHANNEL, kChannelRed},
        {PARAM_ITERATIONS, 6},
        {PARAM_SHUTTER_DURATION, 80},
        {PARAM_ROTATE, 25},
        {PARAM_TRANSLATE_X, 8},
        {PARAM_ANTI_ALIASING, kAntiAliasingNone}},
       0x8eb74cebb93461fb},
      {"8bit_iterations_easing_2x",
       8,
       Golden::kSameSize,
       {{PARAM_CHANNEL, kChannelAlpha},
        {PARAM_ITERATIONS, 4},
        {PARAM_DISPLACEMENT_EASING, kEasingInOut},
        {PARAM_SCALE_X, 120},
        {PARAM_DISPLACEMENT_OFFSET, 0.3},
        {PARAM_ANTI_ALIASING, kAntiAliasing2x}},
       0xd90a7d7c6a3cb070},
      {"32bit_aberration_repeat",
       32,
       Golden::kSameSize,
       {{PARAM_CHANNEL, kChannelGreen},
        {PARAM_CA_RED, 1.4},
        {PARAM_CA_BLUE, 0.6},
        {PARAM_TRANSLATE_X, 14},
        {PARAM_EDGE_BEHAVIOR, kEdgeRepeat},
        {PARAM_ANTI_ALIASING, kAntiAliasingNone}},
       0xc87f4a85ae69c2ea},
      {"8bit_aberration_iterations_4x",
       8,
       Golden::kSameSize,
       {{PARAM_CHANNEL, kChannelRed},
        {PARAM_CA_GREEN, 1.3},
        {PARAM_ITERATIONS, 3},
        {PARAM_ROTATE, 15},
        {PARAM_EDGE_BEHAVIOR, kEdgeMirrorRepeat},
        {PARAM_ANTI_ALIASING, kAntiAliasing4x}},
       0xb9aa798e94aba434},
      {"32bit_view_map",
       32,
       Golden::kSameSize,
       {{PARAM_CHANNEL, kChannelHue},
        {PARAM_VIEW_MAP, 1},
        {PARAM_MAP_GAMMA, 0.7},
        {PARAM_ANTI_ALIASING, kAntiAliasingNone}},
       0xab7cc3a1777f72d3},
      {"8bit_view_map_smaller_map_blur",
       8,
       Golden::kOtherSize,
       {{PARAM_CHANNEL, kChannelRed},
        {PARAM_VIEW_MAP, 1},
        {PARAM_MAP_SOFTNESS, 1.5},
        {PARAM_ANTI_ALIASING, kAntiAliasingNone}},
       0xa500c2e29079450a},
      {"32bit_everything_8x",
       32,
       Golden::kOtherSize,
       {{PARAM_CHANNEL, kChannelLuminance},
        {PARAM_TRANSLATE_X, 11},
        {PARAM_ROTATE, -20},
        {PARAM_SCALE_X, 90},
        {PARAM_ITERATIONS, 3},
        {PARAM_CA_RED, 1.2},
        {PARAM_MAP_SOFTNESS, 1},
        {PARAM_EDGE_BEHAVIOR, kEdgeMirrorRepeat},
        {PARAM_ANTI_ALIASING, kAntiAliasing8x}},
       0x6082a4cc2f47bda5},
  };
  return all;
}

// Names the configuration instead of dumping its bytes when a case fails.
void PrintTo(const Golden& g, std::ostream* os) {
  *os << g.name;
}

class GoldenRenderTest : public rtest::RenderTest, public ::testing::WithParamInterface<Golden> {};

TEST_P(GoldenRenderTest, RenderKeepsItsBytes) {
  const Golden& g = GetParam();
  for (const auto& [index, value] : g.controls) Set(index, value);
  vhost::Image input = rtest::Pattern(kW, kH, g.bpc);
  vhost::Image map;
  if (g.map == Golden::kSameSize) map = VaryingMap(kW, kH, g.bpc);
  if (g.map == Golden::kOtherSize) map = VaryingMap(kW / 2 + 3, kH / 2 + 1, g.bpc, 7, 4);
  vhost::RenderResult r = Render(input, g.map == Golden::kNoMap ? nullptr : &map, g.bpc);
  ASSERT_EQ(r.err, PF_Err_NONE);
  ASSERT_EQ(r.output.width, kW);
  ASSERT_EQ(r.output.height, kH);
  const uint64_t sum = PixelChecksum(r.output);
  char shown[32];
  std::snprintf(shown, sizeof shown, "0x%016llx", static_cast<unsigned long long>(sum));
  EXPECT_EQ(sum, g.checksum) << g.name << " now renders " << shown;
}

INSTANTIATE_TEST_SUITE_P(Configurations, GoldenRenderTest, ::testing::ValuesIn(Configurations()),
                         [](const ::testing::TestParamInfo<Golden>& param_info) {
                           return std::string(param_info.param.name);
                         });

}  // namespace
