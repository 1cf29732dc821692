// The commands that describe the plug-in, and the command line's own help.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "pipeline/param_names.h"
#include "support/cli_support.h"

namespace {

using clitest::RunVarnex;
using clitest::TempDir;

const nlohmann::json* FindByIdentifier(const nlohmann::json& list, const std::string& id) {
  for (const auto& c : list)
    if (c["identifier"] == id) return &c;
  return nullptr;
}

TEST(CliInfo, ControlsJsonListsEveryDeclaredControl) {
  TempDir dir;
  const auto run = RunVarnex({"controls", "--json"}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  const auto list = nlohmann::json::parse(run.out);
  ASSERT_TRUE(list.is_array());
  ASSERT_EQ(list.size(), 69u);
  std::set<int> ids;
  for (size_t i = 0; i < list.size(); ++i) {
    const auto& c = list[i];
    EXPECT_EQ(c["index"], static_cast<int>(i) + 1);
    EXPECT_EQ(c["identifier"], std::string(vpipe::kParamNames[i + 1]));
    EXPECT_TRUE(ids.insert(c["id"].get<int>()).second) << "duplicate id " << c["id"];
  }

  const auto* translate = FindByIdentifier(list, "PARAM_TRANSLATE_X");
  ASSERT_TRUE(translate);
  EXPECT_EQ((*translate)["name"], "Translate X");
  EXPECT_EQ((*translate)["kind"], "float_slider");
  EXPECT_EQ((*translate)["range"], nlohmann::json({-5000, 5000}));
  EXPECT_EQ((*translate)["unit"], "percent");
  EXPECT_EQ((*translate)["settable"], true);

  // Single-precision limits read as declared.
  const auto* red = FindByIdentifier(list, "PARAM_CA_RED");
  ASSERT_TRUE(red);
  EXPECT_EQ((*red)["slider_range"], nlohmann::json({0.9, 1.1}));

  const auto* easing = FindByIdentifier(list, "PARAM_DISPLACEMENT_EASING");
  ASSERT_TRUE(easing);
  EXPECT_EQ((*easing)["choices"],
            nlohmann::json({"None", "(-", "Ease In", "Ease Out", "Ease In & Out"}));
  EXPECT_EQ((*easing)["default"], "None");

  // Groups and the GPU popups are listed but cannot be set; "View" is hidden from the panel.
  EXPECT_EQ((*FindByIdentifier(list, "PARAM_TRANSFORM_GROUP"))["settable"], false);
  EXPECT_EQ((*FindByIdentifier(list, "PARAM_RENDERER"))["settable"], false);
  EXPECT_EQ((*FindByIdentifier(list, "PARAM_VIEW"))["shown"], false);
  EXPECT_EQ((*FindByIdentifier(list, "PARAM_ROTATE"))["shown"], true);
}

TEST(CliInfo, ControlsTableHasOneLinePerControl) {
  TempDir dir;
  const auto run = RunVarnex({"controls"}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  const auto lines = clitest::Lines(run.out);
  ASSERT_EQ(lines.size(), 70u);  // a heading and 69 controls
  EXPECT_NE(lines[15].find("PARAM_TRANSLATE_X"), std::string::npos) << lines[15];
  EXPECT_NE(lines[15].find("-5000 to 5000 percent"), std::string::npos) << lines[15];
}

TEST(CliInfo, AboutAndGpuShowThePluginsTexts) {
  TempDir dir;
  const auto about = RunVarnex({"about"}, dir);
  ASSERT_EQ(about.status, 0) << about.err;
  EXPECT_EQ(about.out.rfind("Varnex v1.6.1\n\nDisplaces pixels", 0), 0u) << about.out;

  const auto gpu = RunVarnex({"gpu"}, dir);
  ASSERT_EQ(gpu.status, 0) << gpu.err;
  const auto lines = clitest::Lines(gpu.out);
  ASSERT_EQ(lines.size(), 4u) << gpu.out;
  const char* labels[] = {"Version: ", "Vendor: ", "Renderer: ", "Shader Version: "};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(lines[i].rfind(labels[i], 0), 0u) << lines[i];
    EXPECT_GT(lines[i].size(), std::string(labels[i]).size()) << "empty driver text";
  }
}

TEST(CliInfo, RenderHelpDocumentsEveryOption) {
  TempDir dir;
  const auto run = RunVarnex({"render", "--help"}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* option : {"INPUT", "-o,--output", "-m,--map", "--map-offset", "-s,--set",
                             "-p,--project", "-d,--depth", "--downsample", "-f,--frames", "--fps",
                             "-j,--threads", "-q,--quiet", "-v,--verbose", "--plugin"})
    EXPECT_NE(run.out.find(option), std::string::npos) << option;

  const auto version = RunVarnex({"--version"}, dir);
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "varnex 1.6.1\n");
}

// A plug-in that cannot be loaded is one line naming it and why, and the bad-input status.
TEST(CliInfo, PluginThatCannotBeLoadedIsOneCleanLine) {
  TempDir dir;
  std::ofstream(dir / "notes.so") << "not a module";
  const std::string not_module = (dir / "notes.so").string();
  auto run = RunVarnex({"about", "--plugin", not_module}, dir);
  EXPECT_EQ(run.status, 2);
  const std::string lead =
      "varnex: cannot load the plug-in " + not_module + ": it is not a loadable module (";
  EXPECT_EQ(run.err.substr(0, lead.size()), lead) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;

  run = RunVarnex({"about", "--plugin", VARNEX_NO_ENTRY_MODULE}, dir);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, std::string("varnex: cannot load the plug-in ") + VARNEX_NO_ENTRY_MODULE +
                         ": it has no EffectMain entry point\n");
}

}  // namespace
