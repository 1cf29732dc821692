// varnex-bench: renders 1080p frames through our host in a covering set of configurations, times
// the GL floor for the same work beside each, and reports peak memory, what a thread's first and
// second renders build, and the throughput of a sequence rendered by the varnex command.
//
// The effect writes its GL diagnostics to standard output; the report goes to the standard
// output the program was started with, and the effect's lines are discarded.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "bench/config.h"
#include "bench/effect_runner.h"
#include "bench/gl_floor.h"
#include "bench/gl_trace.h"
#include "bench/measure.h"
#include "bench/report.h"
#include "bench/timing.h"
#include "cgl.h"
#include "hostapp/frame_memory.h"

extern "C" PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                             PF_ParamDef* params[], PF_LayerDef* output, void* extra);

namespace {

struct Options {
  vbench::Frame frame;
  int warmup = 2;
  int reps = 5;
  bool full = false;
  bool profile = false;
  std::string only;  // run only configurations whose name contains this
  bool memory = true;
  bool floor_memory = false;
  bool threads = true;
  bool sequence = true;
  bool footage = true;
  bool frei0r = true;
  bool footage_only = false;
  bool encodings = false;
  // make bench must end within ten minutes on a two-core machine: configurations that would start
  // past the first mark are skipped, and so is a sequence past the second.
  double config_budget_s = 330;
  double budget_s = 540;
  std::string module = VARNEX_BENCH_MODULE;
  std::string varnex = VARNEX_BENCH_VARNEX;
  std::string frei0r_plugin = VARNEX_BENCH_FREI0R;
  std::string varnex_before;  // another build's varnex, run beside this one in the sequence
  std::string module_before;  // another build's module, run beside this one per configuration
  std::string out_dir = VARNEX_BENCH_OUT_DIR;
};

void Usage(FILE* out) {
  std::fprintf(
      out,
      "usage: varnex-bench [--quick] [--full] [--profile] [--only S] [--reps N] [--warmup "
      "N] [--size WxH]\n"
      "                    [--no-memory] [--no-threads] [--no-sequence] [--no-footage] "
      "[--no-frei0r]\n"
      "                    [--footage-only] [--encodings] [--budget S]\n"
      "                    [--module PATH] [--varnex PATH] [--varnex-before PATH]\n"
      "                    [--module-before PATH] [--before DIR] [--out DIR]\n"
      "  --quick   480x270 frames, 3 timed renders: a smoke run\n"
      "  --full    every combination of the dimensions instead of the covering set\n"
      "  --profile where each configuration's time goes, instead of the benchmark\n"
      "  --only S  only the configurations whose name contains S\n"
      "  --floor-memory  also the floor's peak memory at 8x\n"
      "  --encodings  only the cost of writing a rendered frame, per format and setting\n"
      "  --varnex-before PATH  also run the sequence with another build's varnex\n"
      "  --module-before PATH  also render each configuration with another build's module\n"
      "  --before DIR  both of those from another build folder (DIR/bin/varnex,\n"
      "                DIR/lib/varnex-effect.so)\n");
}

// Options that set one switch, and options that take their value as it is.
struct Switch {
  const char* name;
  bool Options::*field;
  bool value;
};
constexpr Switch kSwitches[] = {
    {"--profile", &Options::profile, true},           {"--full", &Options::full, true},
    {"--floor-memory", &Options::floor_memory, true}, {"--no-memory", &Options::memory, false},
    {"--no-threads", &Options::threads, false},       {"--no-sequence", &Options::sequence, false},
    {"--no-footage", &Options::footage, false},       {"--encodings", &Options::encodings, true},
    {"--no-frei0r", &Options::frei0r, false},
};
struct Text {
  const char* name;
  std::string Options::*field;
};
constexpr Text kTexts[] = {
    {"--only", &Options::only},
    {"--module", &Options::module},
    {"--varnex-before", &Options::varnex_before},
    {"--module-before", &Options::module_before},
    {"--varnex", &Options::varnex},
    {"--out", &Options::out_dir},
};

template <typename Entry, size_t N>
const Entry* Find(const Entry (&table)[N], const std::string& name) {
  for (const Entry& e : table)
    if (name == e.name) return &e;
  return nullptr;
}

bool ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&](const char* name) -> std::string {
      if (i + 1 >= argc) throw std::runtime_error(std::string(name) + " needs a value");
      return argv[++i];
    };
    if (const Switch* s = Find(kSwitches, a)) {
      o->*(s->field) = s->value;
    } else if (const Text* t = Find(kTexts, a)) {
      o->*(t->field) = next(t->name);
    } else if (a == "--quick") {
      o->frame = {480, 270};
      o->reps = 3;
    } else if (a == "--reps") {
      o->reps = std::max(1, std::stoi(next("--reps")));
    } else if (a == "--warmup") {
      o->warmup = std::max(0, std::stoi(next("--warmup")));
    } else if (a == "--size") {
      const std::string v = next("--size");
      if (std::sscanf(v.c_str(), "%dx%d", &o->frame.width, &o->frame.height) != 2 ||
          o->frame.width <= 0 || o->frame.height <= 0)
        throw std::runtime_error("--size takes WxH");
    } else if (a == "--footage-only") {
      o->footage_only = true;
      o->threads = o->memory = o->sequence = false;
    } else if (a == "--budget") {
      o->budget_s = std::stod(next("--budget"));
      o->config_budget_s = o->budget_s * 0.6;
    } else if (a == "--before") {
      const std::string dir = next("--before");
      o->varnex_before = dir + "/bin/varnex";
      o->module_before = dir + "/lib/varnex-effect.so";
    } else if (a == "--help" || a == "-h") {
      return false;
    } else {
      throw std::runtime_error("unknown option " + a);
    }
  }
  return true;
}

