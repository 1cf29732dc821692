// The declared controls as the host receives them. Saved projects store controls by id and the
// effect addresses them by index, so the expectations here are written out independently.
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "controls/controls_fixture.h"
#include "gl/context.h"
#include "params/popups.h"

namespace {

constexpr int LAYER = PF_Param_LAYER, POPUP = PF_Param_POPUP, CHECK = PF_Param_CHECKBOX,
              FLOAT = PF_Param_FLOAT_SLIDER, INT = PF_Param_SLIDER, ANGLE = PF_Param_ANGLE,
              POINT = PF_Param_POINT, BUTTON = PF_Param_BUTTON, START = PF_Param_GROUP_START,
              END = PF_Param_GROUP_END;
constexpr int NOVARY = 0x2, COLLAPSED = 0x20, SUPERVISE = 0x40, OLD = 0x80, DISABLED = 0x20;

struct ExpectedRow {
  int id;
  int kind;
  const char* name;
  const char* text;  // checkbox or button text, popup entries
  int flags;
  int ui_flags;
};

// Indices 1 to 69, without GL (the GPU popups read "NULL").
const ExpectedRow kExpected[] = {
    {0, LAYER, "Map Layer", "", 0, 0},
    {1, POPUP, "Channel", "Red|Green|Blue|Alpha|(-|Hue|Saturation|Luminance", 0, 0},
    {50, CHECK, "", "View Map", NOVARY, 0},
    {2, START, "Map Adjustments", "", COLLAPSED, 0},
    {3, CHECK, "Invert Map", "", 0, 0},
    {4, FLOAT, "Map Gamma", "", 0, 0},
    {5, FLOAT, "Map Softness", "", 0, 0},
    {64, FLOAT, "Map Mix Input", "", 0, 0},
    {6, FLOAT, "Displacement Offset", "", 0, 0},
    {36, POPUP, "Displacement Easing", "None|(-|Ease In|Ease Out|Ease In & Out", 0, 0},
    {43, POPUP, "Map Interpretation", "Standard|Legacy", OLD, 0},
    {42, BUTTON, "", "Reset Adjustments", SUPERVISE, 0},
    {7, END, "", "", 0, 0},
    {8, START, "Transform", "", 0, 0},
    {9, FLOAT, "Translate X", "", 0, 0},
    {10, FLOAT, "Translate Y", "", 0, 0},
    {11, ANGLE, "Rotate", "", 0, 0},
    {12, CHECK, "", "Uniform Scale", SUPERVISE | NOVARY, 0},
    {51, CHECK, "", "Clamp Negative Scale", NOVARY, 0},
    {13, FLOAT, "Scale X", "", 0, 0},
    {14, FLOAT, "Scale Y", "", 0, 0},
    {15, FLOAT, "Anchor X", "", 0, 0},
    {16, FLOAT, "Anchor Y", "", 0, 0},
    {40, BUTTON, "", "Reset Transforms", SUPERVISE, 0},
    {17, END, "", "", 0, 0},
    {65, START, "Iterations", "", COLLAPSED, 0},
    {63, INT, "Iterations", "", 0, 0},
    {66, FLOAT, "Shutter Duration", "", 0, 0},
    {67, BUTTON, "", "Reset Iterations", SUPERVISE, 0},
    {68, END, "", "", 0, 0},
    {19, START, "Chromatic Aberration", "", COLLAPSED, 0},
    {20, START, "Transform Multipliers", "", 0, 0},
    {21, END, "", "", 0, 0},
    {22, FLOAT, "Red", "", 0, 0},
    {23, FLOAT, "Green", "", 0, 0},
    {24, FLOAT, "Blue", "", 0, 0},
    {41, BUTTON, "", "Reset Multipliers", SUPERVISE, 0},
    {25, END, "", "", 0, 0},
    {18, POPUP, "Edge Behavior", "None|(-|Repeat|Mirror Repeat|Edge Repeat", 0, 0},
    {37, POPUP, "Anti-Aliasing", "None|(-|2x|4x|8x", 0, 0},
    {31, POPUP, "View", "Map|Result", 0, 0},
    {52, START, "About & Support", "", COLLAPSED, 0},
    {53, BUTTON, "Varnex v1.6.1", "Product Page", SUPERVISE, 0},
    {54, BUTTON, "", "Free Plugins", SUPERVISE, 0},
    {55, BUTTON, "GPU Hardware", "Get Support", SUPERVISE, 0},
    {56, POPUP, "Version", "NULL", NOVARY, DISABLED},
    {57, POPUP, "Vendor", "NULL", NOVARY, DISABLED},
    {58, POPUP, "Renderer", "NULL", NOVARY, DISABLED},
    {59, POPUP, "Shader Version", "NULL", NOVARY, DISABLED},
    {60, START, "", "", 0, DISABLED},
    {61, END, "", "", 0, 0},
    {62, END, "", "", 0, 0},
    {38, START, "Debug", "", COLLAPSED, 0},
    {26, POPUP, "Caching Behavior", "Video|Still", 0, 0},
    {27, FLOAT, "Left", "", 0, 0},
    {28, FLOAT, "Top", "", 0, 0},
    {29, FLOAT, "Right", "", 0, 0},
    {30, FLOAT, "Bottom", "", 0, 0},
    {32, START, "", "", 0, DISABLED},
    {33, END, "", "", 0, 0},
    {34, START, "", "", 0, DISABLED},
    {35, END, "", "", 0, 0},
    {44, POPUP, "Mode", "Gradient Ramp|Layer", 0, 0},
    {45, START, "Gradient Ramp", "", COLLAPSED, 0},
    {46, POINT, "Ramp Origin", "", 0, 0},
    {48, FLOAT, "Ramp Scale", "", 0, 0},
    {49, CHECK, "Link Anchor to Origin", "", 0, 0},
    {47, END, "", "", 0, 0},
    {39, END, "", "", 0, 0},
};
static_assert(sizeof kExpected / sizeof kExpected[0] == 69);

using ParamTableTest = ControlsTest;

TEST_F(ParamTableTest, DeclaresEveryControlWithItsIdKindNameTextAndFlags) {
  EXPECT_EQ(host().out_data().num_params, 70);
  for (int index = 1; index < PARAM_NUM_PARAMS; ++index) {
    const ExpectedRow& want = kExpected[index - 1];
    const vhost::Control& got = control(index);
    SCOPED_TRACE("index " + std::to_string(index));
    EXPECT_EQ(got.def.uu.id, want.id);
    EXPECT_EQ(got.def.param_type, want.kind);
    EXPECT_STREQ(got.def.name, want.name);
    EXPECT_EQ(got.text, want.text);
    EXPECT_EQ(got.def.flags, want.flags);
    EXPECT_EQ(got.def.ui_flags, want.ui_flags);
  }
}

TEST_F(ParamTableTest, GroupsNestAsThePanelShowsThem) {
  // Innermost enclosing group start of every index; 0 outside every group. A group's end belongs
  // to the group around it, so the empty groups ("Transform Multipliers", the blank and the
  // reserved ones) have no entry here.
  std::vector<int> want(PARAM_NUM_PARAMS, 0);
  auto fill = [&](int group, int first, int last) {
    for (int i = first; i <= last; ++i) want[i] = group;
  };
  fill(PARAM_MAP_ADJUSTMENTS_GROUP, 5, 12);
  fill(PARAM_TRANSFORM_GROUP, 15, 24);
  fill(PARAM_ITERATIONS_GROUP, 27, 29);
  fill(PARAM_CHROMATIC_ABERRATION_GROUP, 32, 37);
  fill(PARAM_ABOUT_SUPPORT_GROUP, 43, 51);
  fill(PARAM_DEBUG_GROUP, 54, 68);
  fill(PARAM_GRADIENT_RAMP_GROUP, 65, 67);

  std::vector<int> open;
  for (int i = 1; i < PARAM_NUM_PARAMS; ++i) {
    const int kind = control(i).def.param_type;
    if (kind == PF_Param_GROUP_END) {
      ASSERT_FALSE(open.empty()) << "group end without a start at " << i;
      open.pop_back();
    }
    EXPECT_EQ(open.empty() ? 0 : open.back(), want[i]) << "index " << i;
    if (kind == PF_Param_GROUP_START) open.push_back(i);
  }
  EXPECT_TRUE(open.empty());
}

struct FloatRow {
  int index;
  float valid_min, valid_max, slider_min, slider_max, dephault;
  int precision, display;
};

TEST_F(ParamTableTest, FloatSlidersCarryTheirRangesDefaultsAndDisplay) {
  const FloatRow rows[] = {
      {6, 0, 10, 0, 2, 1, 2, 0},
      {7, 0, 100, 0, 20, 0, 2, 0},
      {8, 0, 100, 0, 50, 0, 2, 1},
      {9, -10, 10, -1, 1, 0, 2, 0},
      {15, -5000, 5000, -100, 100, 0, 2, 1},
      {16, -5000, 5000, -100, 100, 0, 2, 1},
      {20, -5000, 5000, -100, 100, 100, 2, 1},
      {21, -5000, 5000, -100, 100, 100, 2, 1},
      {22, -5000, 5000, -100, 100, 50, 2, 1},
      {23, -5000, 5000, -100, 100, 50, 2, 1},
      {28, 0, 200, 0, 100, 100, 2, 1},
      {34, -10, 10, 0.9f, 1.1f, 1, 4, 0},
      {35, -10, 10, 0.9f, 1.1f, 1, 4, 0},
      {36, -10, 10, 0.9f, 1.1f, 1, 4, 0},
      {55, -1000, 1000, 0, 5, 0, 2, 0},
      {56, -1000, 1000, 0, 5, 0, 2, 0},
      {57, -1000, 1000, 0, 5, 0, 2, 0},
      {58, -1000, 1000, 0, 5, 0, 2, 0},
      {66, -1000, 1000, -100, 100, 100, 2, 1},
  };
  int float_sliders = 0;
  for (int i = 1; i < PARAM_NUM_PARAMS; ++i) float_sliders += control(i).def.param_type == FLOAT;
  EXPECT_EQ(float_sliders, static_cast<int>(std::size(rows)));

  for (const FloatRow& want : rows) {
    SCOPED_TRACE("index " + std::to_string(want.index));
    const PF_ParamDef record = host().controls().RecordAt(want.index, 0);
    ASSERT_EQ(record.param_type, FLOAT);
    const PF_FloatSliderDef& fs = record.u.fs_d;
    EXPECT_EQ(fs.valid_min, want.valid_min);
    EXPECT_EQ(fs.valid_max, want.valid_max);
    EXPECT_EQ(fs.slider_min, want.slider_min);
    EXPECT_EQ(fs.slider_max, want.slider_max);
    EXPECT_EQ(fs.dephault, want.dephault);
    EXPECT_EQ(fs.value, static_cast<double>(want.dephault));
    EXPECT_EQ(fs.precision, want.precision);
    EXPECT_EQ(fs.display_flags, want.display);
    EXPECT_EQ(fs.fs_flags, 0);
    EXPECT_EQ(fs.curve_tolerance, 0.05f);
  }
}

TEST_F(ParamTableTest, PopupsCountEveryEntryAndStartAtTheirDefaults) {
  struct PopupRow {
    int index, count, dephault;
  };
  const PopupRow rows[] = {{2, 8, 8},  {10, 5, 1}, {11, 2, 1}, {39, 5, 1}, {40, 5, 3}, {41, 2, 2},
                           {46, 1, 1}, {47, 1, 1}, {48, 1, 1}, {49, 1, 1}, {54, 2, 1}, {63, 2, 2}};
  for (const PopupRow& want : rows) {
    SCOPED_TRACE("index " + std::to_string(want.index));
    const PF_ParamDef record = host().controls().RecordAt(want.index, 0);
    ASSERT_EQ(record.param_type, POPUP);
    EXPECT_EQ(record.u.pd.num_choices, want.count);
    EXPECT_EQ(record.u.pd.dephault, want.dephault);
    EXPECT_EQ(record.u.pd.value, want.dephault);
  }
}

// A named popup value is the position of its entry in the text the panel shows.
TEST_F(ParamTableTest, PopupConstantsNameTheirEntries) {
  struct Named {
    int index, value;
    const char* entry;
  };
  const Named names[] = {
      {PARAM_CHANNEL, kChannelRed, "Red"},
      {PARAM_CHANNEL, kChannelGap, "(-"},
      {PARAM_CHANNEL, kChannelLuminance, "Luminance"},
      {PARAM_DISPLACEMENT_EASING, kEasingGap, "(-"},
      {PARAM_DISPLACEMENT_EASING, kEasingInOut, "Ease In & Out"},
      {PARAM_MAP_INTERPRETATION, kMapInterpretationLegacy, "Legacy"},
      {PARAM_EDGE_BEHAVIOR, kEdgeGap, "(-"},
      {PARAM_EDGE_BEHAVIOR, kEdgeEdgeRepeat, "Edge Repeat"},
      {PARAM_ANTI_ALIASING, kAntiAliasingGap, "(-"},
      {PARAM_ANTI_ALIASING, kAntiAliasing2x, "2x"},
      {PARAM_ANTI_ALIASING, kAntiAliasing8x, "8x"},
      {PARAM_VIEW, kViewResult, "Result"},
      {PARAM_CACHING_BEHAVIOR, kCachingStill, "Still"},
      {PARAM_MODE, kModeGradientRamp, "Gradient Ramp"},
  };
  for (const Named& want : names) {
    const PF_ParamDef record = host().controls().RecordAt(want.index, 0);
    std::vector<std::string> entries;
    std::stringstream text(record.u.pd.u.namesptr);
    for (std::string entry; std::getline(text, entry, '|');) entries.push_back(entry);
    ASSERT_LE(want.value, static_cast<int>(entries.size())) << want.entry;
    EXPECT_EQ(entries[want.value - 1], want.entry);
  }
}

TEST_F(ParamTableTest, OtherKindsStartAtTheirDefaults) {
  auto record = [&](int i) { return host().controls().RecordAt(i, 0); };
  EXPECT_EQ(record(PARAM_MAP_LAYER).u.ld.dephault, PF_LayerDefault_NONE);
  for (int i : {PARAM_VIEW_MAP, PARAM_INVERT_MAP, PARAM_CLAMP_NEGATIVE_SCALE,
                PARAM_LINK_ANCHOR_TO_ORIGIN}) {
    EXPECT_EQ(record(i).u.bd.dephault, 0) << i;
    EXPECT_EQ(record(i).u.bd.value, 0) << i;
  }
  EXPECT_EQ(record(PARAM_UNIFORM_SCALE).u.bd.dephault, 1);
  EXPECT_EQ(record(PARAM_UNIFORM_SCALE).u.bd.value, 1);
  EXPECT_EQ(record(PARAM_ROTATE).u.ad.dephault, 0);
  EXPECT_EQ(record(PARAM_ROTATE).u.ad.value, 0);

  const PF_SliderDef iterations = record(PARAM_ITERATIONS).u.sd;
  EXPECT_EQ(iterations.valid_min, 1);
  EXPECT_EQ(iterations.valid_max, 1000);
  EXPECT_EQ(iterations.slider_min, 1);
  EXPECT_EQ(iterations.slider_max, 5);
  EXPECT_EQ(iterations.dephault, 1);
  EXPECT_EQ(iterations.value, 1);

  const PF_PointDef origin = record(PARAM_RAMP_ORIGIN).u.td;
  EXPECT_EQ(origin.x_dephault, 50 << 16);
  EXPECT_EQ(origin.y_dephault, 50 << 16);
  EXPECT_EQ(origin.x_value, 50 << 16);
  EXPECT_EQ(origin.y_value, 50 << 16);
  EXPECT_EQ(origin.restrict_bounds, 0);
}

TEST_F(ParamTableTest, MapInterpretationReadsLegacyOnlyInProjectsOlderThanTheControl) {
  EXPECT_EQ(value(PARAM_MAP_INTERPRETATION), kMapInterpretationStandard);

  host().controls().set_old_project_indices({PARAM_MAP_INTERPRETATION, PARAM_DISPLACEMENT_EASING});
  ASSERT_EQ(host().ParamsSetup(), PF_Err_NONE);
  EXPECT_EQ(value(PARAM_MAP_INTERPRETATION), kMapInterpretationLegacy);
  // A control without the old-projects flag starts at its default in an old project too.
  EXPECT_EQ(value(PARAM_DISPLACEMENT_EASING), kEasingNone);
}

TEST_F(ParamTableTest, HostKeepsItsOwnCopyOfEveryString) {
  // The effect frees its label and driver texts when setup returns; what the host hands back
  // must point into its own storage.
  for (int i : {PARAM_CHANNEL, PARAM_VIEW_MAP, PARAM_RESET_TRANSFORMS, PARAM_VERSION}) {
    const PF_ParamDef record = host().controls().RecordAt(i, 0);
    const char* text = record.param_type == POPUP   ? record.u.pd.u.namesptr
                       : record.param_type == CHECK ? record.u.bd.u.nameptr
                                                    : record.u.button_d.u.namesptr;
    EXPECT_EQ(text, control(i).text.c_str()) << i;
  }
}

TEST_F(ParamTableTest, FailingAddStopsAtThatControlWithTheHostsError) {
  for (int failing : {1, 27, 42, 43, 69}) {
    SCOPED_TRACE("failing add of index " + std::to_string(failing));
    host().out_data().num_params = 1;
    probe().FailCall("add_param", failing, PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(host().ParamsSetup(), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(CallCount("add_param"), failing);
    EXPECT_EQ(host().controls().size(), failing);
    EXPECT_EQ(host().out_data().num_params, 1);
  }
  probe().ClearFaults();
  EXPECT_EQ(host().ParamsSetup(), PF_Err_NONE);
  EXPECT_EQ(host().out_data().num_params, 70);
}

// A global-data block as global setup leaves it, with the given driver texts.
PF_Handle MakeGlobalBlock(vhost::Host& host, const char* version, const char* vendor,
                          const char* renderer, const char* glsl) {
  PF_Handle handle = host.NewHandle(sizeof(LocalGLStruct));
  auto* block = static_cast<LocalGLStruct*>(*handle);
  std::memset(block, 0, sizeof *block);
  std::strncpy(block->glVersion, version, sizeof block->glVersion - 1);
  std::strncpy(block->glVendor, vendor, sizeof block->glVendor - 1);
  std::strncpy(block->glRenderer, renderer, sizeof block->glRenderer - 1);
  std::strncpy(block->glslVersion, glsl, sizeof block->glslVersion - 1);
  return handle;
}

TEST_F(ParamTableTest, GpuPopupsShowTheDriverTextsOfTheGlobalBlock) {
  host().out_data().global_data =
      MakeGlobalBlock(host(), "4.5 (Core Profile) Mesa 23.2", "Mesa", "llvmpipe", "4.50");
  ASSERT_EQ(host().ParamsSetup(), PF_Err_NONE);
  EXPECT_EQ(control(PARAM_VERSION).text, "4.5 (Core Profile) Mesa 23.2");
  EXPECT_EQ(control(PARAM_VENDOR).text, "Mesa");
  EXPECT_EQ(control(PARAM_RENDERER).text, "llvmpipe");
  EXPECT_EQ(control(PARAM_SHADER_VERSION).text, "4.50");
  for (int i = PARAM_VERSION; i <= PARAM_SHADER_VERSION; ++i)
    EXPECT_EQ(control(i).def.u.pd.num_choices, 1) << i;
}

TEST_F(ParamTableTest, GpuPopupsFollowTheRecordGlobalSetupBuilt) {
  ASSERT_EQ(host().GlobalSetup(), PF_Err_NONE);
  ASSERT_EQ(host().ParamsSetup(), PF_Err_NONE);
  const auto* block = static_cast<const LocalGLStruct*>(GlobalBlock(host()));
  ASSERT_NE(block, nullptr);
  if (block->glVersion[0] == '\0') {
    EXPECT_EQ(control(PARAM_VERSION).text, "NULL");
  } else {
    EXPECT_EQ(control(PARAM_VERSION).text, block->glVersion);
    EXPECT_EQ(control(PARAM_RENDERER).text, block->glRenderer);
  }
}

TEST_F(ParamTableTest, DriverTextWithTheSeparatorStaysOneEntry) {
  host().out_data().global_data = MakeGlobalBlock(host(), "3.3|core", "A|B|C", "gpu", "3.30");
  ASSERT_EQ(host().ParamsSetup(), PF_Err_NONE);
  EXPECT_EQ(control(PARAM_VERSION).text, "3.3/core");
  EXPECT_EQ(control(PARAM_VENDOR).text, "A/B/C");
  EXPECT_EQ(control(PARAM_VENDOR).def.u.pd.num_choices, 1);
}

TEST_F(ParamTableTest, GpuPopupsReadNullWithoutAUsableContext) {
  // A block whose context was never made: zero-filled, the version text empty.
  host().out_data().global_data = MakeGlobalBlock(host(), "", "vendor", "renderer", "glsl");
  ASSERT_EQ(host().ParamsSetup(), PF_Err_NONE);
  for (int i = PARAM_VERSION; i <= PARAM_SHADER_VERSION; ++i) EXPECT_EQ(control(i).text, "NULL");
  // A handle without a block.
  PF_Handle empty = host().NewHandle(8);
  *empty = nullptr;
  host().out_data().global_data = empty;
  ASSERT_EQ(host().ParamsSetup(), PF_Err_NONE);
  for (int i = PARAM_VERSION; i <= PARAM_SHADER_VERSION; ++i) EXPECT_EQ(control(i).text, "NULL");
  host().out_data().global_data = nullptr;
}

}  // namespace
