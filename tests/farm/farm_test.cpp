// varnex submit on a real Slurm cluster of one node: the array's tasks render their chunks into
// the same frames a local render writes, and a task cancelled while it renders is made whole by
// submitting again, which renders only the frames it had not written.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "slurm_cluster.h"
#include "support/cli_support.h"

namespace {

namespace fs = std::filesystem;
using clitest::Lines;
using clitest::MakePicture;
using clitest::TempDir;
using clitest::WritePicture;
using farmtest::SlurmCluster;
using farmtest::TaskRecord;

constexpr int kFrames = 24;
constexpr int kChunk = 6;
constexpr int kTasks = kFrames / kChunk;

// Input frames that differ from each other and within themselves, and a map that varies, so a
// frame rendered from the wrong input, at the wrong time or in pieces shows in its bytes.
void WriteFootage(const TempDir& dir) {
  for (int frame = 1; frame <= kFrames; ++frame) {
    clitest::Picture picture = MakePicture(32, 32, 4);
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x) {
        float* px = picture.ptr(x, y);
        px[0] = ((x * 7 + frame * 9) % 256) / 255.0f;
        px[1] = ((y * 8 + frame * 5) % 256) / 255.0f;
        px[2] = ((x * y + frame * 3) % 256) / 255.0f;
        px[3] = 1.0f;
      }
    char name[32];
    std::snprintf(name, sizeof name, "in.%04d.png", frame);
    WritePicture(dir / name, picture);
  }
  clitest::Picture map = MakePicture(32, 32, 3);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x)
      for (int c = 0; c < 3; ++c) map.ptr(x, y)[c] = ((x * 8 + y * 3) % 256) / 255.0f;
  WritePicture(dir / "map.png", map);
  fs::create_directories(dir / "out");
  fs::create_directories(dir / "local");
}

fs::path Frame(const fs::path& folder, int frame) {
  char name[32];
  std::snprintf(name, sizeof name, "f.%04d.png", frame);
  return folder / name;
}

// The render both the cluster and the local comparison run, with the footage under `base`.
std::vector<std::string> RenderOptions(const std::string& base, const std::string& output,
                                       const std::vector<std::string>& extra) {
  std::vector<std::string> options = {
      base + "in.####.png", "-m", base + "map.png", "-o",           output, "-s",
      "Translate X=3",      "-s", "Rotate=20",      "--map-offset", "2,1"};
  options.insert(options.end(), extra.begin(), extra.end());
  return options;
}

testsupport::ChildRun RunVarnexIn(const TempDir& dir, const std::vector<std::string>& args) {
  testsupport::ChildOptions options;
  options.cwd = dir.path();
  options.capture = dir.path().parent_path();
  options.timeout_s = 300;
  return testsupport::RunChild(VARNEX_CLI, args, options);
}

// Submits with `varnex submit` from the test's folder and returns the job id it printed.
std::string Submit(const TempDir& dir, const std::vector<std::string>& submit_options,
                   const std::vector<std::string>& render_extra) {
  std::vector<std::string> args = {"submit", "--chunk", std::to_string(kChunk)};
  args.insert(args.end(), submit_options.begin(), submit_options.end());
  const std::vector<std::string> render = RenderOptions("", "out/f.####.png", render_extra);
  args.insert(args.end(), render.begin(), render.end());
  const testsupport::ChildRun run = RunVarnexIn(dir, args);
  EXPECT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> lines = Lines(run.out);
  EXPECT_EQ(lines.size(), 1u) << run.out;
  return lines.empty() ? std::string() : lines[0];
}

fs::path TaskLog(const fs::path& folder, const std::string& job, int task) {
  return folder / ("varnex-" + job + "_" + std::to_string(task) + ".log");
}

int CountLinesWith(const std::string& text, const std::string& part) {
  int count = 0;
  for (const std::string& line : Lines(text))
    if (line.find(part) != std::string::npos) ++count;
  return count;
}