// Moves standard output to /dev/null and returns a stream on the original one.
FILE* TakeStdout() {
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  const int devnull = open("/dev/null", O_WRONLY);
  if (saved < 0 || devnull < 0) return stdout;
  dup2(devnull, STDOUT_FILENO);
  close(devnull);
  FILE* out = fdopen(saved, "w");
  return out ? out : stdout;
}

std::string MachineDescription() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line, model;
  while (std::getline(cpuinfo, line))
    if (line.rfind("model name", 0) == 0) {
      model = line.substr(line.find(':') + 2);
      break;
    }
  long mem_kib = 0;
  std::ifstream meminfo("/proc/meminfo");
  while (std::getline(meminfo, line))
    if (line.rfind("MemTotal:", 0) == 0) mem_kib = std::stol(line.substr(9));
  return model + ", " + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " cores, " +
         std::to_string(mem_kib / (1024 * 1024)) + " GiB";
}

int RunChild(int argc, char** argv) {
  // --peak-child WHICH WIDTH HEIGHT BPC AA MODULE
  if (argc != 8) return 2;
  // The answer goes to the pipe the parent reads; the effect's diagnostics go nowhere.
  FILE* answer = TakeStdout();
  vbench::Config config;
  config.bpc = std::atoi(argv[5]);
  config.aa = static_cast<vbench::AntiAliasing>(std::atoi(argv[6]));
  const vbench::Frame frame{std::atoi(argv[3]), std::atoi(argv[4])};
  return vbench::RunPeakChild(argv[7], argv[2], config, frame, answer);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--peak-child") == 0) return RunChild(argc, argv);
  // The allocator settings of varnex, so that the effect and the floor both reuse the memory of
  // their last frame. With the defaults, which of the two renders of a turn finds that memory
  // still mapped depends on the order of the turn, not on either render.
  vhost::KeepFreedFrameMemory();

  Options opt;
  try {
    if (!ParseOptions(argc, argv, &opt)) {
      Usage(stdout);
      return 0;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "varnex-bench: %s\n", e.what());
    Usage(stderr);
    return 2;
  }
  FILE* out = TakeStdout();
  const vbench::Clock::time_point started = vbench::Clock::now();
  auto elapsed_s = [&] { return vbench::MillisecondsSince(started) / 1000.0; };

  vbench::Report report;
  report.frame = opt.frame;
  report.reps = opt.reps;
  report.machine = MachineDescription();
  try {
    vbench::GLFloor floor;
    std::string error;
    if (!floor.Init(&error)) throw std::runtime_error(error);
    report.renderer = floor.Renderer();
    report.gl_version = floor.Version();
    report.platform = cgl::PlatformName();
    if (!vbench::InstallGLTrace())
      std::fprintf(out, "note: GL call tracing unavailable; gl ms and build counts read 0\n");
    vbench::EffectRunner effect(opt.module);

    std::vector<vbench::Config> configs;
    for (const vbench::Config& c : opt.full ? vbench::CrossProduct() : vbench::CoveringSet())
      if (!opt.footage_only && c.Name().find(opt.only) != std::string::npos) configs.push_back(c);
    if (opt.profile) {
      for (const vbench::Config& config : configs)
        vbench::PrintProfile(out,
                             vbench::ProfileConfig(effect, floor, config, opt.frame, opt.reps));
      return 0;
    }
#ifdef VARNEX_BENCH_HAVE_PIPELINE
    if (opt.encodings) {
      vbench::PrintEncodings(out, vbench::MeasureEncodings(effect, opt.frame, opt.out_dir, true));
      return 0;
    }
#endif
    std::fprintf(out, "varnex-bench: %dx%d frames, median of %d timed renders after %d warm-up\n",
                 opt.frame.width, opt.frame.height, opt.reps, opt.warmup);
    std::fprintf(out, "machine: %s\nGL: %s, %s (%s)\n\n", report.machine.c_str(),
                 report.renderer.c_str(), report.gl_version.c_str(), report.platform.c_str());
    std::unique_ptr<vbench::EffectRunner> before;
    if (!opt.module_before.empty() && !configs.empty())
      before = std::make_unique<vbench::EffectRunner>(opt.module_before);
    vbench::PrintConfigHeader(out, before != nullptr);
    for (const vbench::Config& config : configs) {
      if (elapsed_s() > opt.config_budget_s) {
        std::fprintf(out, "%-34s skipped: past the time budget of %.0f s\n", config.Name().c_str(),
                     opt.config_budget_s);
        continue;
      }
      report.configs.push_back(vbench::MeasureConfig(effect, before.get(), floor, config, opt.frame,
                                                     opt.warmup, opt.reps));
      vbench::PrintConfigRow(out, report.configs.back());
    }
    for (const vbench::ConfigResult& r : report.configs)
      if (r.config.Name() == vbench::SequenceConfig().Name() && r.gl_ms > 0)
        report.gl_rate_fps = 1000.0 / r.gl_ms;

    if (opt.frei0r && !opt.footage_only) {
      try {
        report.frei0r =
            vbench::MeasureFrei0r(opt.module, opt.frei0r_plugin, opt.frame, opt.warmup, opt.reps);
      } catch (const std::exception& e) {
        report.frei0r.skipped = e.what();
      }
    }
    if (opt.threads) {
      const vbench::Config config = vbench::SequenceConfig();
      report.module_threads = vbench::MeasureFirstRenders(effect, config, opt.frame);
      vbench::EffectRunner linked(&EffectMain);
      report.linked_threads = vbench::MeasureFirstRenders(linked, config, opt.frame);
      report.have_threads = true;
    }
    if (opt.memory) {
      vbench::Config eight;
      eight.aa = vbench::AntiAliasing::k8x;
      report.memory = vbench::MeasurePeakMemory("effect", eight, opt.frame, opt.module);
      if (opt.floor_memory)
        report.floor_memory = vbench::MeasurePeakMemory("floor", eight, opt.frame, opt.module);
      // Pass 5b samples the enlarged input and the map and writes the enlarged output. A driver
      // that cannot allocate 8x targets makes the render fall back, and then the targets it did
      // make are the ones needed.
      const double small = 16.0 * opt.frame.width * opt.frame.height;
      const int f = std::max(1, report.memory.factor_used);
      report.memory_needed_mib = (2.0 * f * f * small + small) / (1024.0 * 1024.0);
      report.have_memory = true;
    }
#ifdef VARNEX_BENCH_HAVE_PIPELINE
    if (opt.sequence) {
      vbench::PipelineOptions pipeline{opt.varnex, opt.varnex_before, opt.module, opt.out_dir};
      report.pipeline = vbench::MeasurePipeline(pipeline, effect, opt.frame,
                                                [&] { return elapsed_s() > opt.budget_s; });
    }
#else
    report.pipeline.skipped = "this build has no image writer (OpenImageIO not found)";
#endif
    // About two and a half minutes on two cores at 1080p, most of it the shell loop.
    if (opt.footage) {
      if (elapsed_s() > opt.budget_s - 150)
        report.footage.skipped = "past the time budget";
      else
        report.footage = vbench::MeasureFootage(opt.varnex, opt.out_dir, opt.frame, 2);
    }
  } catch (const std::exception& e) {
    std::fprintf(out, "varnex-bench: %s\n", e.what());
    std::fflush(out);
    return 1;
  }

  vbench::PrintSummary(out, report);
  std::string error;
  if (!vbench::WriteJson(opt.out_dir, report, &error)) {
    std::fprintf(out, "varnex-bench: %s\n", error.c_str());
    return 1;
  }
  std::fprintf(out, "results: %s/results.json (all figures: summary.json); %.0f s in all\n",
               opt.out_dir.c_str(), elapsed_s());
  return 0;
}
