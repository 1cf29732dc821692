// The preview's API through a running `varnex preview`: the panel as the plug-in declared and
// updated it, setting controls, buttons, undo and redo, the timeline and keyframes.
#include <signal.h>

#include "preview/preview_fixture.h"
#include "support/child_process.h"
#include "support/page_opener.h"

namespace {

using nlohmann::json;

TEST_F(PreviewTest, StateIsThePanelThePluginDeclaredAndUpdated) {
  const json state = State();
  ASSERT_EQ(state["controls"].size(), 69u);
  EXPECT_EQ(state["frame"], 0);
  EXPECT_EQ(state["first"], 0);
  EXPECT_EQ(state["last"], 0);
  EXPECT_EQ(state["width"], 320);
  EXPECT_EQ(state["height"], 240);
  EXPECT_EQ(state["can_undo"], false);
  EXPECT_TRUE(state["output"].is_null());
  // "Uniform Scale" is on by default: the panel update renamed "Scale X" and hid "Scale Y".
  EXPECT_EQ(Control(state, "PARAM_SCALE_X")["name"], "Scale");
  EXPECT_EQ(Control(state, "PARAM_SCALE_Y")["visible"], false);
  EXPECT_EQ(Control(state, "PARAM_SCALE_Y")["enabled"], false);
  EXPECT_EQ(Control(state, "PARAM_VIEW")["visible"], false);
  EXPECT_EQ(Control(state, "PARAM_DEBUG_GROUP")["visible"], false);
  EXPECT_EQ(Control(state, "PARAM_RAMP_ORIGIN")["visible"], false);
  // The four GPU popups are greyed out.
  for (const char* gpu :
       {"PARAM_VERSION", "PARAM_VENDOR", "PARAM_RENDERER", "PARAM_SHADER_VERSION"})
    EXPECT_EQ(Control(state, gpu)["enabled"], false) << gpu;
  // Popups without their separators; the value is the item's number, separators counted.
  const json& channel = Control(state, "PARAM_CHANNEL");
  EXPECT_EQ(channel["choices"],
            json({"Red", "Green", "Blue", "Alpha", "Hue", "Saturation", "Luminance"}));
  EXPECT_EQ(channel["choice_values"], json({1, 2, 3, 4, 6, 7, 8}));
  EXPECT_EQ(channel["value"], 8);
  // Sliders with their ranges, precision and units; groups twirled as their flags say.
  const json& translate = Control(state, "PARAM_TRANSLATE_X");
  EXPECT_EQ(translate["kind"], "slider");
  EXPECT_EQ(translate["percent"], true);
  EXPECT_EQ(translate["slider_min"], -100.0);
  EXPECT_EQ(translate["slider_max"], 100.0);
  EXPECT_EQ(translate["group"], Control(state, "PARAM_TRANSFORM_GROUP")["index"]);
  EXPECT_EQ(Control(state, "PARAM_ROTATE")["kind"], "angle");
  EXPECT_EQ(Control(state, "PARAM_TRANSFORM_GROUP")["open"], true);
  EXPECT_EQ(Control(state, "PARAM_MAP_ADJUSTMENTS_GROUP")["open"], false);
}

TEST_F(PreviewTest, ControlChangesAreUndoStepsThatUndoAndRedoWalk) {
  json state = Set("Rotate", 30).body;
  EXPECT_EQ(Control(state, "PARAM_ROTATE")["value"], 30.0);
  EXPECT_EQ(state["can_undo"], true);
  EXPECT_EQ(state["undo_name"], "Set Rotate");
  state = Set("PARAM_TRANSLATE_X", 12.5).body;
  EXPECT_EQ(Control(state, "PARAM_TRANSLATE_X")["value"], 12.5);

  state = server().Post("/api/undo", json::object()).body;
  EXPECT_EQ(Control(state, "PARAM_TRANSLATE_X")["value"], 0.0);
  EXPECT_EQ(Control(state, "PARAM_ROTATE")["value"], 30.0);
  EXPECT_EQ(state["redo_name"], "Set Translate X");
  state = server().Post("/api/undo", json::object()).body;
  EXPECT_EQ(Control(state, "PARAM_ROTATE")["value"], 0.0);
  EXPECT_EQ(state["can_undo"], false);
  state = server().Post("/api/redo", json::object()).body;
  EXPECT_EQ(Control(state, "PARAM_ROTATE")["value"], 30.0);
  EXPECT_EQ(state["can_redo"], true);
  // A new change forgets what was undone.
  state = Set("Iterations", 3).body;
  EXPECT_EQ(state["can_redo"], false);
  EXPECT_EQ(State(), state);
}

TEST_F(PreviewTest, UniformScaleOffShowsScaleYAndUndoHidesItAgain) {
  json state = Set("Uniform Scale", false).body;
  EXPECT_EQ(Control(state, "PARAM_SCALE_X")["name"], "Scale X");
  EXPECT_EQ(Control(state, "PARAM_SCALE_Y")["visible"], true);
  EXPECT_EQ(Control(state, "PARAM_SCALE_Y")["enabled"], true);
  EXPECT_EQ(Set("Scale Y", 40).status, 200);
  state = server().Post("/api/undo", json::object()).body;
  state = server().Post("/api/undo", json::object()).body;
  EXPECT_EQ(Control(state, "PARAM_UNIFORM_SCALE")["value"], true);
  EXPECT_EQ(Control(state, "PARAM_SCALE_X")["name"], "Scale");
  EXPECT_EQ(Control(state, "PARAM_SCALE_Y")["visible"], false);
}

TEST_F(PreviewTest, AResetButtonIsOneUndoStepNamedByThePlugin) {
  Set("Uniform Scale", false);
  Set("Scale Y", 40);
  Set("Rotate", 20);
  json state = server().Post("/api/button", {{"name", "Reset Transforms"}}).body;
  EXPECT_EQ(state["undo_name"], "Reset Transform Controls");
  EXPECT_EQ(Control(state, "PARAM_ROTATE")["value"], 0.0);
  EXPECT_EQ(Control(state, "PARAM_SCALE_Y")["value"], 100.0);
  EXPECT_EQ(Control(state, "PARAM_UNIFORM_SCALE")["value"], true);
  EXPECT_EQ(Control(state, "PARAM_SCALE_Y")["visible"], false);
  EXPECT_FALSE(state.contains("open_url"));
  // One step back restores all three.
  state = server().Post("/api/undo", json::object()).body;
  EXPECT_EQ(Control(state, "PARAM_ROTATE")["value"], 20.0);
  EXPECT_EQ(Control(state, "PARAM_SCALE_Y")["value"], 40.0);
  EXPECT_EQ(Control(state, "PARAM_UNIFORM_SCALE")["value"], false);
  EXPECT_EQ(state["undo_name"], "Set Rotate");
}

class PreviewLinkTest : public PreviewTest {
 protected:
  // The stand-in opener is first on PATH before the server starts, so anything it ran shows.
  void SetUp() override { Start(); }
  PageOpenerStub opener_;
};

TEST_F(PreviewLinkTest, LinkButtonsHandTheirPageToThePageAndRunNothing) {
  const json before = State();
  for (const auto& [button, path] :
       {std::pair{"PARAM_PRODUCT_PAGE", "/varnex"}, std::pair{"PARAM_FREE_PLUGINS", "/free"},
        std::pair{"PARAM_GET_SUPPORT", "/varnex-support"}}) {
    const testsupport::Answer answer = server().Post("/api/button", {{"name", button}});
    ASSERT_EQ(answer.status, 200) << answer.text;
    const std::string url = answer.body.value("open_url", "");
    EXPECT_EQ(url.rfind("https://", 0), 0u) << button << ": " << url;
    EXPECT_TRUE(url.ends_with(path)) << url;
  }
  EXPECT_EQ(opener_.Opened(), "");
  // A link changes no control and is no undo step.
  EXPECT_EQ(State(), before);
}

TEST_F(PreviewTest, EveryChangeIsToldToEveryOpenPage) {
  testsupport::EventReader first(server());
  testsupport::EventReader second(server());
  ASSERT_EQ(Set("Rotate", 12).status, 200);
  for (testsupport::EventReader* page : {&first, &second}) {
    const auto event = page->WaitFor([](const testsupport::Event& e) {
      return e.name == "state" && testsupport::ControlIn(e.data, "PARAM_ROTATE")["value"] == 12.0;
    });
    ASSERT_TRUE(event);
    EXPECT_EQ(event->data["undo_name"], "Set Rotate");
  }
  // A refused change is told to no one.
  ASSERT_EQ(Set("Rotate", "twelve").status, 400);
  ASSERT_EQ(server().Post("/api/save", json::object()).status, 200);
  ASSERT_TRUE(first.WaitFor([](const testsupport::Event& e) {
    return e.name == "state" && e.data["project"] == "preview.json";
  }));
  int states = 0;
  for (const testsupport::Event& e : first.Events()) states += e.name == "state";
  EXPECT_EQ(states, 2);
}

TEST(PreviewCommandTest, RefusesWhatRenderRefusesAndABadPort) {
  testsupport::TempDir dir;
  testsupport::ChildOptions options;
  options.capture = dir.path();
  options.timeout_s = 60;
  const std::string input = std::string(VARNEX_SOURCE_DIR) + "/examples/input.png";
  const testsupport::ChildRun port =
      testsupport::RunChild(VARNEX_CLI, {"preview", input, "--port", "70000"}, options);
  EXPECT_EQ(port.status, 2);
  EXPECT_NE(port.err.find("--port 70000"), std::string::npos) << port.err;
  const testsupport::ChildRun missing = testsupport::RunChild(
      VARNEX_CLI, {"preview", (dir.path() / "nothing.png").string()}, options);
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("nothing.png"), std::string::npos) << missing.err;
  EXPECT_EQ(missing.out, "");
}

