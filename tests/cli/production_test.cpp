// The command as a farm and a person at a terminal use it: safe with the files it reads,
// resumable, accounting for every frame in its log and report, and able to say what it would do
// without doing it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>

#include "support/cli_support.h"

namespace {

using clitest::Lines;
using clitest::RunVarnex;
using clitest::TempDir;

class CliProduction : public ::testing::Test {
 protected:
  void SetUp() override { clitest::WritePicture(dir_ / "in.png", clitest::GradientPicture()); }

  void ExpectRefused(const std::vector<std::string>& args, const std::string& fragment) {
    const auto before = dir_.Entries();
    const auto run = RunVarnex(args, dir_);
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    EXPECT_NE(run.err.find(fragment), std::string::npos) << run.err << "expected: " << fragment;
    EXPECT_EQ(dir_.Entries(), before);
  }

  ino_t Inode(const std::string& name) {
    struct stat st {};
    EXPECT_EQ(stat((dir_ / name).c_str(), &st), 0) << name;
    return st.st_ino;
  }

  std::string In() const { return dir_ / "in.png"; }
  TempDir dir_;
};

TEST_F(CliProduction, TheFilesARenderReadsAreNeverItsOutputsByAnyName) {
  std::filesystem::create_symlink(dir_ / "in.png", dir_ / "link.png");
  std::filesystem::create_hard_link(dir_ / "in.png", dir_ / "hard.png");
  ExpectRefused({"render", In(), "-o", In()}, "is the input");
  ExpectRefused({"render", In(), "-o", dir_.path().string() + "/./in.png"}, "is the input");
  ExpectRefused({"render", In(), "-o", dir_ / "link.png"}, "is the input");
  ExpectRefused({"render", In(), "-o", dir_ / "hard.png"}, "is the input");
  clitest::WritePicture(dir_ / "map.png", clitest::GradientPicture());
  ExpectRefused({"render", In(), "-m", dir_ / "map.png", "-o", dir_.path().string() + "/./map.png"},
                "is the map");

  // Told not to overwrite, an existing output is named; where nothing can be written, before
  // anything renders.
  std::ofstream(dir_ / "out.0002.png") << "kept";
  ExpectRefused({"render", In(), "-f", "1-3", "-n", "-o", dir_ / "out.####.png"},
                "\"" + (dir_ / "out.0002.png").string() + "\" exists");
  ExpectRefused({"render", In(), "-o", "/proc/out.png"}, "cannot write there");

  // A unit the control is not in.
  ExpectRefused({"render", In(), "-s", "Map Gamma=5%", "-o", dir_ / "o.png"},
                "\"Map Gamma\": \"5%\" is in %; the control takes a plain number");
  ExpectRefused({"render", In(), "-s", "Translate X=10deg", "-o", dir_ / "o.png"},
                "is in deg; the control is in %");
}

TEST_F(CliProduction, SkipExistingResumesAndTheLogAccountsForEveryFrame) {
  const std::vector<std::string> render = {"render", In(), "-f", "1-4", "-o", dir_ / "f.####.png"};
  auto run = RunVarnex(render, dir_);
  ASSERT_EQ(run.status, 0) << run.err;
  // Not a terminal: one flushed line per frame, then the summary.
  const std::regex done(R"(varnex: frame [1-4] done in [0-9]+\.[0-9]{2} s \([1-4]/4, [0-9]+%\))");
  const auto lines = Lines(run.err);
  ASSERT_EQ(lines.size(), 5u) << run.err;
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(std::regex_match(lines[i], done)) << lines[i];
  EXPECT_EQ(lines[3].substr(lines[3].size() - 11), "(4/4, 100%)");
  EXPECT_EQ(lines[4].rfind("varnex: 1 frames rendered, 0 skipped, 3 reused, 0 failed in ", 0), 0u);

  const ino_t first = Inode("f.0001.png"), fourth = Inode("f.0004.png");
  std::filesystem::remove(dir_ / "f.0003.png");
  auto resume = render;
  resume.insert(resume.end(), {"--skip-existing", "--report", dir_ / "report.json"});
  run = RunVarnex(resume, dir_);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("varnex: frame 3 done in"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("1 frames rendered, 3 skipped, 0 reused, 0 failed"), std::string::npos)
      << run.err;
  EXPECT_EQ(Inode("f.0001.png"), first);
  EXPECT_EQ(Inode("f.0004.png"), fourth);
  EXPECT_TRUE(std::filesystem::exists(dir_ / "f.0003.png"));
  const auto report = nlohmann::json::parse(clitest::ReadFile(dir_ / "report.json"));
  ASSERT_EQ(report["frames"].size(), 4u);
  EXPECT_EQ(report["frames"][2]["outcome"], "done");
  EXPECT_EQ(report["frames"][2]["output"], (dir_ / "f.0003.png").string());
  EXPECT_EQ(report["frames"][3]["outcome"], "skipped");
  EXPECT_EQ(report["settings"]["frames"], "1-4");
}

TEST_F(CliProduction, ContinueOnErrorRendersTheOthersAndListsTheFailed) {
  for (int n = 1; n <= 4; ++n) {
    const std::string name = dir_ / ("s." + std::to_string(1000 + n).substr(1) + ".png");
    clitest::WritePicture(name, clitest::GradientPicture());
  }
  // Frame 2's pixels are cut short; the header that opening the sequence checks is whole.
  const std::string png = clitest::ReadFile(dir_ / "s.002.png");
  std::ofstream(dir_ / "s.002.png", std::ios::binary) << png.substr(0, png.size() * 2 / 3);
  const auto run = RunVarnex({"render", dir_ / "s.###.png", "--continue-on-error", "-j", "2",
                              "--report", dir_ / "r.json", "-o", dir_ / "o.####.png"},
                             dir_);
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.err.find("3 frames rendered, 0 skipped, 0 reused, 1 failed"), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("varnex: failed frames: 2\n"), std::string::npos) << run.err;
  for (int n : {1, 3, 4})
    EXPECT_TRUE(std::filesystem::exists(dir_ / ("o.000" + std::to_string(n) + ".png")));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "o.0002.png"));
  const auto report = nlohmann::json::parse(clitest::ReadFile(dir_ / "r.json"));
  EXPECT_EQ(report["frames"][1]["outcome"], "failed");
  EXPECT_NE(report["frames"][1]["failure"].get<std::string>().find("frame 2"), std::string::npos);
}

