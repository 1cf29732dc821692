#include "cli/submit.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "cli/exit_status.h"
#include "hostapp/text.h"
#include "pipeline/errors.h"
#include "pipeline/frame_list.h"
#include "pipeline/layers.h"
#include "pipeline/limits.h"
#include "pipeline/options.h"
#include "pipeline/plan.h"
#include "pipeline/render_report.h"

extern char** environ;

namespace vcli {

using namespace vpipe;  // a front end of the pipeline

namespace fs = std::filesystem;

namespace {

const char kSubmitGroup[] = "Slurm";

// Value names of the render's options that name files or folders.
bool IsPathValue(const std::string& value_name) {
  return value_name == "FOOTAGE" || value_name == "OUTPUT" || value_name == "FILE" ||
         value_name == "PATH";
}

// One argument of an #SBATCH line: sbatch splits those lines at blanks and stops at '#',
// except inside double quotes, where a backslash escapes the next character.
std::string DirectiveQuoted(const std::string& text) {
  if (!text.empty() && text.find_first_of(" \t\"'\\#") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

int ChunkOption(const std::string& text) {
  int value = 0;
  if (!vhost::ParseWholeNumber(text, &value) || value < 1 || value > kMaxFrameCount)
    throw InputError("--chunk \"" + text + "\": expected a whole number of frames from 1 to " +
                     std::to_string(kMaxFrameCount));
  return value;
}

// Where the tasks' logs go, as sbatch's --output pattern: %A is the job, %a the task. A literal
// '%' is doubled; a backslash would switch the patterns off altogether.
std::string LogPattern(const fs::path& folder) {
  const std::string text = folder.string();
  if (text.find('\\') != std::string::npos)
    throw InputError("--log-dir " + vhost::Quoted(text) +
                     ": sbatch takes a backslash in a log name as \"no job numbers\"; choose a "
                     "folder without one");
  std::string pattern;
  for (char c : text) pattern += c == '%' ? std::string("%%") : std::string(1, c);
  return pattern + "/varnex-%A_%a.log";
}

// The render options as each task passes them on: paths absolute, values joined to their
// option by '=' so that one starting with '-' stays a value. The task's own frames replace -f,
// and every task skips what exists. The report is each task's own (BatchJob::report), and the
// project is the whole render's, written by submit: from a task it would hold one chunk.
std::vector<std::string> TaskRenderArgs(const std::vector<PassedOption>& options) {
  std::vector<std::string> args;
  for (const PassedOption& option : options) {
    if (option.name == "frames" || option.name == "skip-existing" || option.name == "report" ||
        option.name == "save-project")
      continue;
    for (const std::string& given : option.values) {
      std::string value = given;
      if (option.path && !value.empty()) value = fs::absolute(value).lexically_normal().string();
      if (option.name.empty())
        args.push_back(value);
      else if (option.flag && value == "true")
        args.push_back("--" + option.name);
      else
        args.push_back("--" + option.name + "=" + value);
    }
  }
  return args;
}

// The first executable `name` on PATH, or empty.
std::string FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  const std::string dirs = path ? path : "";
  for (size_t begin = 0; begin <= dirs.size();) {
    size_t end = dirs.find(':', begin);
    if (end == std::string::npos) end = dirs.size();
    const std::string dir = end > begin ? dirs.substr(begin, end - begin) : ".";
    const std::string candidate = dir + "/" + name;
    std::error_code ec;
    if (fs::is_regular_file(candidate, ec) && access(candidate.c_str(), X_OK) == 0)
      return candidate;
    begin = end + 1;
  }
  return {};
}

// A private folder for the script and sbatch's two output streams, removed with everything in
// it however the submission ends.
class ScratchDir {
 public:
  ScratchDir() {
    std::string name = (fs::temp_directory_path() / "varnex-submit-XXXXXX").string();
    if (!mkdtemp(name.data()))
      throw std::runtime_error("cannot make a temporary folder for the batch script");
    path_ = name;
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  fs::path operator/(const char* name) const { return path_ / name; }

 private:
  fs::path path_;
};

std::string ReadText(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Submits `script` with `sbatch --parsable` and returns the job id it prints. Throws
// std::runtime_error, with sbatch's first line of complaint, when it fails.
std::string Sbatch(const std::string& sbatch, const std::string& script) {
  ScratchDir scratch;
  const fs::path script_path = scratch / "job.sh";
  const fs::path out_path = scratch / "stdout";
  const fs::path err_path = scratch / "stderr";
  std::ofstream(script_path, std::ios::binary) << script;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<std::string> argv_text = {sbatch, "--parsable", script_path.string()};
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, sbatch.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0)
    throw std::runtime_error("cannot run " + vhost::Quoted(sbatch) + ": " + std::strerror(spawned));
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }

  const std::string err = ReadText(err_path);
  const std::string complaint = err.substr(0, err.find('\n'));
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error(
        "sbatch failed (" +
        (WIFEXITED(status)
             ? "exit " + std::to_string(WEXITSTATUS(status))
             : "signal " + std::to_string(WIFSIGNALED(status) ? WTERMSIG(status) : 0)) +
        ")" + (complaint.empty() ? "" : ": " + complaint));
  // "ID" or "ID;CLUSTER".
  const std::string out = ReadText(out_path);
  const std::string id = out.substr(0, out.find_first_of(";\n"));
  if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos)
    throw std::runtime_error("sbatch printed no job id: " +
                             vhost::Quoted(out.substr(0, out.find('\n'))));
  return id;
}

}  // namespace

std::string TaskReportPath(const std::string& report, size_t task) {
  const fs::path path(report);
  const fs::path name =
      path.stem().string() + "." + std::to_string(task) + path.extension().string();
  return (path.parent_path() / name).string();
}

void AddSubmitOptions(CLI::App* command, SubmitArgs* args) {
  auto text = [&](const std::string& flags, std::optional<std::string>* target,
                  const std::string& help, const std::string& value_name) {
    return command
        ->add_option_function<std::string>(
            flags, [target](const std::string& value) { *target = value; }, help)
        ->type_name(value_name)
        ->group(kSubmitGroup);
  };
  text("--chunk", &args->chunk, "frames per array task (required)", "N")->required();
  text("--partition", &args->partition, "sbatch's --partition", "NAME");
  text("--time", &args->time, "sbatch's --time: each task's limit", "TIME");
  text("--mem", &args->mem, "sbatch's --mem: each task's memory", "SIZE");
  text("--job-name", &args->job_name, "sbatch's --job-name (default varnex)", "NAME");
  command
      ->add_option("--sbatch-arg", args->sbatch_args,
                   "one more argument for sbatch, e.g. --sbatch-arg=--cpus-per-task=4; repeatable")
      ->type_name("ARG")
      ->allow_extra_args(false)
      ->group(kSubmitGroup);
  text("--log-dir", &args->log_dir,
       "the folder of the tasks' logs, varnex-JOB_TASK.log (default: the output's folder)",
       "FOLDER");
  // varnex render's own --dry-run (on this command too, with the render's options) means here:
  // print the batch script instead of submitting it, and it is not passed on to the tasks.
  if (CLI::Option* dry_run = command->get_option_no_throw("--dry-run"))
    dry_run->description("print the batch script instead of submitting it")->group(kSubmitGroup);
  command->footer(
      "Every other option is varnex render's, passed on to each task with its paths made "
      "absolute. Prints the job id. Exit status: 0 submitted, 1 sbatch failed, 2 bad input "
      "(nothing submitted).");
}

void CollectRenderOptions(const CLI::App& command, SubmitArgs* args) {
  for (const CLI::Option* option : command.get_options()) {
    if (option == command.get_help_ptr() || option->get_group() == kSubmitGroup ||
        option->count() == 0)
      continue;
    PassedOption passed;
    if (option->nonpositional())
      passed.name = option->get_lnames().empty() ? option->get_snames().front()
                                                 : option->get_lnames().front();
    passed.values = option->results();
    passed.flag = option->get_expected_min() == 0;
    passed.path = IsPathValue(option->get_type_name());
    args->render_options.push_back(std::move(passed));
  }
}

std::string ShellQuoted(const std::string& text) {
  const bool plain = !text.empty() && text.find_first_not_of(
                                          "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                          "0123456789_-./:=,@%+") == std::string::npos;
  if (plain) return text;
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string BatchScript(const BatchJob& job) {
  std::string script = "#!/bin/bash\n";
  // sbatch reads directives only up to the first line that is not a comment.
  for (const std::string& directive : job.directives) {
    if (directive.find_first_of("\r\n") != std::string::npos)
      throw InputError("sbatch option " +
                       vhost::Quoted(directive.substr(0, directive.find_first_of("\r\n"))) +
                       " and a line break: an #SBATCH line cannot hold one");
    script += "#SBATCH " + DirectiveQuoted(directive) + "\n";
  }
  script +=
      "# Written by varnex submit. Each task renders its chunk and skips the frames already\n"
      "# written, so a task run again renders only what its chunk still lacks.\n"
      "set -eu\n"
      "case \"${SLURM_ARRAY_TASK_ID:-}\" in\n";
  for (size_t i = 0; i < job.chunks.size(); ++i) {
    script += "  " + std::to_string(i) + ") frames=" + ShellQuoted(FormatFrameList(job.chunks[i]));
    if (!job.report.empty()) script += " report=" + ShellQuoted(TaskReportPath(job.report, i));
    script += " ;;\n";
  }
  script +=
      "  *)\n"
      "    echo \"varnex: array task '${SLURM_ARRAY_TASK_ID:-}' has no frames in this job\" >&2\n"
      "    exit 2\n"
      "    ;;\n"
      "esac\n";
  // exec, so that scancel's signal reaches the render, which then removes its unfinished files.
  script += "exec " + ShellQuoted(job.varnex) + " render -f \"$frames\" --skip-existing";
  if (!job.report.empty()) script += " --report=\"$report\"";
  for (const std::string& arg : job.render_args) script += " \\\n  " + ShellQuoted(arg);
  return script + "\n";
}

int RunSubmit(const CommandLine& command) {
  const SubmitArgs& submit = command.submit;
  const int chunk = ChunkOption(submit.chunk.value_or(""));
  // The footage decides the frames the user left out, as it does for varnex render; opening it
  // here also refuses bad footage once, before a task per chunk fails on it.
  RenderSettings settings = ResolveRenderSettings(RequestOf(command.render));
  if (settings.movie_output)
    throw InputError("output " + vhost::Quoted(settings.output) +
                     ": a movie holds every frame in one file, which tasks rendering frames "
                     "apart cannot share; write an image sequence (out.####.exr)");
  const RenderLayers layers = OpenLayers(&settings);

  BatchJob job;
  job.chunks = SplitFrames(settings.frames, chunk);
  job.varnex = RunningProgram();
  job.render_args = TaskRenderArgs(submit.render_options);
  if (settings.report) job.report = fs::absolute(*settings.report).lexically_normal().string();

  const fs::path log_dir = submit.log_dir
                               ? fs::absolute(*submit.log_dir).lexically_normal()
                               : fs::absolute(settings.output).lexically_normal().parent_path();
  job.directives.push_back("--job-name=" + submit.job_name.value_or("varnex"));
  job.directives.push_back("--array=0-" + std::to_string(job.chunks.size() - 1));
  job.directives.push_back("--output=" + LogPattern(log_dir));
  if (submit.partition) job.directives.push_back("--partition=" + *submit.partition);
  if (submit.time) job.directives.push_back("--time=" + *submit.time);
  if (submit.mem) job.directives.push_back("--mem=" + *submit.mem);
  job.directives.insert(job.directives.end(), submit.sbatch_args.begin(), submit.sbatch_args.end());
  const std::string script = BatchScript(job);
  // As varnex render does, also with --dry-run: the render as a whole, every chunk's frames.
  if (settings.save_project) WriteJsonFile(*settings.save_project, ProjectOf(settings));
  if (settings.dry_run) {
    std::fputs(script.c_str(), stdout);
    return kExitOk;
  }

  const std::string sbatch = FindOnPath("sbatch");
  if (sbatch.empty())
    throw InputError(
        "sbatch not found on PATH: submit needs Slurm's commands (--dry-run prints "
        "the script without them)");
  // sbatch does not make the log folder, and a task without one fails before it starts.
  std::error_code ec;
  fs::create_directories(log_dir, ec);
  if (ec) throw InputError("--log-dir " + vhost::Quoted(log_dir.string()) + ": " + ec.message());
  std::printf("%s\n", Sbatch(sbatch, script).c_str());
  return kExitOk;
}

}  // namespace vcli
