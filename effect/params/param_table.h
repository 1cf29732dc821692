// The effect's controls as data: one row per control, in declaration order, index 1 onward (the
// host supplies the input layer at index 0). A control's position fixes its PARAM_ index and its id
// is what saved projects store, so rows are only ever appended and ids never reused.
//
// Values are in the units the panel shows: checkboxes 0 or 1, popups the 1-based number of their
// entry (a "(-" separator takes a number too), angles in degrees, sliders in their own units
// (percent sliders in percent), points in percent of the layer's width and height.
#pragma once

#include <optional>

#include "params/param_ids.h"
#include "params/popups.h"
#include "pf_sdk.h"

// Texts that exist only once the setup runs: the product label and the GPU driver's four texts.
enum class SetupText { kNone, kProductLabel, kGlVersion, kGlVendor, kGlRenderer, kGlslVersion };

// Limits of a float or integer slider. The host takes them single-precision.
struct SliderRange {
  float valid_min = 0;
  float valid_max = 0;
  float slider_min = 0;
  float slider_max = 0;
  A_short precision = 0;  // decimals shown
  A_short display_flags = PF_ValueDisplayFlag_NONE;
};

struct ControlRow {
  ParamIndex index;
  A_long id;
  PF_ParamType kind;
  const char* name = "";
  // Drawn on a checkbox or button; a popup's entries separated by "|".
  const char* text = "";
  PF_ParamFlags flags = 0;
  PF_ParamUIFlags ui_flags = 0;
  double dephault = 0;
  // The value a project saved before the control existed reads; the default when empty.
  std::optional<double> setup_value{};
  SliderRange range{};
  // Replaces the name (product label) or the popup entries (driver texts) at setup.
  SetupText setup_text = SetupText::kNone;
};

// Curve tolerance every float slider carries.
inline constexpr float kFloatSliderCurveTolerance = 0.05f;

namespace control_table_detail {

constexpr PF_ParamFlags kNoTimeVary = PF_ParamFlag_CANNOT_TIME_VARY;
constexpr PF_ParamFlags kCollapsed = PF_ParamFlag_START_COLLAPSED;
constexpr PF_ParamFlags kSupervise = PF_ParamFlag_SUPERVISE;
constexpr PF_ParamFlags kOldProjects = PF_ParamFlag_USE_VALUE_FOR_OLD_PROJECTS;
constexpr PF_ParamUIFlags kDisabled = PF_PUI_DISABLED;
constexpr A_short kPercent = PF_ValueDisplayFlag_PERCENT;
constexpr A_short kPlain = PF_ValueDisplayFlag_NONE;

constexpr SliderRange kTransformRange{-5000, 5000, -100, 100, 2, kPercent};
constexpr SliderRange kMultiplierRange{-10, 10, 0.9f, 1.1f, 4, kPlain};
constexpr SliderRange kCropRange{-1000, 1000, 0, 5, 2, kPlain};

// A greyed-out popup whose one entry, a text of the GPU driver, is filled in at setup.
constexpr ControlRow DriverText(ParamIndex index, A_long id, const char* name, SetupText text) {
  return {.index = index,
          .id = id,
          .kind = PF_Param_POPUP,
          .name = name,
          .flags = kNoTimeVary,
          .ui_flags = kDisabled,
          .dephault = 1,
          .setup_text = text};
}

}  // namespace control_table_detail