TEST_F(CliProduction, ADryRunSaysEverythingAndASavedProjectRendersTheSame) {
  std::ofstream(dir_ / "p.json")
      << R"({"input": "in.png", "frames": "0-4x2", "controls": {"Translate X": [[0, 0], [4, 20]]}})";
  const auto before = dir_.Entries();
  auto run = RunVarnex(
      {"render", "-p", dir_ / "p.json", "-s", "Rotate=10", "--dry-run", "-o", dir_ / "d.####.png"},
      dir_);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(dir_.Entries(), before);
  const auto plan = nlohmann::json::parse(run.out);
  ASSERT_EQ(plan["frames"].size(), 3u);
  EXPECT_EQ(plan["frames"][1]["output"], (dir_ / "d.0002.png").string());
  int seen = 0;
  for (const auto& control : plan["controls"]) {
    if (control["identifier"] == "PARAM_TRANSLATE_X") {
      ++seen;
      EXPECT_DOUBLE_EQ(control["values"]["2"].get<double>(), 10.0);
      EXPECT_DOUBLE_EQ(control["values"]["4"].get<double>(), 20.0);
    }
    if (control["identifier"] == "PARAM_ROTATE") {
      ++seen;
      EXPECT_DOUBLE_EQ(control["values"]["0"].get<double>(), 10.0);
    }
  }
  EXPECT_EQ(seen, 2);

  run = RunVarnex({"render", "-p", dir_ / "p.json", "-s", "Rotate=10", "-q", "--save-project",
                   dir_ / "saved.json", "-o", dir_ / "a.####.png"},
                  dir_);
  ASSERT_EQ(run.status, 0) << run.err;
  run = RunVarnex({"render", "-p", dir_ / "saved.json", "-q", "-o", dir_ / "b.####.png"}, dir_);
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* n : {"0000", "0002", "0004"}) {
    const auto a = clitest::ReadPicture(dir_ / ("a." + std::string(n) + ".png"));
    const auto b = clitest::ReadPicture(dir_ / ("b." + std::string(n) + ".png"));
    EXPECT_EQ(a.pixels, b.pixels) << n;
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "b.0001.png"));
}

}  // namespace

