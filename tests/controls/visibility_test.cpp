// What the panel shows after PF_Cmd_UPDATE_PARAMS_UI: hidden controls, the scale sliders' names
// and greyed-out state, and how a refusal by the host part-way leaves the panel.
#include <set>

#include "controls/controls_fixture.h"
#include "params/popups.h"

namespace {

class VisibilityTest : public ControlsTest {
 protected:
  std::set<int> Hidden() {
    std::set<int> hidden;
    for (int i = 0; i < host().controls().size(); ++i)
      if (control(i).hidden) hidden.insert(i);
    return hidden;
  }

  static std::set<int> AlwaysHidden() {
    std::set<int> hidden{PARAM_VIEW};
    for (int i = PARAM_DEBUG_GROUP; i <= PARAM_DEBUG_GROUP_END; ++i) hidden.insert(i);
    return hidden;
  }

  bool Greyed(int index) { return (control(index).ui_flags & PF_PUI_DISABLED) != 0; }
};

TEST_F(VisibilityTest, FirstUpdateShowsOneScaleSlider) {
  ASSERT_EQ(host().UpdateParamsUI(), PF_Err_NONE);
  std::set<int> want = AlwaysHidden();
  want.insert(PARAM_SCALE_Y);
  EXPECT_EQ(Hidden(), want);
  EXPECT_EQ(control(PARAM_SCALE_X).ui_name, "Scale");
  EXPECT_FALSE(Greyed(PARAM_SCALE_X));
  EXPECT_EQ(control(PARAM_SCALE_Y).ui_name, "Scale Y");
  EXPECT_TRUE(Greyed(PARAM_SCALE_Y));
  // Hiding is panel state, not an edit the user could undo.
  EXPECT_TRUE(probe().undo_history().empty());
}

TEST_F(VisibilityTest, UniformScaleOffAndOnAgainFlipsTheScaleSliders) {
  ASSERT_EQ(host().UpdateParamsUI(), PF_Err_NONE);

  host().controls().SetValue(PARAM_UNIFORM_SCALE, 0);
  ASSERT_EQ(host().UpdateParamsUI(), PF_Err_NONE);
  EXPECT_EQ(Hidden(), AlwaysHidden());
  EXPECT_EQ(control(PARAM_SCALE_X).ui_name, "Scale X");
  EXPECT_EQ(control(PARAM_SCALE_Y).ui_name, "Scale Y");
  EXPECT_FALSE(Greyed(PARAM_SCALE_X));
  EXPECT_FALSE(Greyed(PARAM_SCALE_Y));

  host().controls().SetValue(PARAM_UNIFORM_SCALE, 1);
  ASSERT_EQ(host().UpdateParamsUI(), PF_Err_NONE);
  EXPECT_TRUE(control(PARAM_SCALE_Y).hidden);
  EXPECT_TRUE(Greyed(PARAM_SCALE_Y));
  EXPECT_EQ(control(PARAM_SCALE_X).ui_name, "Scale");
  // Nothing the update does touches a value.
  EXPECT_EQ(value(PARAM_SCALE_X), 100);
  EXPECT_EQ(value(PARAM_SCALE_Y), 100);
}

TEST_F(VisibilityTest, ViewStaysHiddenWithItsStoredValue) {
  host().controls().SetValue(PARAM_VIEW, kViewMap);  // "Map", from an old project
  host().controls().at(PARAM_VIEW).hidden = false;
  ASSERT_EQ(host().UpdateParamsUI(), PF_Err_NONE);
  EXPECT_TRUE(control(PARAM_VIEW).hidden);
  EXPECT_EQ(value(PARAM_VIEW), kViewMap);
}

TEST_F(VisibilityTest, RefusedHideStopsThereAndStillDisposesTheEffect) {
  // The fifth hide is index 57 ("Right"); the stream obtained for it must still be given back,
  // which the fixture's leak check confirms.
  probe().FailCall("AEGP_SetDynamicStreamFlag", 5, PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_EQ(host().UpdateParamsUI(), PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_EQ(Hidden(), (std::set<int>{53, 54, 55, 56}));
  EXPECT_EQ(control(PARAM_SCALE_X).ui_name, "");
  EXPECT_EQ(control(PARAM_SCALE_Y).ui_name, "");
  EXPECT_EQ(CallCount("PF_UpdateParamUI"), 0);
  EXPECT_EQ(CallCount("AEGP_DisposeEffect"), 1);
  EXPECT_EQ(CallCount("AEGP_DisposeStream"), 5);
}

TEST_F(VisibilityTest, EachFailingHostCallEndsTheUpdateWithItsError) {
  struct Case {
    const char* function;
    int nth;
  };
  // A stream that cannot be obtained, a refused rename, a refused show, a refused disposal.
  const Case cases[] = {{"AEGP_GetNewEffectStreamByIndex", 18},
                        {"PF_UpdateParamUI", 1},
                        {"PF_UpdateParamUI", 2},
                        {"AEGP_SetDynamicStreamFlag", 19},
                        {"AEGP_DisposeStream", 19}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.function) + " #" + std::to_string(c.nth));
    ASSERT_EQ(host().ParamsSetup(), PF_Err_NONE);
    probe().FailCall(c.function, c.nth, PF_Err_INVALID_INDEX);
    EXPECT_EQ(host().UpdateParamsUI(), PF_Err_INVALID_INDEX);
    const bool reached_rename = std::string(c.function) != "AEGP_GetNewEffectStreamByIndex";
    EXPECT_EQ(control(PARAM_VIEW).hidden, reached_rename);
    EXPECT_EQ(CallCount("PF_UpdateParamUI"), !reached_rename ? 0 : (c.nth == 1 ? 1 : 2))
        << "the remaining steps are skipped";
    // Disposing the effect is the one step that always runs.
    EXPECT_EQ(CallCount("AEGP_DisposeEffect"), 1);
  }
}

TEST_F(VisibilityTest, FailedDisposalOfTheEffectIsReportedWhenAllElseWent) {
  probe().FailCall("AEGP_DisposeEffect", 1, PF_Err_INVALID_INDEX);
  EXPECT_EQ(host().UpdateParamsUI(), PF_Err_INVALID_INDEX);
  EXPECT_TRUE(control(PARAM_SCALE_Y).hidden);
  EXPECT_EQ(control(PARAM_SCALE_X).ui_name, "Scale");
}

TEST_F(VisibilityTest, ReferencesHandedOutWithAnErrorAreStillGivenBack) {
  // Some hosts return a reference together with an error; the leak check sees it disposed.
  probe().FailCallAfterRunning("AEGP_GetNewEffectStreamByIndex", 3, PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(host().UpdateParamsUI(), PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(Hidden(), (std::set<int>{53, 54}));
  EXPECT_EQ(CallCount("AEGP_DisposeStream"), 3);

  probe().FailCallAfterRunning("AEGP_GetNewEffectForEffect", 1, PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(host().UpdateParamsUI(), PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(CallCount("AEGP_GetNewEffectStreamByIndex"), 0);
  EXPECT_EQ(CallCount("AEGP_DisposeEffect"), 1);
}

TEST_F(VisibilityTest, NoEffectReferenceMeansNothingChanges) {
  probe().FailCall("AEGP_GetNewEffectForEffect", 1, PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(host().UpdateParamsUI(), PF_Err_OUT_OF_MEMORY);
  EXPECT_TRUE(Hidden().empty());
  EXPECT_EQ(CallCount("AEGP_DisposeEffect"), 0);
}

TEST_F(VisibilityTest, MissingSuiteFailsBeforeAnythingIsTaken) {
  probe().RefuseSuite("PF Param Utils Suite", 3);
  EXPECT_EQ(host().UpdateParamsUI(), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_TRUE(Hidden().empty());
  EXPECT_EQ(CallCount("AEGP_GetNewEffectForEffect"), 0);
}

}  // namespace
