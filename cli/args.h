// The command line: which command to run and its options. The render's options are the option
// table's (pipeline/options.h), checked by the table whichever source gives them.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "pipeline/request.h"
#include "preview/preview_command.h"

namespace vcli {

enum class CommandKind { kRender, kControls, kAbout, kGpu, kColorspaces, kSubmit, kPreview };

// The render options as given, by the option table's names (pipeline/options.h), in the table's
// order; --set keeps the command line's.
struct RenderArgs {
  std::optional<std::string> project;
  std::vector<std::pair<std::string, std::string>> options;  // name, text ("true" for a flag)
};

// The request: the project's, if one is given, with every option of the command line over it.
// Throws InputError naming the option or project key at fault.
vpipe::RenderRequest RequestOf(const RenderArgs& args);

// One render option as `varnex submit` was given it, passed on to each task's `varnex render`.
struct PassedOption {
  std::string name;                 // the long name ("map"); empty for INPUT
  std::vector<std::string> values;  // one per use, as given; a flag's is its value ("true")
  bool flag = false;                // takes no value
  bool path = false;                // names a file or folder, made absolute for the tasks
};

// `varnex submit`: the scheduler's options as text, and the render's options to pass on.
struct SubmitArgs {
  std::optional<std::string> chunk;  // frames per task
  std::optional<std::string> partition;
  std::optional<std::string> time;
  std::optional<std::string> mem;
  std::optional<std::string> job_name;
  std::vector<std::string> sbatch_args;  // more of sbatch's own, each one argument
  std::optional<std::string> log_dir;
  std::vector<PassedOption> render_options;  // in the order `varnex render --help` lists them
};

// `varnex preview`: where it serves, besides the render's options.
struct PreviewArgs {
  std::optional<std::string> port;    // 0 or unset: any free port
  std::optional<std::string> listen;  // the address to listen on; unset: the loopback address
};

struct CommandLine {
  CommandKind kind = CommandKind::kAbout;
  std::optional<std::string> plugin;       // the module to load; default: beside the executable
  bool json = false;                       // controls --json
  std::optional<std::string> ocio_config;  // colorspaces --ocio-config
  RenderArgs render;                       // render's, and submit's render options
  SubmitArgs submit;
  PreviewArgs preview;  // preview's own; its render options are in `render`
};

// Where the preview serves: the port and address given, the project. Throws InputError.
vpreview::ServeOptions ServeOptionsOf(const CommandLine& command);

// Parses the arguments into `out`. Returns -1 when a command should run; otherwise the exit status,
// after printing help or the version (0) or a one-line error (kExitBadInput).
int ParseCommandLine(int argc, char** argv, CommandLine* out);

}  // namespace vcli
