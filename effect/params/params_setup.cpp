// PF_Cmd_PARAMS_SETUP: declares the rows of the control table to the host, one add per row.
#include <algorithm>
#include <cstring>
#include <string>

#include "hostkit/version.h"
#include "params/param_handlers.h"
#include "params/param_name.h"
#include "params/param_table.h"

namespace {

// The texts only known at setup. They live until the handler returns; the host copies what it
// is given before add_param returns.
struct SetupTexts {
  std::string product_label;
  std::string gl_version = "NULL";
  std::string gl_vendor = "NULL";
  std::string gl_renderer = "NULL";
  std::string glsl_version = "NULL";

  const char* Get(SetupText which) const {
    switch (which) {
      case SetupText::kProductLabel:
        return product_label.c_str();
      case SetupText::kGlVersion:
        return gl_version.c_str();
      case SetupText::kGlVendor:
        return gl_vendor.c_str();
      case SetupText::kGlRenderer:
        return gl_renderer.c_str();
      case SetupText::kGlslVersion:
        return glsl_version.c_str();
      case SetupText::kNone:
        break;
    }
    return nullptr;
  }
};

// A driver text becomes a popup's only entry, so the popup separator may not appear in it: a
// driver that reports "|" would otherwise split the entry and shift the popup's count.
std::string PopupEntry(std::string_view field) {
  std::string text(field);
  std::replace(text.begin(), text.end(), '|', '/');
  return text;
}

// Without a version text there was no context, and every text stays "NULL".
void ReadDriverTexts(const DriverTexts& driver, SetupTexts& texts) {
  if (driver.version.empty()) return;
  texts.gl_version = PopupEntry(driver.version);
  texts.gl_vendor = PopupEntry(driver.vendor);
  texts.gl_renderer = PopupEntry(driver.renderer);
  texts.glsl_version = PopupEntry(driver.glslVersion);
}

std::string ProductLabel() {
  return std::string(kProductName) + " v" + std::to_string(kMajorVersion) + "." +
         std::to_string(kMinorVersion) + "." + std::to_string(kBugVersion);
}

int CountEntries(const char* choices) {
  return 1 + static_cast<int>(std::count(choices, choices + std::strlen(choices), '|'));
}

PF_Fixed ToFixed(double v) {
  return static_cast<PF_Fixed>(v * PF_FIXED_ONE);
}

// The host record of one row: zero everywhere the row says nothing.
PF_ParamDef MakeParamDef(const ControlRow& row, const SetupTexts& texts) {
  PF_ParamDef def;
  std::memset(&def, 0, sizeof def);
  def.uu.id = row.id;
  def.ui_flags = row.ui_flags;
  def.param_type = row.kind;
  def.flags = row.flags;

  const char* name = row.name;
  const char* text = row.text;
  if (row.setup_text == SetupText::kProductLabel) name = texts.Get(row.setup_text);
  if (row.setup_text != SetupText::kNone && row.setup_text != SetupText::kProductLabel)
    text = texts.Get(row.setup_text);
  SetParamName(def, name);

  const double value = row.setup_value.value_or(row.dephault);
  switch (row.kind) {
    case PF_Param_LAYER:
      def.u.ld.dephault = static_cast<A_long>(row.dephault);
      break;
    case PF_Param_POPUP:
      def.u.pd.value = static_cast<A_long>(value);
      def.u.pd.dephault = static_cast<A_short>(row.dephault);
      def.u.pd.num_choices = static_cast<A_short>(CountEntries(text));
      def.u.pd.u.namesptr = text;
      break;
    case PF_Param_CHECKBOX:
      def.u.bd.value = static_cast<A_long>(value);
      def.u.bd.dephault = static_cast<A_long>(row.dephault);
      def.u.bd.u.nameptr = text;
      break;
    case PF_Param_BUTTON:
      def.u.button_d.u.namesptr = text;
      break;
    case PF_Param_FLOAT_SLIDER:
      def.u.fs_d.valid_min = row.range.valid_min;
      def.u.fs_d.valid_max = row.range.valid_max;
      def.u.fs_d.slider_min = row.range.slider_min;
      def.u.fs_d.slider_max = row.range.slider_max;
      def.u.fs_d.dephault = static_cast<A_FpShort>(row.dephault);
      def.u.fs_d.value = def.u.fs_d.dephault;
      def.u.fs_d.precision = row.range.precision;
      def.u.fs_d.display_flags = row.range.display_flags;
      def.u.fs_d.curve_tolerance = kFloatSliderCurveTolerance;
      break;
    case PF_Param_SLIDER:
      def.u.sd.valid_min = static_cast<A_long>(row.range.valid_min);
      def.u.sd.valid_max = static_cast<A_long>(row.range.valid_max);
      def.u.sd.slider_min = static_cast<A_long>(row.range.slider_min);
      def.u.sd.slider_max = static_cast<A_long>(row.range.slider_max);
      def.u.sd.dephault = static_cast<A_long>(row.dephault);
      def.u.sd.value = static_cast<A_long>(value);
      break;
    case PF_Param_ANGLE:
      def.u.ad.dephault = ToFixed(row.dephault);
      def.u.ad.value = ToFixed(value);
      break;
    case PF_Param_POINT:
      // The one point control starts at the layer's centre: the same percentage on both axes.
      def.u.td.x_dephault = def.u.td.y_dephault = ToFixed(row.dephault);
      def.u.td.x_value = def.u.td.y_value = ToFixed(value);
      break;
    default:
      break;
  }
  return def;
}

}  // namespace

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, const DriverTexts& driver) {
  if (!in_data->inter.add_param) return PF_Err_INVALID_CALLBACK;
  SetupTexts texts;
  for (const ControlRow& row : kControlTable) {
    // The driver texts and the label are gathered where the "About & Support" group begins,
    // after the controls that do not need them.
    if (row.index == PARAM_ABOUT_SUPPORT_GROUP) {
      ReadDriverTexts(driver, texts);
      texts.product_label = ProductLabel();
    }
    PF_ParamDef def = MakeParamDef(row, texts);
    if (PF_Err err = in_data->inter.add_param(in_data->effect_ref, -1, &def)) return err;
  }
  out_data->num_params = PARAM_NUM_PARAMS;
  return PF_Err_NONE;
}
