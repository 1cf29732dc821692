// varnex submit without a cluster: the batch script of --dry-run run by bash as each array task
// would run it (with printf in place of varnex, so the task's arguments come back as bash passes
// them), and the submission through a stand-in sbatch on PATH.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/submit.h"
#include "pipeline/frame_list.h"
#include "support/cli_support.h"
#include "support/scoped_env.h"

namespace {

namespace fs = std::filesystem;
using clitest::GradientPicture;
using clitest::Lines;
using clitest::RunVarnex;
using clitest::TempDir;
using clitest::WritePicture;

// Runs varnex in `cwd`, so that relative paths are relative to it.
testsupport::ChildRun RunIn(const fs::path& cwd, const std::vector<std::string>& args,
                            const TempDir& dir) {
  testsupport::ChildOptions options;
  options.cwd = cwd;
  options.capture = dir.path().parent_path();
  return testsupport::RunChild(VARNEX_CLI, args, options);
}

struct TaskRun {
  int status = -1;
  std::vector<std::string> argv;  // what varnex would have been given
  std::string err;
};

// Runs `script` as array task `task` (none: the variable unset), printing the task's argv
// NUL-separated instead of running varnex.
TaskRun RunTask(const std::string& script, const std::string& task, const TempDir& dir) {
  const size_t exec = script.find("\nexec ");
  EXPECT_NE(exec, std::string::npos) << script;
  const size_t command = exec + 6;
  const size_t render = script.find(" render ", command);
  std::string stand_in = script;
  stand_in.replace(command, render - command, "printf '%s\\0'");
  std::ofstream(dir / "task.sh") << stand_in;
  const std::vector<std::string> args =
      task.empty()
          ? std::vector<std::string>{"-c", "unset SLURM_ARRAY_TASK_ID; . \"$0\"", dir / "task.sh"}
          : std::vector<std::string>{"-c", "SLURM_ARRAY_TASK_ID=" + task + " . \"$0\"",
                                     dir / "task.sh"};
  testsupport::ChildOptions options;
  options.capture = dir.path().parent_path();
  const testsupport::ChildRun run = testsupport::RunChild("/bin/bash", args, options);
  TaskRun result{run.status, {}, run.err};
  for (size_t begin = 0; begin < run.out.size();) {
    const size_t end = run.out.find('\0', begin);
    result.argv.push_back(run.out.substr(begin, end - begin));
    begin = end + 1;
  }
  return result;
}

TEST(CliSubmit, ChunksCoverTheFramesOnceInOrder) {
  TempDir dir;
  WritePicture(dir / "in.png", GradientPicture());
  const std::string frames = "1-10,15,20-32x4,40";
  const auto run = RunVarnex({"submit", "--dry-run", "--chunk", "3", dir / "in.png", "-o",
                              dir / "out.####.png", "-f", frames},
                             dir);
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<int> covered;
  size_t tasks = 0;
  for (;; ++tasks) {
    const TaskRun task = RunTask(run.out, std::to_string(tasks), dir);
    if (task.status != 0) {
      // The task after the last has no frames, and says so in one line.
      EXPECT_EQ(task.status, 2);
      EXPECT_EQ(Lines(task.err).size(), 1u) << task.err;
      EXPECT_EQ(task.err.rfind("varnex: array task '" + std::to_string(tasks) + "'", 0), 0u);
      break;
    }
    ASSERT_GE(task.argv.size(), 4u);
    EXPECT_EQ(task.argv[0], "render");
    EXPECT_EQ(task.argv[1], "-f");
    EXPECT_EQ(task.argv[3], "--skip-existing");
    const std::vector<int> chunk = vpipe::ParseFrameList(task.argv[2], "chunk");
    EXPECT_LE(chunk.size(), 3u);
    covered.insert(covered.end(), chunk.begin(), chunk.end());
    // The user's own -f is not passed on beside the chunk's.
    for (size_t i = 4; i < task.argv.size(); ++i)
      EXPECT_EQ(task.argv[i].rfind("--frames", 0), std::string::npos) << task.argv[i];
  }
  EXPECT_EQ(covered, vpipe::ParseFrameList(frames, "-f"));
  EXPECT_EQ(tasks, 6u);  // 16 frames
  EXPECT_NE(run.out.find("\n#SBATCH --array=0-5\n"), std::string::npos) << run.out;
  EXPECT_EQ(RunTask(run.out, "", dir).status, 2);
}

TEST(CliSubmit, WithoutFramesASequenceGivesItsOwn) {
  TempDir dir;
  for (int frame = 3; frame <= 7; ++frame)
    WritePicture(dir / ("in." + std::to_string(frame) + ".png"), GradientPicture());
  const auto run = RunVarnex(
      {"submit", "--dry-run", "--chunk", "2", dir / "in.#.png", "-o", dir / "out.####.png"}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(RunTask(run.out, "0", dir).argv.at(2), "3-4");
  EXPECT_EQ(RunTask(run.out, "2", dir).argv.at(2), "7");
  EXPECT_EQ(RunTask(run.out, "3", dir).status, 2);
}

TEST(CliSubmit, ArgumentsReachTheTaskExactlyWithPathsAbsolute) {
  TempDir dir;
  // Every character bash would otherwise act on, in folder names and in a value.
  const std::string odd = "it's \"a\" $HOME `x` \\ *; #";
  const fs::path folder = dir / odd;
  fs::create_directories(folder / "out put");
  WritePicture(folder / "in.png", GradientPicture());
  WritePicture(folder / "map.png", GradientPicture());
  const std::string plugin = fs::relative(VARNEX_MODULE, folder);
  const std::string set = "Translate X=5 $(echo no) 'q'";
  const auto run = RunIn(
      folder,
      {"submit", "--dry-run",          "--chunk", "10",  "in.png",    "-m",     "map.png",
       "-o",     "out put/o.%04d.png", "-f",      "1-2", "-s",        set,      "--map-offset",
       "-3,2",   "--plugin",           plugin,    "-q",  "--log-dir", "../logs"},
      dir);
  ASSERT_EQ(run.status, 0) << run.err;
  const TaskRun task = RunTask(run.out, "0", dir);
  ASSERT_EQ(task.status, 0) << task.err;
  const std::string at = folder.lexically_normal().string();
  const std::vector<std::string> want = {"render",
                                         "-f",
                                         "1-2",
                                         "--skip-existing",
                                         at + "/in.png",
                                         "--output=" + at + "/out put/o.%04d.png",
                                         "--map=" + at + "/map.png",
                                         "--map-offset=-3,2",
                                         "--set=" + set,
                                         "--quiet",
                                         "--plugin=" + fs::canonical(VARNEX_MODULE).string()};
  EXPECT_EQ(task.argv, want);
  // The logs of each job and task, in the folder asked for, taken from where submit ran.
  EXPECT_NE(run.out.find("\n#SBATCH --output=" + (dir / "logs").string() + "/varnex-%A_%a.log\n"),
            std::string::npos)
      << run.out;
}

TEST(CliSubmit, EachTaskReportsAloneAndTheProjectIsTheWholeRender) {
  TempDir dir;
  WritePicture(dir / "in.png", GradientPicture());
  const auto run = RunIn(dir.path(),
                         {"submit", "--dry-run", "--chunk", "2", "in.png", "-o", "out.####.png",
                          "-f", "1-3", "--report", "comp.json", "--save-project", "shot.json"},
                         dir);
  ASSERT_EQ(run.status, 0) << run.err;
  // The report's own task number, so that no task's report replaces another's.
  for (const char* task : {"0", "1"}) {
    const TaskRun one = RunTask(run.out, task, dir);
    ASSERT_EQ(one.status, 0) << one.err;
    std::vector<std::string> reports;
    for (const std::string& arg : one.argv) {
      EXPECT_EQ(arg.rfind("--save-project", 0), std::string::npos) << arg;
      if (arg.rfind("--report", 0) == 0) reports.push_back(arg);
    }
    EXPECT_EQ(reports, std::vector<std::string>{
                           "--report=" + (dir / ("comp." + std::string(task) + ".json")).string()});
  }
  // Submit wrote the project, with every chunk's frames; no task writes one.
  const auto project = nlohmann::json::parse(testsupport::ReadFile(dir / "shot.json"));
  EXPECT_EQ(project.at("frames"), "1-3");
  EXPECT_EQ(vcli::TaskReportPath("/r/report", 4), "/r/report.4");
  EXPECT_EQ(vcli::TaskReportPath("/r/a.b.json", 0), "/r/a.b.0.json");
}

TEST(CliSubmit, SchedulerOptionsBecomeDirectives) {
  TempDir dir;
  WritePicture(dir / "in.png", GradientPicture());
  fs::create_directories(dir / "100%");
  const auto run =
      RunVarnex({"submit", "--dry-run", "--chunk", "1", dir / "in.png", "-o", dir / "100%/out.png",
                 "--partition", "comp", "--time", "0:30:00", "--mem", "2G", "--job-name", "shot 12",
                 "--sbatch-arg=--qos=high", "--sbatch-arg", "--cpus-per-task=2"},
                dir);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> lines = Lines(run.out);
  std::vector<std::string> directives;
  for (const std::string& line : lines)
    if (line.rfind("#SBATCH ", 0) == 0) directives.push_back(line.substr(8));
  // A literal '%' in the log folder is doubled, or sbatch would take it for a pattern.
  const std::vector<std::string> want = {
      "\"--job-name=shot 12\"",
      "--array=0-0",
      "--output=" + (dir / "100%%").string() + "/varnex-%A_%a.log",
      "--partition=comp",
      "--time=0:30:00",
      "--mem=2G",
      "--qos=high",
      "--cpus-per-task=2"};
  EXPECT_EQ(directives, want);
  // Directives are read only above the first command.
  EXPECT_EQ(lines.at(1 + want.size()).rfind("# ", 0), 0u);
}

TEST(CliSubmit, SubmitsThroughSbatchAndPrintsTheJobId) {
  TempDir dir;
  WritePicture(dir / "in.png", GradientPicture());
  const fs::path bin = dir / "bin";
  fs::create_directories(bin);
  // A stand-in sbatch that keeps what it was given and answers as --parsable does on a
  // federation.
  std::ofstream(bin / "sbatch") << "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" << (dir / "args").string()
                                << "'\ncp \"$2\" '" << (dir / "script").string()
                                << "'\necho '4711;cluster'\n";
  fs::permissions(bin / "sbatch", fs::perms::owner_all);
  const std::vector<std::string> args = {"submit", "--chunk",       "4",         dir / "in.png",
                                         "-o",     dir / "out.png", "--log-dir", dir / "new/logs"};
  {
    ScopedEnv path("PATH", bin.string() + ":/usr/bin:/bin");
    const auto run = RunVarnex(args, dir);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "4711\n");
  }
  EXPECT_EQ(Lines(testsupport::ReadFile(dir / "args")).at(0), "--parsable");
  EXPECT_NE(testsupport::ReadFile(dir / "script").find("exec "), std::string::npos);
  EXPECT_TRUE(fs::is_directory(dir / "new/logs"));

  // sbatch refusing the job fails the command with its first line.
  std::ofstream(bin / "sbatch") << "#!/bin/sh\necho 'sbatch: error: invalid partition' >&2\n"
                                   "echo 'second line' >&2\nexit 1\n";
  {
    ScopedEnv path("PATH", bin.string() + ":/usr/bin:/bin");
    const auto run = RunVarnex(args, dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "varnex: sbatch failed (exit 1): sbatch: error: invalid partition\n");
    EXPECT_EQ(run.out, "");
  }
  fs::remove(bin / "sbatch");
  {
    ScopedEnv path("PATH", bin.string());
    const auto run = RunVarnex(args, dir);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err.rfind("varnex: sbatch not found on PATH", 0), 0u) << run.err;
    EXPECT_EQ(Lines(run.err).size(), 1u);
  }
}

