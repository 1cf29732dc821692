// `varnex submit`: one render spread over a Slurm cluster as a job array. Each task renders one
// chunk of the frames with `varnex render --skip-existing`, so a task that is run again (a retry,
// a requeue, the same submit once more) renders only the frames its chunk still lacks.
#pragma once

#include <string>
#include <vector>

#include "cli/args.h"

namespace CLI {
class App;
}

namespace vcli {

// Adds submit's own options to `command`, in a help group of their own, which is also how
// CollectRenderOptions tells them from the render's.
void AddSubmitOptions(CLI::App* command, SubmitArgs* args);

// After parsing: every render option given to `command`, into args->render_options. An option
// is a path when its value name says so (FOOTAGE, OUTPUT, FILE, PATH), so a path option the
// render gains later is made absolute for the tasks as well.
void CollectRenderOptions(const CLI::App& command, SubmitArgs* args);

// `text` as one bash word that reads back exactly: bare when it is plain, else in single
// quotes with each ' written '\''.
std::string ShellQuoted(const std::string& text);

// What one job array runs: task i renders chunks[i] with `varnex render`.
struct BatchJob {
  std::vector<std::string> directives;   // sbatch's options, one argument each
  std::vector<std::vector<int>> chunks;  // ascending, each frame in one chunk
  std::string varnex;                    // the command, by its absolute path
  std::vector<std::string> render_args;  // after `render -f CHUNK --skip-existing`
  std::string report;                    // --report's absolute path, or empty: none
};

// The report task `task` writes for --report `report`: its number before the extension
// (comp.json: comp.0.json), so the tasks' reports do not replace each other. A task run again
// replaces its own, as a render run again does.
std::string TaskReportPath(const std::string& report, size_t task);

// The bash batch script of `job`. Throws InputError for a directive holding a line break, which
// sbatch cannot read back.
std::string BatchScript(const BatchJob& job);

// Checks the render as `varnex render` would, then prints the batch script (--dry-run) or submits
// it with sbatch and prints the job id. Returns the exit status; throws InputError for bad input
// (also sbatch missing from PATH) and std::runtime_error when sbatch fails.
int RunSubmit(const CommandLine& command);

}  // namespace vcli
