#include <cstring>
#include <stdexcept>
#include <string>

#include "bench/gl_trace.h"
#include "bench/measure.h"
#include "bench/synthetic.h"
#include "bench/timing.h"
#include "hostapp/probe.h"

namespace vbench {

namespace {

// A render that writes nothing leaves its middle row as the probe had the host fill it.
void CheckWritten(const vhost::Image& output, const std::string& name) {
  const uint8_t* row = output.Row(output.height / 2);
  const size_t bytes = static_cast<size_t>(output.width) * output.PixelBytes();
  for (size_t i = 0; i < bytes; ++i)
    if (row[i] != vhost::kUnwrittenByte) return;
  throw std::runtime_error(name + ": the render left the output unwritten");
}

// Every render of a configuration after its first has the settings of the one before it, on the
// same thread: it must find the thread's programs, the displacement's variant for those settings
// included, already built, or the timings would hold a compile.
void CheckBuiltNothing(const GLTraceCounts& trace, const std::string& name) {
  if (trace.compiles == 0 && trace.links == 0) return;
  throw std::runtime_error(name + ": a render with the settings of the one before it built " +
                           std::to_string(trace.links) + " program(s)");
}

// The layers of one configuration, and the passes the floor runs over them.
struct Layers {
  Layers(const Config& config, const Frame& frame)
      : input(MakeInputLayer(frame.width, frame.height, config.bpc)),
        map(config.map_layer ? MakeMapLayer(frame.width, frame.height, config.bpc)
                             : vhost::Image()),
        has_map(config.map_layer),
        plan(PlanFor(config, frame.width, frame.height)) {}
  const vhost::Image* Map() const { return has_map ? &map : nullptr; }

  vhost::Image input;
  vhost::Image map;
  bool has_map;
  PassPlan plan;
};

}  // namespace

ConfigResult MeasureConfig(EffectRunner& effect, EffectRunner* before, GLFloor& floor,
                           const Config& config, const Frame& frame, int warmup, int reps) {
  const Layers layers(config, frame);
  const vhost::Image& input = layers.input;
  const vhost::Image* map_ptr = layers.Map();
  const PassPlan& plan = layers.plan;
  effect.Apply(config);
  if (before != nullptr) before->Apply(config);

  std::vector<double> ours, gl, floor_ms, ours_cpu, floor_cpu, before_ms, before_cpu;
  for (int i = 0; i < warmup + reps; ++i) {
    const bool timed = i >= warmup;
    ResetGLTrace();
    double cpu = ProcessCpuMs();
    Clock::time_point start = Clock::now();
    vhost::RenderResult result = effect.Render(config.bpc, input, map_ptr);
    const double ms = MillisecondsSince(start);
    if (timed) ours_cpu.push_back(ProcessCpuMs() - cpu);
    const GLTraceCounts trace = ReadGLTrace();
    if (i == 0) CheckWritten(result.output, config.Name());
    if (i > 0) CheckBuiltNothing(trace, config.Name());
    if (timed) {
      ours.push_back(ms);
      gl.push_back(trace.SpanMs());
    }

    // Another build's module is held to nothing but its time: it may predate what is checked.
    if (before != nullptr) {
      cpu = ProcessCpuMs();
      start = Clock::now();
      before->Render(config.bpc, input, map_ptr);
      if (timed) {
        before_ms.push_back(MillisecondsSince(start));
        before_cpu.push_back(ProcessCpuMs() - cpu);
      }
    }

    cpu = ProcessCpuMs();
    start = Clock::now();
    floor.MakeCurrent();
    // A host hands out a fresh output buffer for every frame; so does the floor.
    vhost::Image output = MakeHostBuffer(frame.width, frame.height, config.bpc);
    floor.Render(plan, input, map_ptr, &output);
    if (timed) {
      floor_ms.push_back(MillisecondsSince(start));
      floor_cpu.push_back(ProcessCpuMs() - cpu);
    }
  }

  ConfigResult r;
  r.config = config;
  r.ms = Median(ours);
  r.gl_ms = Median(gl);
  r.floor_ms = Median(floor_ms);
  r.cpu_ms = Median(ours_cpu);
  r.floor_cpu_ms = Median(floor_cpu);
  if (before != nullptr) {
    r.before_ms = Median(before_ms);
    r.before_cpu_ms = Median(before_cpu);
  }
  return r;
}

Profile ProfileConfig(EffectRunner& effect, GLFloor& floor, const Config& config,
                      const Frame& frame, int reps) {
  const Layers layers(config, frame);
  const vhost::Image& input = layers.input;
  const vhost::Image* map_ptr = layers.Map();
  const PassPlan& plan = layers.plan;
  effect.Apply(config);

  std::vector<GLTraceCounts> ours, floors;
  std::vector<double> ours_ms, floor_ms;
  SetGLTraceSync(true);
  for (int i = 0; i < 1 + reps; ++i) {
    ResetGLTrace();
    Clock::time_point start = Clock::now();
    effect.Render(config.bpc, input, map_ptr);
    if (i > 0) {
      ours_ms.push_back(MillisecondsSince(start));
      ours.push_back(ReadGLTrace());
    }
    ResetGLTrace();
    start = Clock::now();
    floor.MakeCurrent();
    vhost::Image output = MakeHostBuffer(frame.width, frame.height, config.bpc);
    floor.Render(plan, input, map_ptr, &output);
    if (i > 0) {
      floor_ms.push_back(MillisecondsSince(start));
      floors.push_back(ReadGLTrace());
    }
  }
  SetGLTraceSync(false);

  auto median_of = [](const std::vector<GLTraceCounts>& runs) {
    GLTraceCounts m = runs.front();
    for (int b = 0; b < kBucketCount; ++b) {
      std::vector<double> v;
      for (const GLTraceCounts& r : runs) v.push_back(r.bucket_ms[b]);
      m.bucket_ms[b] = Median(v);
      v.clear();
      for (const GLTraceCounts& r : runs) v.push_back(r.bucket_cpu_ms[b]);
      m.bucket_cpu_ms[b] = Median(v);
    }
    std::vector<double> cpu;
    for (const GLTraceCounts& r : runs) cpu.push_back(r.cpu_ms);
    m.cpu_ms = Median(cpu);
    std::vector<double> spans;
    for (const GLTraceCounts& r : runs) spans.push_back(r.SpanMs());
    m.first_ms = 0;
    m.last_ms = Median(spans);
    return m;
  };
  Profile p;
  p.config = config;
  p.ours = median_of(ours);
  p.floor = median_of(floors);
  p.ours_ms = Median(ours_ms);
  p.floor_ms = Median(floor_ms);
  return p;
}

}  // namespace vbench