TEST_F(PreviewTest, StopsWithStatusZeroOnSigterm) {
  EXPECT_EQ(server().Stop(), 0);
  // The address was the only line on standard output: the plug-in's diagnostics went elsewhere.
  EXPECT_EQ(server().RestOfOutput(), "");
  EXPECT_EQ(server().first_line().size(),
            std::string("varnex: preview at http://127.0.0.1:").size() +
                std::to_string(server().port()).size() + std::string("/?token=").size() + 32);
}

class PreviewTimelineTest : public PreviewTest {
 protected:
  void SetUp() override { Start({"-f", "0-4"}); }
};

TEST_F(PreviewTimelineTest, KeyframesAnimateAControlLinearlyBetweenFrames) {
  json state = server().Post("/api/keyframe", {{"name", "Rotate"}, {"frame", 0}}).body;
  EXPECT_EQ(Control(state, "PARAM_ROTATE")["keyframes"], json({0}));
  EXPECT_EQ(state["undo_name"], "Add Keyframe to Rotate");
  server().Post("/api/frame", {{"frame", 4}});
  // Setting a keyed control at another frame adds its key there.
  state = Set("Rotate", 40).body;
  EXPECT_EQ(Control(state, "PARAM_ROTATE")["keyframes"], json({0, 4}));
  EXPECT_EQ(Control(state, "PARAM_ROTATE")["animated"], true);
  state = server().Post("/api/frame", {{"frame", 1}}).body;
  EXPECT_EQ(state["frame"], 1);
  EXPECT_DOUBLE_EQ(Control(state, "PARAM_ROTATE")["value"].get<double>(), 10.0);
  // Toggling the key at 4 removes it; the control holds its only key's value.
  state = server().Post("/api/keyframe", {{"name", "PARAM_ROTATE"}, {"frame", 4}}).body;
  EXPECT_EQ(Control(state, "PARAM_ROTATE")["keyframes"], json({0}));
  EXPECT_EQ(Control(state, "PARAM_ROTATE")["value"], 0.0);
  state = server().Post("/api/undo", json::object()).body;
  EXPECT_EQ(Control(state, "PARAM_ROTATE")["keyframes"], json({0, 4}));
  EXPECT_DOUBLE_EQ(Control(state, "PARAM_ROTATE")["value"].get<double>(), 10.0);
}

}  // namespace
