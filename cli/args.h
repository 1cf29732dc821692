// The command line: which command to run and the raw text of its options. Values are checked
// where they are merged with a project (render_settings.h), so that a value has one set of rules
// whichever source it came from.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vcli {

enum class CommandKind { kRender, kControls, kAbout, kGpu, kColorspaces, kSubmit, kPreview };

struct RenderArgs {
  std::optional<std::string> input;
  std::optional<std::string> output;
  std::optional<std::string> map;
  std::optional<std::string> map_offset;  // "X,Y"
  std::optional<std::string> input_start;
  std::optional<std::string> map_start;
  std::optional<std::string> input_outside;  // hold, loop or transparent
  std::optional<std::string> map_outside;
  std::optional<std::string> missing;  // refuse or hold
  std::optional<std::string> codec;
  std::optional<std::string> crf;
  std::optional<std::string> bitrate;
  std::optional<std::string> out_type;
  std::optional<std::string> compression;
  std::optional<std::string> quality;
  std::vector<std::string> sets;  // "NAME=VALUE", in command-line order
  std::optional<std::string> project;
  std::optional<std::string> depth;
  std::optional<std::string> downsample;
  std::optional<std::string> frames;  // "A-B" or "A"
  std::optional<std::string> fps;
  std::optional<std::string> threads;
  std::optional<std::string> colorspace_in;
  std::optional<std::string> colorspace_out;
  std::optional<std::string> working_space;
  std::optional<std::string> map_colorspace;
  std::optional<std::string> ocio_config;
  bool quiet = false;
  bool verbose = false;
  bool no_overwrite = false;
  bool skip_existing = false;
  bool continue_on_error = false;
  bool dry_run = false;
  std::optional<std::string> report;
  std::optional<std::string> save_project;
};

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

// Parses the arguments into `out`. Returns -1 when a command should run; otherwise the exit status,
// after printing help or the version (0) or a one-line error (kExitBadInput).
int ParseCommandLine(int argc, char** argv, CommandLine* out);

}  // namespace vcli