// Renders frames `list` here, without the cluster, into `folder`, with the footage found under
// `base` (empty: the test's folder, by relative paths).
void RenderLocally(const TempDir& dir, const std::string& folder, const std::string& base,
                   const std::string& list, const std::vector<std::string>& extra) {
  std::vector<std::string> args = {"render", "-f", list, "-q"};
  const std::vector<std::string> render = RenderOptions(base, folder + "/f.####.png", extra);
  args.insert(args.end(), render.begin(), render.end());
  const testsupport::ChildRun run = RunVarnexIn(dir, args);
  ASSERT_EQ(run.status, 0) << run.err;
}

void ExpectSameBytes(const TempDir& dir, int first, int last) {
  for (int frame = first; frame <= last; ++frame) {
    const std::string farm = testsupport::ReadFile(Frame(dir / "out", frame));
    ASSERT_FALSE(farm.empty()) << "frame " << frame << " is missing";
    EXPECT_TRUE(farm == testsupport::ReadFile(Frame(dir / "local", frame)))
        << "frame " << frame << " differs from the local render";
  }
}

struct FileIdentity {
  ino_t inode = 0;
  long long mtime_ns = 0;
  bool operator==(const FileIdentity&) const = default;
};

std::ostream& operator<<(std::ostream& out, const FileIdentity& file) {
  return out << "inode " << file.inode << ", modified " << file.mtime_ns << " ns";
}

FileIdentity Identify(const fs::path& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return {};
  return {info.st_ino, info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec};
}

void ExpectAllCompleted(const std::vector<TaskRecord>& tasks) {
  ASSERT_EQ(tasks.size(), static_cast<size_t>(kTasks));
  for (int i = 0; i < kTasks; ++i) {
    EXPECT_EQ(tasks[i].task, i);
    EXPECT_EQ(tasks[i].state, "COMPLETED") << "task " << i;
    EXPECT_EQ(tasks[i].fields.at("ExitCode"), "0:0") << "task " << i;
  }
}

TEST(FarmTest, ChunkedJobWritesTheFramesOfALocalRender) {
  TempDir dir;
  WriteFootage(dir);
  SlurmCluster cluster;
  // The tasks run in / (--chdir), so only the absolute paths submit hands them find the files.
  const std::string job =
      Submit(dir,
             {"--partition", cluster.partition(), "--time", "10:00", "--mem", "64M", "--job-name",
              "farmtest", "--sbatch-arg=--chdir=/", "--log-dir", "logs"},
             {"-f", "1-" + std::to_string(kFrames)});
  ASSERT_FALSE(job.empty());
  const std::vector<TaskRecord> tasks = cluster.WaitForJob(job, 300);
  ExpectAllCompleted(tasks);
  for (const TaskRecord& task : tasks) {
    // The scheduler options reached Slurm itself, not only the script.
    EXPECT_EQ(task.fields.at("Partition"), cluster.partition());
    EXPECT_EQ(task.fields.at("TimeLimit"), "00:10:00");
    EXPECT_EQ(task.fields.at("MinMemoryNode"), "64M");
    EXPECT_EQ(task.fields.at("JobName"), "farmtest");
    EXPECT_EQ(task.fields.at("WorkDir"), "/");
    // Each task rendered its own chunk, one log line a frame, and said so in its summary.
    const std::string log = testsupport::ReadFile(TaskLog(dir / "logs", job, task.task));
    EXPECT_EQ(CountLinesWith(log, " done in "), kChunk) << log;
    EXPECT_EQ(CountLinesWith(log, "varnex: " + std::to_string(kChunk) +
                                      " frames rendered, 0 skipped, 0 reused, 0 failed"),
              1)
        << log;
  }
  // Byte for byte what one local render of every frame writes, run as a person would from the
  // shot's folder with relative paths: no frame depends on its chunk, on the others its task
  // rendered before it, or on where the command ran.
  RenderLocally(dir, "local", "", "1-" + std::to_string(kFrames), {});
  ExpectSameBytes(dir, 1, kFrames);
  // Nothing beyond the frames asked for, and no temporary file left behind.
  int files = 0;
  for (const auto& entry : fs::directory_iterator(dir / "out")) {
    ++files;
    EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
  }
  EXPECT_EQ(files, kFrames);
}