namespace {

// How many frames of a --report ended with each outcome.
std::map<std::string, int> Outcomes(const std::string& report_path) {
  std::map<std::string, int> counts;
  const auto report = nlohmann::json::parse(clitest::ReadFile(report_path));
  for (const auto& frame : report["frames"]) ++counts[frame["outcome"].get<std::string>()];
  return counts;
}

// A frame that cannot differ from the one before it is written again, not rendered again: a
// still with constant controls renders once. Whatever the plug-in says varies over time
// ("Iterations" 2 gives even constant transforms a trail), a control that changes, or a layer
// that shows another source frame renders every frame.
TEST_F(CliProduction, FramesThatCannotDifferAreRenderedOnceAndWrittenEach) {
  clitest::WritePicture(dir_ / "map.png", clitest::GradientPicture());
  for (int n = 1; n <= 3; ++n)
    clitest::WritePicture(dir_ / ("s." + std::to_string(n) + ".png"), clitest::GradientPicture());
  struct Case {
    std::string what;
    std::vector<std::string> args;
    std::map<std::string, int> outcomes;
    std::string summary;
  };
  const std::vector<Case> cases = {
      {"a still with constant controls",
       {In(), "-m", dir_ / "map.png", "-f", "1-48", "-j", "3", "-s", "Translate X=12"},
       {{"done", 1}, {"reused", 47}},
       "varnex: 1 frames rendered, 0 skipped, 47 reused, 0 failed in "},
      {"\"Iterations\" 2, transforms not animated",
       {In(), "-f", "1-48", "-s", "Iterations=2", "-s", "Translate X=12"},
       {{"done", 48}},
       "varnex: 48 frames rendered, 0 skipped, 0 reused, 0 failed in "},
      {"a control that changes from frame 3 on",
       {"-p", dir_ / "moves.json", "-f", "1-5"},
       {{"done", 4}, {"reused", 1}},
       "varnex: 4 frames rendered, 0 skipped, 1 reused, 0 failed in "},
      {"an input sequence of three frames",
       {dir_ / "s.#.png", "-f", "1-6"},
       {{"done", 3}, {"reused", 3}},
       "varnex: 3 frames rendered, 0 skipped, 3 reused, 0 failed in "},
  };
  std::ofstream(dir_ / "moves.json")
      << R"({"input": "in.png", "controls": {"Rotate": [[2, 0], [5, 30]]}})";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(dir_ / "out");
    std::filesystem::create_directories(dir_ / "out");
    std::vector<std::string> args = {"render"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.insert(args.end(), {"--report", dir_ / "r.json", "-o", dir_ / "out/f.####.png"});
    const auto run = RunVarnex(args, dir_);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Lines(run.err).back().rfind(c.summary, 0), 0u) << run.err;
    EXPECT_EQ(Outcomes(dir_ / "r.json"), c.outcomes);
  }
  // The reused frames are the rendered one's pixels, written whole under their own names; the
  // frames held past the sequence's end are its last frame's.
  EXPECT_EQ(clitest::ReadFile(dir_ / "out/f.0004.png"), clitest::ReadFile(dir_ / "out/f.0003.png"));
  EXPECT_EQ(clitest::ReadFile(dir_ / "out/f.0006.png"), clitest::ReadFile(dir_ / "out/f.0003.png"));
}

}  // namespace
