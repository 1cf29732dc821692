// Peak memory of one render, measured in a fresh process so that nothing an earlier render left
// in the allocator or the driver hides or inflates the figure.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "bench/gl_trace.h"
#include "bench/measure.h"
#include "bench/synthetic.h"
#include "bench/timing.h"

namespace vbench {

namespace {

// A field of /proc/self/status in KiB, or -1.
long StatusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(field) + ":";
  while (std::getline(status, line))
    if (line.rfind(prefix, 0) == 0) return std::stol(line.substr(prefix.size()));
  return -1;
}

// Lowers the high-water mark to the current resident size, so the next reading is the peak of
// what follows alone. Older kernels lack this; the mark then covers the setup too.
void ResetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
}

std::string SelfPath() {
  char path[4096] = {};
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

}  // namespace

int RunPeakChild(const std::string& module_path, const std::string& which, const Config& config,
                 const Frame& frame, FILE* answer) {
  try {
    const vhost::Image input = MakeInputLayer(frame.width, frame.height, config.bpc);
    const PassPlan plan = PlanFor(config, frame.width, frame.height);
    // The floor's context also lets the trace resolve its entry points; the trace tells which
    // supersampling factor the render could really allocate.
    GLFloor floor;
    std::string error;
    if (!floor.Init(&error)) throw std::runtime_error(error);
    InstallGLTrace();
    double ms = 0;
    long before = 0;
    if (which == "floor") {
      vhost::Image output = MakeHostBuffer(frame.width, frame.height, config.bpc);
      ResetPeak();
      ResetGLTrace();
      before = StatusKiB("VmRSS");
      const Clock::time_point start = Clock::now();
      floor.Render(plan, input, nullptr, &output);
      ms = MillisecondsSince(start);
    } else {
      EffectRunner effect(module_path);
      effect.Apply(config);
      ResetPeak();
      ResetGLTrace();
      before = StatusKiB("VmRSS");
      const Clock::time_point start = Clock::now();
      effect.Render(config.bpc, input, nullptr);
      ms = MillisecondsSince(start);
    }
    const GLTraceCounts trace = ReadGLTrace();
    std::fprintf(answer, "%ld %ld %.1f %d %d\n", before, StatusKiB("VmHWM"), ms,
                 trace.last_wider_alloc_w, trace.max_alloc_w);
    std::fflush(answer);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "peak child: %s\n", e.what());
    return 1;
  }
}

PeakMemory MeasurePeakMemory(const std::string& which, const Config& config, const Frame& frame,
                             const std::string& module_path) {
  PeakMemory result;
  std::ostringstream command;
  command << '"' << SelfPath() << "\" --peak-child " << which << ' ' << frame.width << ' '
          << frame.height << ' ' << config.bpc << ' ' << static_cast<int>(config.aa) << " \""
          << module_path << '"';
  FILE* pipe = popen(command.str().c_str(), "r");
  if (!pipe) {
    result.error = "could not start " + command.str();
    return result;
  }
  long before = 0, peak = 0;
  double ms = 0;
  int last_w = 0, max_w = 0;
  const int fields = std::fscanf(pipe, "%ld %ld %lf %d %d", &before, &peak, &ms, &last_w, &max_w);
  const int status = pclose(pipe);
  if (fields != 5 || status != 0) {
    result.error = "child failed (status " + std::to_string(status) + ")";
    return result;
  }
  result.ok = true;
  result.before_mib = static_cast<double>(before) / 1024.0;
  result.peak_mib = static_cast<double>(peak) / 1024.0;
  result.render_ms = ms;
  result.factor_asked = Factor(config.aa);
  result.factor_used = last_w > 0 ? last_w / frame.width : 1;
  return result;
}

}  // namespace vbench
