// The buttons' actions through the real module: resets as one undo step each, and the link
// buttons' page commands, seen through a stand-in for the system's page opener.
#include <string>
#include <utility>
#include <vector>

#include "controls/controls_fixture.h"
#include "params/popups.h"
#include "support/page_opener.h"

namespace {

using Writes = std::vector<std::pair<int, double>>;

class ActionsTest : public ControlsTest {
 protected:
  std::string Opened() const { return opener_.Opened(); }

  // Moves every value the resets write away from its default.
  void Disturb() {
    auto& c = host().controls();
    c.SetValue(PARAM_INVERT_MAP, 1);
    c.SetValue(PARAM_CLAMP_NEGATIVE_SCALE, 1);
    for (int i : {PARAM_MAP_GAMMA, PARAM_MAP_SOFTNESS, PARAM_MAP_MIX_INPUT,
                  PARAM_DISPLACEMENT_OFFSET, PARAM_TRANSLATE_X, PARAM_TRANSLATE_Y, PARAM_ROTATE,
                  PARAM_SCALE_X, PARAM_SCALE_Y, PARAM_ANCHOR_X, PARAM_ANCHOR_Y,
                  PARAM_SHUTTER_DURATION, PARAM_CA_RED, PARAM_CA_GREEN, PARAM_CA_BLUE})
      c.SetValue(i, 0.25 + i);
    // "Uniform Scale" off with "Scale Y" at 40: a reset must bring back one slider at 100.
    c.SetValue(PARAM_UNIFORM_SCALE, 0);
    c.SetValue(PARAM_SCALE_Y, 40);
    c.SetValue(PARAM_DISPLACEMENT_EASING, kEasingInOut);
    c.SetValue(PARAM_MAP_INTERPRETATION, kMapInterpretationLegacy);
    c.SetValue(PARAM_ITERATIONS, 7);
  }