TEST(CliSubmit, BadInputIsRefusedInOneLine) {
  TempDir dir;
  WritePicture(dir / "in.png", GradientPicture());
  auto args = [&](std::vector<std::string> options, const std::string& output = "out.####.png",
                  const std::string& input = "in.png") {
    std::vector<std::string> all = {"submit", "--dry-run", dir / input, "-o", dir / output};
    all.insert(all.end(), options.begin(), options.end());
    return all;
  };
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {args({"-f", "1-4"}), "varnex: --chunk is required"},
      {args({"--chunk", "0", "-f", "1-4"}), "varnex: --chunk \"0\": expected a whole number"},
      {args({"--chunk", "2x", "-f", "1-4"}), "varnex: --chunk \"2x\": expected a whole number"},
      {args({"--chunk", "2", "-f", "1-4"}, "out.mov"), "varnex: output \""},
      {args({"--chunk", "2", "-f", "4-1"}), "varnex: --frames"},
      {args({"--chunk", "2", "-f", "1-4", "--job-name", "two\nlines"}), "varnex: sbatch option"},
      {args({"--chunk", "2", "-f", "1-4", "--log-dir", dir / "a\\b"}), "varnex: --log-dir"},
      {args({"--chunk", "2"}, "o.png", "none.png"), "varnex: input"},
  };
  for (const auto& [command, prefix] : cases) {
    const auto run = RunVarnex(command, dir);
    EXPECT_EQ(run.status, 2) << prefix;
    EXPECT_EQ(run.err.rfind(prefix, 0), 0u) << run.err;
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    EXPECT_EQ(run.out, "");
  }
  EXPECT_EQ(RunVarnex(args({"--chunk", "2", "-f", "1-4"}), dir).status, 0);
}

}  // namespace
