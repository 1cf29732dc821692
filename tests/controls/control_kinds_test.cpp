// The host's table of control kinds, through the control store that reads and writes records
// with it: values survive the trip into panel units and back, and keyframes move as the kind says.
#include "hostapp/control_kinds.h"

#include <gtest/gtest.h>

#include <cstring>

#include "hostapp/controls.h"

namespace {

using vhost::DoubleFromFixed;
using vhost::FixedFromDouble;

TEST(ControlKinds, FixedPointRoundsToTheNearestStep) {
  EXPECT_EQ(FixedFromDouble(1.5), 0x18000);
  EXPECT_EQ(FixedFromDouble(-90), -90 * 0x10000);
  EXPECT_EQ(FixedFromDouble(0.6 / 0x10000), 1);
  EXPECT_EQ(FixedFromDouble(-0.5 / 0x10000), -1);  // halves away from zero
  EXPECT_EQ(FixedFromDouble(vhost::kFixedMax), 0x7FFF0000);
  EXPECT_DOUBLE_EQ(DoubleFromFixed(0x28000), 2.5);
  EXPECT_DOUBLE_EQ(DoubleFromFixed(FixedFromDouble(-12.25)), -12.25);
}

PF_ParamDef Declared(PF_ParamType type) {
  PF_ParamDef def;
  std::memset(&def, 0, sizeof def);
  def.param_type = type;
  return def;
}

TEST(ControlKinds, RecordsCarryTheStoredValueInTheirOwnUnits) {
  vhost::ControlStore store;
  store.Reset();
  PF_ParamDef angle = Declared(PF_Param_ANGLE);
  angle.u.ad.dephault = FixedFromDouble(45);
  PF_ParamDef point = Declared(PF_Param_POINT);
  point.u.td.x_dephault = FixedFromDouble(25);
  point.u.td.y_dephault = FixedFromDouble(-75.5);
  PF_ParamDef slider = Declared(PF_Param_SLIDER);
  slider.u.sd.dephault = 7;
  const int a = store.Add(angle), p = store.Add(point), s = store.Add(slider);

  EXPECT_DOUBLE_EQ(store.ValueAt(a, 0), 45);
  EXPECT_DOUBLE_EQ(store.ValueAt(p, 0), 25);
  EXPECT_DOUBLE_EQ(store.at(p).value2, -75.5);
  EXPECT_EQ(store.RecordAt(a, 0).u.ad.value, 45 * 0x10000);
  EXPECT_EQ(store.RecordAt(p, 0).u.td.x_value, 25 * 0x10000);
  EXPECT_EQ(store.RecordAt(p, 0).u.td.y_value, FixedFromDouble(-75.5));
  EXPECT_EQ(store.RecordAt(s, 0).u.sd.value, 7);

  store.SetValue(s, 2.5);  // a slider's record holds whole numbers
  EXPECT_EQ(store.RecordAt(s, 0).u.sd.value, 3);
}

TEST(ControlKinds, ChoicesHoldBetweenKeysAndNumbersMove) {
  vhost::ControlStore store;
  store.Reset();
  const int slider = store.Add(Declared(PF_Param_FLOAT_SLIDER));
  const int box = store.Add(Declared(PF_Param_CHECKBOX));
  const int popup = store.Add(Declared(PF_Param_POPUP));
  for (int index : {slider, box, popup}) store.SetKeyframes(index, {{0, 1}, {1, 3}});
  EXPECT_DOUBLE_EQ(store.ValueAt(slider, 0.25), 1.5);
  EXPECT_DOUBLE_EQ(store.RecordAt(slider, 0.75).u.fs_d.value, 2.5);
  EXPECT_DOUBLE_EQ(store.ValueAt(box, 0.75), 1);
  EXPECT_EQ(store.RecordAt(popup, 0.99).u.pd.value, 1);
  EXPECT_EQ(store.RecordAt(popup, 1).u.pd.value, 3);
}

TEST(ControlKinds, AnUnknownKindIsPassedThroughUntouched) {
  const vhost::ControlKind& kind = vhost::KindOf(99);
  EXPECT_STREQ(kind.name, "other");
  EXPECT_EQ(kind.form, vhost::ValueForm::kNone);
  ASSERT_NE(kind.cannot_set, nullptr);

  vhost::ControlStore store;
  store.Reset();
  PF_ParamDef odd = Declared(99);
  std::memset(&odd.u, 0x5A, sizeof odd.u);
  const int index = store.Add(odd);
  store.SetValue(index, 4);
  const PF_ParamDef back = store.RecordAt(index, 0);
  EXPECT_EQ(std::memcmp(&back.u, &odd.u, sizeof odd.u), 0);
}

}  // namespace