  PageOpenerStub opener_;
};

struct ResetCase {
  int button;
  const char* undo_name;
  Writes writes;
};

const ResetCase kResets[] = {
    {PARAM_RESET_ADJUSTMENTS,
     "Reset Adjustments Controls",
     {{5, 0}, {6, 1}, {7, 0}, {8, 0}, {9, 0}, {10, 1}, {11, 1}}},
    {PARAM_RESET_TRANSFORMS,
     "Reset Transform Controls",
     {{15, 0}, {16, 0}, {17, 0}, {18, 1}, {19, 0}, {20, 100}, {21, 100}, {22, 50}, {23, 50}}},
    {PARAM_RESET_ITERATIONS, "Reset Iteration Controls", {{27, 1}, {28, 100}}},
    {PARAM_RESET_MULTIPLIERS, "Reset Chromatic Aberration Controls", {{34, 1}, {35, 1}, {36, 1}}},
};

TEST_F(ActionsTest, EachResetWritesItsGroupAsOneUndoStep) {
  for (const ResetCase& reset : kResets) {
    SCOPED_TRACE(reset.undo_name);
    Disturb();
    std::vector<double> want = AllValues();
    for (const auto& [index, v] : reset.writes) want[index] = v;
    const size_t steps = probe().undo_history().size();

    ASSERT_EQ(host().UserChangedParam(reset.button), PF_Err_NONE);
    // Only the group's controls changed, each to its default.
    EXPECT_EQ(AllValues(), want);
    const auto history = probe().undo_history();
    ASSERT_EQ(history.size(), steps + 1);
    EXPECT_EQ(history.back().name, reset.undo_name);
    EXPECT_EQ(history.back().writes, reset.writes);
    EXPECT_TRUE(history.back().closed);
  }
  EXPECT_EQ(Opened(), "");
}

TEST_F(ActionsTest, ResetAdjustmentsMakesALegacyInstanceStandard) {
  host().controls().set_old_project_indices({PARAM_MAP_INTERPRETATION});
  ASSERT_EQ(host().ParamsSetup(), PF_Err_NONE);
  ASSERT_EQ(value(PARAM_MAP_INTERPRETATION), kMapInterpretationLegacy);
  ASSERT_EQ(host().UserChangedParam(PARAM_RESET_ADJUSTMENTS), PF_Err_NONE);
  EXPECT_EQ(value(PARAM_MAP_INTERPRETATION), kMapInterpretationStandard);
}

TEST_F(ActionsTest, FailingWriteStopsTheResetButClosesItsUndoGroup) {
  Disturb();
  const std::vector<double> before = AllValues();
  probe().FailCall("AEGP_SetStreamValue", 3, PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_EQ(host().UserChangedParam(PARAM_RESET_TRANSFORMS), PF_Err_INTERNAL_STRUCT_DAMAGED);
  // The first two writes stay; "Rotate" and everything after it keep their values.
  EXPECT_EQ(value(PARAM_TRANSLATE_X), 0);
  EXPECT_EQ(value(PARAM_TRANSLATE_Y), 0);
  for (int i = PARAM_ROTATE; i <= PARAM_ANCHOR_Y; ++i) EXPECT_EQ(value(i), before[i]) << i;
  EXPECT_EQ(CallCount("AEGP_SetStreamValue"), 3);
  // The group is closed, so the user's next edit is not folded into a broken reset.
  const auto history = probe().undo_history();
  ASSERT_EQ(history.size(), 1u);
  EXPECT_TRUE(history[0].closed);
  EXPECT_EQ(history[0].writes, (Writes{{15, 0}, {16, 0}}));
  EXPECT_EQ(CallCount("AEGP_EndUndoGroup"), 1);
  EXPECT_EQ(CallCount("AEGP_DisposeEffect"), 1);
}

TEST_F(ActionsTest, EachFailingStepOfAResetReturnsItsError) {
  struct Case {
    const char* function;
    int nth;
    size_t writes;  // that took effect
  };
  const Case cases[] = {{"AEGP_StartUndoGroup", 1, 0},
                        {"AEGP_GetNewEffectStreamByIndex", 2, 1},
                        {"AEGP_EndUndoGroup", 1, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.function);
    ASSERT_EQ(host().ParamsSetup(), PF_Err_NONE);
    host().controls().SetValue(PARAM_CA_RED, 2);
    const size_t steps = probe().undo_history().size();
    probe().FailCall(c.function, c.nth, PF_Err_INVALID_INDEX);
    EXPECT_EQ(host().UserChangedParam(PARAM_RESET_MULTIPLIERS), PF_Err_INVALID_INDEX);
    EXPECT_EQ(value(PARAM_CA_RED), c.writes > 0 ? 1 : 2);
    const auto history = probe().undo_history();
    if (c.writes == 0) {
      EXPECT_EQ(history.size(), steps);
    } else {
      ASSERT_EQ(history.size(), steps + 1);
      EXPECT_EQ(history.back().writes.size(), c.writes);
      EXPECT_TRUE(history.back().closed);
    }
    EXPECT_EQ(CallCount("AEGP_DisposeEffect"), 1);
  }
}

TEST_F(ActionsTest, EffectReferenceHandedOutWithAnErrorIsGivenBackWithoutAReset) {
  host().controls().SetValue(PARAM_CA_RED, 2);
  probe().FailCallAfterRunning("AEGP_GetNewEffectForEffect", 1, PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(host().UserChangedParam(PARAM_RESET_MULTIPLIERS), PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(value(PARAM_CA_RED), 2);
  EXPECT_TRUE(probe().undo_history().empty());
  EXPECT_EQ(CallCount("AEGP_DisposeEffect"), 1);
}

TEST_F(ActionsTest, WithoutAnEffectReferenceNoResetRunsButTheLinkStillOpens) {
  probe().FailCall("AEGP_GetNewEffectForEffect", 1, PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(host().UserChangedParam(PARAM_RESET_TRANSFORMS), PF_Err_OUT_OF_MEMORY);
  EXPECT_TRUE(probe().undo_history().empty());
  EXPECT_EQ(CallCount("AEGP_DisposeEffect"), 0);

  probe().FailCall("AEGP_GetNewEffectForEffect", 1, PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(host().UserChangedParam(PARAM_GET_SUPPORT), PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(Opened(), "https://varnex.example/varnex-support\n");
}

TEST_F(ActionsTest, LinkButtonsOpenTheirPagesAndWriteNothing) {
  ASSERT_EQ(host().UserChangedParam(PARAM_PRODUCT_PAGE), PF_Err_NONE);
  ASSERT_EQ(host().UserChangedParam(PARAM_FREE_PLUGINS), PF_Err_NONE);
  ASSERT_EQ(host().UserChangedParam(PARAM_GET_SUPPORT), PF_Err_NONE);
  EXPECT_EQ(Opened(),
            "https://varnex.example/varnex\n"
            "https://varnex.example/free\n"
            "https://varnex.example/varnex-support\n");
  EXPECT_TRUE(probe().undo_history().empty());
  EXPECT_EQ(CallCount("AEGP_SetStreamValue"), 0);
}

TEST_F(ActionsTest, ChangesOfOtherControlsDoNothing) {
  Disturb();
  const std::vector<double> before = AllValues();
  for (int index :
       std::initializer_list<int>{PARAM_UNIFORM_SCALE, PARAM_MAP_GAMMA, PARAM_CHANNEL, PARAM_VIEW,
                                  PARAM_DEBUG_GROUP_END, PARAM_NUM_PARAMS, -1}) {
    SCOPED_TRACE(index);
    EXPECT_EQ(host().UserChangedParam(index), PF_Err_NONE);
    EXPECT_EQ(CallCount("AEGP_GetNewEffectStreamByIndex"), 0);
    EXPECT_EQ(CallCount("AEGP_StartUndoGroup"), 0);
  }
  EXPECT_EQ(AllValues(), before);
  EXPECT_TRUE(probe().undo_history().empty());
  EXPECT_EQ(Opened(), "");
}

}  // namespace