// clang-format off
inline constexpr ControlRow kControlTable[] = {
  {.index = PARAM_MAP_LAYER, .id = 0, .kind = PF_Param_LAYER, .name = "Map Layer",
   .dephault = PF_LayerDefault_NONE},
  {.index = PARAM_CHANNEL, .id = 1, .kind = PF_Param_POPUP, .name = "Channel",
   .text = "Red|Green|Blue|Alpha|(-|Hue|Saturation|Luminance", .dephault = kChannelLuminance},
  {.index = PARAM_VIEW_MAP, .id = 50, .kind = PF_Param_CHECKBOX, .text = "View Map",
   .flags = control_table_detail::kNoTimeVary},
  {.index = PARAM_MAP_ADJUSTMENTS_GROUP, .id = 2, .kind = PF_Param_GROUP_START,
   .name = "Map Adjustments", .flags = control_table_detail::kCollapsed},
  {.index = PARAM_INVERT_MAP, .id = 3, .kind = PF_Param_CHECKBOX, .name = "Invert Map"},
  {.index = PARAM_MAP_GAMMA, .id = 4, .kind = PF_Param_FLOAT_SLIDER, .name = "Map Gamma",
   .dephault = 1, .range = {0, 10, 0, 2, 2, control_table_detail::kPlain}},
  {.index = PARAM_MAP_SOFTNESS, .id = 5, .kind = PF_Param_FLOAT_SLIDER, .name = "Map Softness",
   .range = {0, 100, 0, 20, 2, control_table_detail::kPlain}},
  {.index = PARAM_MAP_MIX_INPUT, .id = 64, .kind = PF_Param_FLOAT_SLIDER, .name = "Map Mix Input",
   .range = {0, 100, 0, 50, 2, control_table_detail::kPercent}},
  {.index = PARAM_DISPLACEMENT_OFFSET, .id = 6, .kind = PF_Param_FLOAT_SLIDER,
   .name = "Displacement Offset", .range = {-10, 10, -1, 1, 2, control_table_detail::kPlain}},
  {.index = PARAM_DISPLACEMENT_EASING, .id = 36, .kind = PF_Param_POPUP,
   .name = "Displacement Easing", .text = "None|(-|Ease In|Ease Out|Ease In & Out",
   .dephault = kEasingNone},
  // Projects saved before this control existed keep the legacy reading of mid-grey.
  {.index = PARAM_MAP_INTERPRETATION, .id = 43, .kind = PF_Param_POPUP,
   .name = "Map Interpretation", .text = "Standard|Legacy",
   .flags = control_table_detail::kOldProjects, .dephault = kMapInterpretationStandard,
   .setup_value = kMapInterpretationLegacy},
  {.index = PARAM_RESET_ADJUSTMENTS, .id = 42, .kind = PF_Param_BUTTON,
   .text = "Reset Adjustments", .flags = control_table_detail::kSupervise},
  {.index = PARAM_MAP_ADJUSTMENTS_GROUP_END, .id = 7, .kind = PF_Param_GROUP_END},

  {.index = PARAM_TRANSFORM_GROUP, .id = 8, .kind = PF_Param_GROUP_START, .name = "Transform"},
  {.index = PARAM_TRANSLATE_X, .id = 9, .kind = PF_Param_FLOAT_SLIDER, .name = "Translate X",
   .range = control_table_detail::kTransformRange},
  {.index = PARAM_TRANSLATE_Y, .id = 10, .kind = PF_Param_FLOAT_SLIDER, .name = "Translate Y",
   .range = control_table_detail::kTransformRange},
  {.index = PARAM_ROTATE, .id = 11, .kind = PF_Param_ANGLE, .name = "Rotate"},
  {.index = PARAM_UNIFORM_SCALE, .id = 12, .kind = PF_Param_CHECKBOX, .text = "Uniform Scale",
   .flags = control_table_detail::kSupervise | control_table_detail::kNoTimeVary, .dephault = 1},
  {.index = PARAM_CLAMP_NEGATIVE_SCALE, .id = 51, .kind = PF_Param_CHECKBOX,
   .text = "Clamp Negative Scale", .flags = control_table_detail::kNoTimeVary},
  {.index = PARAM_SCALE_X, .id = 13, .kind = PF_Param_FLOAT_SLIDER, .name = "Scale X",
   .dephault = 100, .range = control_table_detail::kTransformRange},
  {.index = PARAM_SCALE_Y, .id = 14, .kind = PF_Param_FLOAT_SLIDER, .name = "Scale Y",
   .dephault = 100, .range = control_table_detail::kTransformRange},
  {.index = PARAM_ANCHOR_X, .id = 15, .kind = PF_Param_FLOAT_SLIDER, .name = "Anchor X",
   .dephault = 50, .range = control_table_detail::kTransformRange},
  {.index = PARAM_ANCHOR_Y, .id = 16, .kind = PF_Param_FLOAT_SLIDER, .name = "Anchor Y",
   .dephault = 50, .range = control_table_detail::kTransformRange},
  {.index = PARAM_RESET_TRANSFORMS, .id = 40, .kind = PF_Param_BUTTON, .text = "Reset Transforms",
   .flags = control_table_detail::kSupervise},
  {.index = PARAM_TRANSFORM_GROUP_END, .id = 17, .kind = PF_Param_GROUP_END},

  {.index = PARAM_ITERATIONS_GROUP, .id = 65, .kind = PF_Param_GROUP_START, .name = "Iterations",
   .flags = control_table_detail::kCollapsed},
  {.index = PARAM_ITERATIONS, .id = 63, .kind = PF_Param_SLIDER, .name = "Iterations",
   .dephault = 1, .range = {1, 1000, 1, 5, 0, control_table_detail::kPlain}},
  {.index = PARAM_SHUTTER_DURATION, .id = 66, .kind = PF_Param_FLOAT_SLIDER,
   .name = "Shutter Duration", .dephault = 100,
   .range = {0, 200, 0, 100, 2, control_table_detail::kPercent}},
  {.index = PARAM_RESET_ITERATIONS, .id = 67, .kind = PF_Param_BUTTON, .text = "Reset Iterations",
   .flags = control_table_detail::kSupervise},
  {.index = PARAM_ITERATIONS_GROUP_END, .id = 68, .kind = PF_Param_GROUP_END},

  {.index = PARAM_CHROMATIC_ABERRATION_GROUP, .id = 19, .kind = PF_Param_GROUP_START,
   .name = "Chromatic Aberration", .flags = control_table_detail::kCollapsed},
  // An empty group: a heading above the three multipliers.
  {.index = PARAM_TRANSFORM_MULTIPLIERS_GROUP, .id = 20, .kind = PF_Param_GROUP_START,
   .name = "Transform Multipliers"},
  {.index = PARAM_TRANSFORM_MULTIPLIERS_GROUP_END, .id = 21, .kind = PF_Param_GROUP_END},
  {.index = PARAM_CA_RED, .id = 22, .kind = PF_Param_FLOAT_SLIDER, .name = "Red", .dephault = 1,
   .range = control_table_detail::kMultiplierRange},
  {.index = PARAM_CA_GREEN, .id = 23, .kind = PF_Param_FLOAT_SLIDER, .name = "Green",
   .dephault = 1, .range = control_table_detail::kMultiplierRange},
  {.index = PARAM_CA_BLUE, .id = 24, .kind = PF_Param_FLOAT_SLIDER, .name = "Blue", .dephault = 1,
   .range = control_table_detail::kMultiplierRange},
  {.index = PARAM_RESET_MULTIPLIERS, .id = 41, .kind = PF_Param_BUTTON,
   .text = "Reset Multipliers", .flags = control_table_detail::kSupervise},
  {.index = PARAM_CHROMATIC_ABERRATION_GROUP_END, .id = 25, .kind = PF_Param_GROUP_END},

  {.index = PARAM_EDGE_BEHAVIOR, .id = 18, .kind = PF_Param_POPUP, .name = "Edge Behavior",
   .text = "None|(-|Repeat|Mirror Repeat|Edge Repeat", .dephault = kEdgeNone},
  {.index = PARAM_ANTI_ALIASING, .id = 37, .kind = PF_Param_POPUP, .name = "Anti-Aliasing",
   .text = "None|(-|2x|4x|8x", .dephault = kAntiAliasing2x},
  {.index = PARAM_VIEW, .id = 31, .kind = PF_Param_POPUP, .name = "View", .text = "Map|Result",
   .dephault = kViewResult},

  {.index = PARAM_ABOUT_SUPPORT_GROUP, .id = 52, .kind = PF_Param_GROUP_START,
   .name = "About & Support", .flags = control_table_detail::kCollapsed},
  {.index = PARAM_PRODUCT_PAGE, .id = 53, .kind = PF_Param_BUTTON, .text = "Product Page",
   .flags = control_table_detail::kSupervise, .setup_text = SetupText::kProductLabel},
  {.index = PARAM_FREE_PLUGINS, .id = 54, .kind = PF_Param_BUTTON, .text = "Free Plugins",
   .flags = control_table_detail::kSupervise},
  {.index = PARAM_GET_SUPPORT, .id = 55, .kind = PF_Param_BUTTON, .name = "GPU Hardware",
   .text = "Get Support", .flags = control_table_detail::kSupervise},
  control_table_detail::DriverText(PARAM_VERSION, 56, "Version", SetupText::kGlVersion),
  control_table_detail::DriverText(PARAM_VENDOR, 57, "Vendor", SetupText::kGlVendor),
  control_table_detail::DriverText(PARAM_RENDERER, 58, "Renderer", SetupText::kGlRenderer),
  control_table_detail::DriverText(PARAM_SHADER_VERSION, 59, "Shader Version",
                                   SetupText::kGlslVersion),
  {.index = PARAM_BLANK_GROUP, .id = 60, .kind = PF_Param_GROUP_START,
   .ui_flags = control_table_detail::kDisabled},
  {.index = PARAM_BLANK_GROUP_END, .id = 61, .kind = PF_Param_GROUP_END},
  {.index = PARAM_ABOUT_SUPPORT_GROUP_END, .id = 62, .kind = PF_Param_GROUP_END},

  {.index = PARAM_DEBUG_GROUP, .id = 38, .kind = PF_Param_GROUP_START, .name = "Debug",
   .flags = control_table_detail::kCollapsed},
  {.index = PARAM_CACHING_BEHAVIOR, .id = 26, .kind = PF_Param_POPUP, .name = "Caching Behavior",
   .text = "Video|Still", .dephault = kCachingVideo},
  {.index = PARAM_LEFT, .id = 27, .kind = PF_Param_FLOAT_SLIDER, .name = "Left",
   .range = control_table_detail::kCropRange},
  {.index = PARAM_TOP, .id = 28, .kind = PF_Param_FLOAT_SLIDER, .name = "Top",
   .range = control_table_detail::kCropRange},
  {.index = PARAM_RIGHT, .id = 29, .kind = PF_Param_FLOAT_SLIDER, .name = "Right",
   .range = control_table_detail::kCropRange},
  {.index = PARAM_BOTTOM, .id = 30, .kind = PF_Param_FLOAT_SLIDER, .name = "Bottom",
   .range = control_table_detail::kCropRange},
  // Rows kept only so that the controls after them keep their indices.
  {.index = PARAM_RESERVED_GROUP_A, .id = 32, .kind = PF_Param_GROUP_START,
   .ui_flags = control_table_detail::kDisabled},
  {.index = PARAM_RESERVED_GROUP_A_END, .id = 33, .kind = PF_Param_GROUP_END},
  {.index = PARAM_RESERVED_GROUP_B, .id = 34, .kind = PF_Param_GROUP_START,
   .ui_flags = control_table_detail::kDisabled},
  {.index = PARAM_RESERVED_GROUP_B_END, .id = 35, .kind = PF_Param_GROUP_END},
  {.index = PARAM_MODE, .id = 44, .kind = PF_Param_POPUP, .name = "Mode",
   .text = "Gradient Ramp|Layer", .dephault = kModeLayer},
  {.index = PARAM_GRADIENT_RAMP_GROUP, .id = 45, .kind = PF_Param_GROUP_START,
   .name = "Gradient Ramp", .flags = control_table_detail::kCollapsed},
  {.index = PARAM_RAMP_ORIGIN, .id = 46, .kind = PF_Param_POINT, .name = "Ramp Origin",
   .dephault = 50},
  {.index = PARAM_RAMP_SCALE, .id = 48, .kind = PF_Param_FLOAT_SLIDER, .name = "Ramp Scale",
   .dephault = 100, .range = {-1000, 1000, -100, 100, 2, control_table_detail::kPercent}},
  {.index = PARAM_LINK_ANCHOR_TO_ORIGIN, .id = 49, .kind = PF_Param_CHECKBOX,
   .name = "Link Anchor to Origin"},
  {.index = PARAM_GRADIENT_RAMP_GROUP_END, .id = 47, .kind = PF_Param_GROUP_END},
  {.index = PARAM_DEBUG_GROUP_END, .id = 39, .kind = PF_Param_GROUP_END},
};
// clang-format on

namespace control_table_detail {

constexpr bool RowsFollowTheIndices() {
  int expected = PARAM_INPUT + 1;
  for (const ControlRow& row : kControlTable) {
    if (row.index != expected++) return false;
  }
  return expected == PARAM_NUM_PARAMS;
}

constexpr bool IdsAreUnique() {
  for (const ControlRow& a : kControlTable) {
    int seen = 0;
    for (const ControlRow& b : kControlTable) seen += a.id == b.id;
    if (seen != 1) return false;
  }
  return true;
}

}  // namespace control_table_detail

// The row of a control; valid because the rows follow the indices.
constexpr const ControlRow& ControlRowOf(ParamIndex index) {
  return kControlTable[index - 1];
}

static_assert(control_table_detail::RowsFollowTheIndices(),
              "one row per control, in PARAM_ order, none missing");
static_assert(control_table_detail::IdsAreUnique(), "saved projects tell controls apart by id");