TEST(FarmTest, CancelledTaskIsCompletedByTheSameSubmitAgain) {
  TempDir dir;
  WriteFootage(dir);
  SlurmCluster cluster;
  // Heavy enough per frame, one frame at a time, that a chunk is still rendering when its first
  // frame is logged and the cancel follows.
  const std::vector<std::string> slow = {"-s", "Anti-Aliasing=8x", "-s", "Iterations=1000", "-j",
                                         "1"};
  std::vector<std::string> render = {"-f", "1-" + std::to_string(kFrames)};
  render.insert(render.end(), slow.begin(), slow.end());
  const std::string first = Submit(dir, {"--log-dir", "logs1"}, render);
  ASSERT_FALSE(first.empty());

  // Cancel task 0 once it has written a frame of its chunk.
  const fs::path log0 = TaskLog(dir / "logs1", first, 0);
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(240);
  while (CountLinesWith(testsupport::ReadFile(log0), " done in ") == 0) {
    ASSERT_LT(std::chrono::steady_clock::now(), give_up) << "task 0 wrote no frame";
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const testsupport::ChildRun cancel = cluster.Command("scancel", {first + "_0"});
  ASSERT_EQ(cancel.status, 0) << cancel.err;

  const std::vector<TaskRecord> tasks = cluster.WaitForJob(first, 300);
  ASSERT_EQ(tasks.size(), static_cast<size_t>(kTasks));
  ASSERT_EQ(tasks[0].state, "CANCELLED")
      << "task 0 finished its chunk before the cancel reached it";
  for (int i = 1; i < kTasks; ++i) EXPECT_EQ(tasks[i].state, "COMPLETED") << "task " << i;
  EXPECT_NE(testsupport::ReadFile(log0).find("CANCELLED"), std::string::npos);

  // The cancel stopped the render between frames or inside one: what it wrote is whole and
  // named, the frame it was inside left no temporary file.
  std::map<int, FileIdentity> kept;
  for (int frame = 1; frame <= kFrames; ++frame)
    if (fs::exists(Frame(dir / "out", frame))) kept[frame] = Identify(Frame(dir / "out", frame));
  for (const auto& entry : fs::directory_iterator(dir / "out"))
    EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
  const int missing = kFrames - static_cast<int>(kept.size());
  ASSERT_GE(missing, 1);
  ASSERT_LT(missing, kChunk) << "more frames are missing than task 0's chunk holds";
  for (int frame = kChunk + 1; frame <= kFrames; ++frame)
    EXPECT_TRUE(kept.count(frame)) << "frame " << frame << " of a completed task";

  const std::string second = Submit(dir, {"--log-dir", "logs2"}, render);
  ASSERT_FALSE(second.empty());
  ExpectAllCompleted(cluster.WaitForJob(second, 300));

  // Frames written the first time are the same files, untouched; task 0 rendered what its
  // chunk lacked and the other tasks rendered nothing.
  for (const auto& [frame, identity] : kept)
    EXPECT_EQ(Identify(Frame(dir / "out", frame)), identity) << "frame " << frame << " rewritten";
  const std::string redo = testsupport::ReadFile(TaskLog(dir / "logs2", second, 0));
  EXPECT_EQ(
      CountLinesWith(redo, "varnex: " + std::to_string(missing) + " frames rendered, " +
                               std::to_string(kChunk - missing) + " skipped, 0 reused, 0 failed"),
      1)
      << redo;
  EXPECT_EQ(CountLinesWith(redo, " done in "), missing) << redo;
  for (int task = 1; task < kTasks; ++task) {
    const std::string log = testsupport::ReadFile(TaskLog(dir / "logs2", second, task));
    EXPECT_EQ(CountLinesWith(log, "varnex: 0 frames rendered, " + std::to_string(kChunk) +
                                      " skipped, 0 reused, 0 failed"),
              1)
        << log;
  }

  // The chunk, kept and redone frames alike, is what a local render of it writes.
  RenderLocally(dir, "local", "", "1-" + std::to_string(kChunk), slow);
  ExpectSameBytes(dir, 1, kChunk);
}

}  // namespace
