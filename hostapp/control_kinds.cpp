#include "hostapp/control_kinds.h"

#include <cstdio>
#include <cstdlib>

namespace vhost {

namespace {

constexpr const char* kUnsupported = "is of a kind varnex cannot set";

// Accessors for a value kept in one whole-number field of the union member `Member`.
template <auto Member, auto Field>
PanelValue ReadWhole(const PF_ParamDef& d) {
  return {static_cast<double>((d.u.*Member).*Field)};
}
template <auto Member, auto Field>
void WriteWhole(PF_ParamDef& d, PanelValue v) {
  (d.u.*Member).*Field = static_cast<A_long>(std::lround(v.x));
}
// A range that is only a default, for kinds without limits.
template <auto Member, auto Field>
PanelRange DefaultOnly(const PF_ParamDef& d) {
  PanelRange r;
  r.dephault = ReadWhole<Member, Field>(d);
  return r;
}
// `row` for a kind whose value and default are whole-number fields of `Member`; a row without
// its own range gets the default alone.
template <auto Member, auto Value, auto Default>
constexpr ControlKind WholeValued(ControlKind row) {
  row.dephault = ReadWhole<Member, Default>;
  row.declared = ReadWhole<Member, Value>;
  row.write = WriteWhole<Member, Value>;
  if (row.range == kind_defaults::NoRange) row.range = DefaultOnly<Member, Default>;
  return row;
}

// Each accessor names the union member its kind keeps; the kinds without one take the defaults.
constexpr ControlKind kKinds[] = {
    {.type = PF_Param_LAYER, .name = "layer", .keying = Keying::kHold, .cannot_set = "is a layer"},
    WholeValued<&PF_ParamDefUnion::sd, &PF_SliderDef::value, &PF_SliderDef::dephault>(
        {.type = PF_Param_SLIDER,
         .name = "slider",
         .form = ValueForm::kWholeNumber,
         .has_slider = true,
         .range =
             [](const PF_ParamDef& d) {
               PanelRange r;
               r.limited = true;
               r.valid_min = d.u.sd.valid_min;
               r.valid_max = d.u.sd.valid_max;
               r.slider_min = d.u.sd.slider_min;
               r.slider_max = d.u.sd.slider_max;
               r.dephault.x = d.u.sd.dephault;
               return r;
             }}),
    {.type = PF_Param_FIXED_SLIDER, .name = "fixed_slider", .cannot_set = kUnsupported},
    {.type = PF_Param_ANGLE,
     .name = "angle",
     .form = ValueForm::kDegrees,
     .unit = "degrees",
     .dephault = [](const PF_ParamDef& d) { return PanelValue{DoubleFromFixed(d.u.ad.dephault)}; },
     .declared = [](const PF_ParamDef& d) { return PanelValue{DoubleFromFixed(d.u.ad.value)}; },
     .write = [](PF_ParamDef& d, PanelValue v) { d.u.ad.value = FixedFromDouble(v.x); },
     .range =
         [](const PF_ParamDef& d) {
           PanelRange r;
           // An angle without declared limits turns freely.
           r.limited = d.u.ad.valid_min != d.u.ad.valid_max;
           r.valid_min = DoubleFromFixed(d.u.ad.valid_min);
           r.valid_max = DoubleFromFixed(d.u.ad.valid_max);
           r.dephault.x = DoubleFromFixed(d.u.ad.dephault);
           return r;
         }},
    WholeValued<&PF_ParamDefUnion::bd, &PF_CheckBoxDef::value, &PF_CheckBoxDef::dephault>(
        {.type = PF_Param_CHECKBOX,
         .name = "checkbox",
         .form = ValueForm::kOnOff,
         .keying = Keying::kHold,
         .text_is_label = true,
         .text = [](PF_ParamDef& d) { return &d.u.bd.u.nameptr; }}),
    WholeValued<&PF_ParamDefUnion::pd, &PF_PopupDef::value, &PF_PopupDef::dephault>(
        {.type = PF_Param_POPUP,
         .name = "popup",
         .form = ValueForm::kItem,
         .keying = Keying::kHold,
         .text = [](PF_ParamDef& d) { return &d.u.pd.u.namesptr; }}),
    {.type = PF_Param_COLOR, .name = "color", .cannot_set = kUnsupported},
    {.type = PF_Param_POINT,
     .name = "point",
     .form = ValueForm::kPoint,
     .dephault =
         [](const PF_ParamDef& d) {
           return PanelValue{DoubleFromFixed(d.u.td.x_dephault),
                             DoubleFromFixed(d.u.td.y_dephault)};
         },
     .declared =
         [](const PF_ParamDef& d) {
           return PanelValue{DoubleFromFixed(d.u.td.x_value), DoubleFromFixed(d.u.td.y_value)};
         },
     .write =
         [](PF_ParamDef& d, PanelValue v) {
           d.u.td.x_value = FixedFromDouble(v.x);
           d.u.td.y_value = FixedFromDouble(v.y);
         },
     .range =
         [](const PF_ParamDef& d) {
           PanelRange r;
           r.percent = true;
           r.dephault = {DoubleFromFixed(d.u.td.x_dephault), DoubleFromFixed(d.u.td.y_dephault)};
           return r;
         }},
    {.type = PF_Param_FLOAT_SLIDER,
     .name = "float_slider",
     .form = ValueForm::kNumber,
     .has_slider = true,
     .has_precision = true,
     .dephault = [](const PF_ParamDef& d) { return PanelValue{d.u.fs_d.dephault}; },
     .declared = [](const PF_ParamDef& d) { return PanelValue{d.u.fs_d.value}; },
     .write = [](PF_ParamDef& d, PanelValue v) { d.u.fs_d.value = v.x; },
     // The panel shows limits and default as declared: in their shortest decimal form.
     .range =
         [](const PF_ParamDef& d) {
           PanelRange r;
           r.limited = true;
           r.valid_min = ShortestFloat(d.u.fs_d.valid_min);
           r.valid_max = ShortestFloat(d.u.fs_d.valid_max);
           r.slider_min = ShortestFloat(d.u.fs_d.slider_min);
           r.slider_max = ShortestFloat(d.u.fs_d.slider_max);
           r.dephault.x = ShortestFloat(d.u.fs_d.dephault);
           r.percent = d.u.fs_d.display_flags & PF_ValueDisplayFlag_PERCENT;
           r.precision = d.u.fs_d.precision;
           return r;
         }},
    {.type = PF_Param_GROUP_START, .name = "group_start", .cannot_set = "is a group"},
    {.type = PF_Param_GROUP_END, .name = "group_end", .cannot_set = "is a group"},
    {.type = PF_Param_BUTTON,
     .name = "button",
     .keying = Keying::kHold,
     .cannot_set = "is a button",
     .text_is_label = true,
     .text = [](PF_ParamDef& d) { return &d.u.button_d.u.namesptr; }},
};

constexpr ControlKind kUnknownKind = {.cannot_set = kUnsupported};

}  // namespace

const ControlKind& KindOf(PF_ParamType type) {
  for (const ControlKind& kind : kKinds) {
    if (kind.type == type) return kind;
  }
  return kUnknownKind;
}

double ShortestFloat(float value) {
  char text[32];
  for (int digits = 1; digits <= 9; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
    if (std::strtof(text, nullptr) == value) break;
  }
  return std::strtod(text, nullptr);
}

}  // namespace vhost
