// The measurements make bench reports, each a function of its own.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bench/config.h"
#include "bench/effect_runner.h"
#include "bench/gl_floor.h"
#include "bench/gl_trace.h"

namespace vbench {

struct Frame {
  int width = 1920;
  int height = 1080;
};

struct ConfigResult {
  Config config;
  double ms = 0;        // median wall time of host.Render
  double gl_ms = 0;     // median span of the effect's GL calls within those renders
  double floor_ms = 0;  // median wall time of the floor's render of the same plan
  double cpu_ms = 0;    // median process CPU time of the effect's renders
  double floor_cpu_ms = 0;
  double before_ms = 0;  // median wall time of another build's module (0: none measured)
  double before_cpu_ms = 0;
  double Ratio() const { return floor_ms > 0 ? ms / floor_ms : 0.0; }
  double CpuRatio() const { return floor_cpu_ms > 0 ? cpu_ms / floor_cpu_ms : 0.0; }
  double BeforeRatio() const { return floor_ms > 0 ? before_ms / floor_ms : 0.0; }
  double BeforeCpuRatio() const { return floor_cpu_ms > 0 ? before_cpu_ms / floor_cpu_ms : 0.0; }
};

// Warm-up renders of each, then `reps` timed renders of each, taking turns, so that all see the
// same state of the machine: the effect, another build's module when `before` is not null, and
// the floor. Throws std::runtime_error when a render fails.
ConfigResult MeasureConfig(EffectRunner& effect, EffectRunner* before, GLFloor& floor,
                           const Config& config, const Frame& frame, int warmup, int reps);

// Where the time of one configuration goes, for the effect and the floor: the medians of the
// trace's buckets with every draw and clear made to wait for its work.
struct Profile {
  Config config;
  GLTraceCounts ours;
  GLTraceCounts floor;
  double ours_ms = 0;
  double floor_ms = 0;
};
Profile ProfileConfig(EffectRunner& effect, GLFloor& floor, const Config& config,
                      const Frame& frame, int reps);

// Peak resident memory of one render in a fresh process (this program run again with
// --peak-child), before and during the render.
struct PeakMemory {
  bool ok = false;
  std::string error;
  double before_mib = 0;  // VmHWM after setup and building the layers
  double peak_mib = 0;    // VmHWM after the render
  double render_ms = 0;
  int factor_asked = 0;
  int factor_used = 0;  // from the size of the last target allocated
  double DeltaMiB() const { return peak_mib - before_mib; }
};
PeakMemory MeasurePeakMemory(const std::string& which, const Config& config, const Frame& frame,
                             const std::string& module_path);
// The child's side: renders once and prints "before_kib peak_kib ms last_w max_w" to `answer`
// (the widths of the last and the largest texture allocated). Returns the
// exit status.
int RunPeakChild(const std::string& module_path, const std::string& which, const Config& config,
                 const Frame& frame, FILE* answer);

// First and second render on a fresh thread: what each one built.
struct ThreadRenders {
  double ms[2] = {0, 0};
  long contexts[2] = {0, 0};             // eglCreateContext calls (whole process)
  long live_contexts_delta[2] = {0, 0};  // change of cgl::LiveContextCount (linked effect only)
  long compiles[2] = {0, 0};
  long links[2] = {0, 0};
};
ThreadRenders MeasureFirstRenders(EffectRunner& effect, const Config& config, const Frame& frame);

// A 24-frame 1080p sequence (an input sequence, a map still) through the varnex command, and
// its parts: the render alone (the command's own code in this process, frames dropped) and the
// encoder alone (a rendered frame written 24 times).
struct PipelineOptions {
  std::string varnex;
  std::string varnex_before;  // another build's varnex to run beside it; empty: none
  std::string module;
  std::string work_dir;
};
struct PipelineRow {
  std::string what;    // "varnex", "varnex before", "render alone", "encode alone"
  std::string format;  // "png", "exr"; empty for the render alone
  std::string aa;      // "None", "2x"; empty for the encoder alone
  int threads = 1;
  double fps = 0;
  std::string error;  // why there is no rate
  double cpu_ms = 0;  // processor time per frame, every thread (and the command's process)
};
struct PipelineResult {
  bool ran = false;
  std::string skipped;
  int frames = 0;
  std::vector<PipelineRow> rows;
  // The row of `what` at these settings, or null.
  const PipelineRow* Find(const std::string& what, const std::string& format, const std::string& aa,
                          int threads) const;
};
// Runs are left out once `out_of_time` says so.
PipelineResult MeasurePipeline(const PipelineOptions& options, EffectRunner& effect,
                               const Frame& frame, const std::function<bool()>& out_of_time);
// Runs a shell command, its output discarded; the wall time in ms, or a negative number on
// failure.
double TimeCommand(const std::string& command);
// Writes a host buffer (8 bits) as PNG; false (with a reason) when that fails.
bool WritePng(const std::string& path, const vhost::Image& layer, std::string* error);

// One way of writing image files: a format ("png", "exr") and what varnex's --compression would
// say, with PNG's zlib level and row filter as OpenImageIO's attributes (-1: not given).
struct EncodingSetting {
  std::string format;
  std::string name;
  std::string compression;
  int png_level = -1;
  int png_filter = -1;
  std::string png_strategy;  // zlib's: "rle", "huffman" (OpenImageIO's "compression" for PNG)
};
// The defaults varnex writes (empty compression) and, with `all`, the candidates they were
// chosen from.
std::vector<EncodingSetting> EncodingSettings(bool all);
struct EncodingResult {
  EncodingSetting setting;
  std::string frame;  // which frame: "grain" or "smooth"
  bool ran = false;
  std::string error;
  double ms = 0;      // median wall time of writing the frame
  double cpu_ms = 0;  // median process CPU time of it (the EXR writer uses a thread pool)
  double mb = 0;      // the file's size, 10^6 bytes
};
// Writes `frame` (an 8-bit render) `reps` times into `dir` as the setting says.
EncodingResult MeasureEncoding(const vhost::Image& frame, const std::string& dir,
                               const EncodingSetting& setting, int reps);

// A frame like the sequence's: the grainy input displaced by the map, "Anti-Aliasing" None.
// Without grain, the smooth synthetic input.
vhost::Image RenderEncodingFrame(EffectRunner& effect, const Frame& frame, bool grain = true);
// Renders that frame and writes it in every setting (three times each); with `all`, the smooth
// frame too.
std::vector<EncodingResult> MeasureEncodings(EffectRunner& effect, const Frame& frame,
                                             const std::string& dir, bool all);
void PrintEncodings(FILE* out, const std::vector<EncodingResult>& results);

// A 48-frame movie displaced by a 48-frame map sequence: one varnex render against the same
// frames rendered as stills, one process per frame, as a shell loop does.
struct FootageResult {
  bool ran = false;
  std::string skipped;
  double movie_s = 0;     // varnex render in.mp4 -m map.####.png -o out.mov (ProRes 4444)
  double sequence_s = 0;  // the same into a PNG sequence
  double loop_s = 0;      // 48 x varnex render in.N.png -m map.N.png -o out.N.png
};
FootageResult MeasureFootage(const std::string& varnex, const std::string& work_dir,
                             const Frame& frame, int threads);

// One frame with a moderate transform through the frei0r filter plug-in and through our host
// driving the module, in turns: medians of `reps` after `warmup`. Throws std::runtime_error when
// either cannot render.
struct Frei0rResult {
  bool ran = false;
  std::string skipped;
  double frei0r_ms = 0;
  double host_ms = 0;
  double Ratio() const { return host_ms > 0 ? frei0r_ms / host_ms : 0.0; }
};
Frei0rResult MeasureFrei0r(const std::string& module_path, const std::string& plugin_path,
                           const Frame& frame, int warmup, int reps);

}  // namespace vbench
