// A sequence through the varnex command and what each part of it costs: the whole command, the
// same render with its frames dropped instead of written (the render alone), and the frames
// written without rendering (the encoder alone).
#include <sys/resource.h>

#include <filesystem>
#include <sstream>

#include "bench/measure.h"
#include "bench/synthetic.h"
#include "bench/timing.h"
#include "media/image_io.h"
#include "pipeline/options.h"
#include "pipeline/render.h"
#include "pipeline/sequence.h"

namespace vbench {

namespace {

namespace fs = std::filesystem;

constexpr int kFrames = 24;

// Takes every frame and keeps none: what the render costs without an encoder.
class NullSink : public vpipe::FrameSink {
 public:
  void Take(int, const vhost::Image&) override {}
};

// The render's options, as a user types them: the input sequence, the map still, the frames,
// the transform every configuration of the benchmark uses.
std::vector<std::string> RenderOptions(const fs::path& dir, const std::string& aa, int threads) {
  return {(dir / "in.####.png").string(),
          "-m",
          (dir / "map.png").string(),
          "-f",
          "1-" + std::to_string(kFrames),
          "-j",
          std::to_string(threads),
          "-q",
          "-s",
          "Anti-Aliasing=" + aa,
          "-s",
          "Translate X=4",
          "-s",
          "Rotate=6",
          "-s",
          "Scale X=104"};
}

// A part's rate and the processor time it took per frame, all threads and child processes.
struct Rate {
  double fps = -1.0;  // negative: it failed
  double cpu_ms = 0;
};

double ChildrenCpuMs() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

std::string Quote(const std::string& s) {
  return "\"" + s + "\"";
}

// The whole command, its frames written as `format`.
Rate CommandRate(const std::string& varnex, const fs::path& dir, const std::string& aa, int threads,
                 const std::string& format) {
  const fs::path out = dir / "out";
  fs::remove_all(out);
  fs::create_directories(out);
  std::ostringstream command;
  command << Quote(varnex) << " render";
  for (const std::string& option : RenderOptions(dir, aa, threads)) command << ' ' << Quote(option);
  command << " -o " << Quote((out / ("f.####." + format)).string());
  const double cpu_start = ChildrenCpuMs();
  const double ms = TimeCommand(command.str());
  const double cpu_ms = ChildrenCpuMs() - cpu_start;
  int written = 0;
  for (const auto& entry : fs::directory_iterator(out)) written += entry.is_regular_file();
  fs::remove_all(out);
  if (ms <= 0 || written != kFrames) return {};
  return {kFrames / (ms / 1000.0), cpu_ms / kFrames};
}

// The same render in this process through the render library, from loading the module to
// the last frame, every frame dropped.
Rate RenderAloneRate(const std::string& module, const fs::path& dir, const std::string& aa,
                     int threads) {
  // The same options as the command's, through the library's option table.
  vpipe::RenderRequest request;
  const std::vector<std::string> options = RenderOptions(dir, aa, threads);
  vpipe::SetOption(&request, "input", options[0]);
  for (size_t i = 1; i + 1 < options.size(); ++i) {
    if (options[i] == "-q") continue;
    const std::string name = options[i] == "-m"   ? "map"
                             : options[i] == "-f" ? "frames"
                             : options[i] == "-j" ? "threads"
                                                  : "set";
    vpipe::SetOption(&request, name, options[++i]);
  }
  vpipe::SetOption(&request, "quiet", "true");
  vpipe::SetOption(&request, "output", (dir / "never.####.png").string());
  NullSink sink;
  const Clock::time_point start = Clock::now();
  const double cpu_start = ProcessCpuMs();
  try {
    vpipe::RenderObserver quiet;
    if (!vpipe::Render(module, request, quiet, &sink).all_done()) return {};
  } catch (const std::exception&) {
    return {};
  }
  return {kFrames / (MillisecondsSince(start) / 1000.0), (ProcessCpuMs() - cpu_start) / kFrames};
}

// One rendered frame written kFrames times as varnex writes a sequence of `format`: its default
// compression, through as many writer threads as a sequence gets.
Rate EncodeAloneRate(const vhost::Image& frame, const fs::path& dir, const std::string& format) {
  const std::string path = (dir / ("encoded." + format)).string();
  const vmedia::OutputFormat output = vmedia::OutputFormatFor(path);
  vmedia::ImageLayout layout;
  layout.type = vmedia::NearestSampleType(output, vmedia::SampleType::kUInt8);
  const Clock::time_point start = Clock::now();
  const double cpu_start = ProcessCpuMs();
  for (int i = 0; i < kFrames; ++i) vmedia::WriteHostImage(path, frame, output, layout);
  const double ms = MillisecondsSince(start);
  const double cpu_ms = ProcessCpuMs() - cpu_start;
  fs::remove(path);
  return {kFrames / (ms / 1000.0), cpu_ms / kFrames};
}

}  // namespace

const PipelineRow* PipelineResult::Find(const std::string& what, const std::string& format,
                                        const std::string& aa, int threads) const {
  for (const PipelineRow& row : rows)
    if (row.what == what && row.format == format && row.aa == aa && row.threads == threads &&
        row.error.empty())
      return &row;
  return nullptr;
}

PipelineResult MeasurePipeline(const PipelineOptions& options, EffectRunner& effect,
                               const Frame& frame, const std::function<bool()>& out_of_time) {
  PipelineResult r;
  const fs::path dir = fs::path(options.work_dir) / "pipeline";
  fs::remove_all(dir);
  fs::create_directories(dir);
  // The input is a sequence of distinct files (the same grainy picture in each), so that no
  // frame is the one before it and every frame is decoded; the map is a still.
  const vhost::Image rendered = RenderEncodingFrame(effect, frame);
  try {
    const std::string first = (dir / "in.0001.png").string();
    const vmedia::OutputFormat png = vmedia::OutputFormatFor(first);
    vmedia::WriteHostImage(first, MakeGrainyInputLayer(frame.width, frame.height, 8), png,
                           vmedia::PlainLayout(png, 8));
    for (int k = 2; k <= kFrames; ++k) {
      char name[32];
      std::snprintf(name, sizeof name, "in.%04d.png", k);
      fs::copy_file(first, dir / name, fs::copy_options::overwrite_existing);
    }
    vmedia::WriteHostImage((dir / "map.png").string(), MakeMapLayer(frame.width, frame.height, 8),
                           png, vmedia::PlainLayout(png, 8));
  } catch (const std::exception& e) {
    r.skipped = std::string("could not write the sequence's footage: ") + e.what();
    return r;
  }
  r.frames = kFrames;
  for (const std::string format : {"png", "exr"}) {
    const Rate rate = EncodeAloneRate(rendered, dir, format);
    r.rows.push_back({"encode alone", format, "", 1, rate.fps, "", rate.cpu_ms});
  }
  for (const std::string aa : {"None", "2x"}) {
    for (int threads : {1, 2}) {
      auto add = [&](const std::string& what, const std::string& format, auto rate) {
        if (out_of_time()) {
          r.rows.push_back({what, format, aa, threads, 0, "past the time budget", 0});
          return;
        }
        const Rate measured = rate();
        r.rows.push_back({what, format, aa, threads, measured.fps, measured.fps < 0 ? "failed" : "",
                          measured.cpu_ms});
      };
      add("render alone", "", [&] { return RenderAloneRate(options.module, dir, aa, threads); });
      for (const std::string format : {"png", "exr"}) {
        add("varnex", format,
            [&] { return CommandRate(options.varnex, dir, aa, threads, format); });
        if (!options.varnex_before.empty())
          add("varnex before", format,
              [&] { return CommandRate(options.varnex_before, dir, aa, threads, format); });
      }
    }
  }
  fs::remove_all(dir);
  r.ran = true;
  return r;
}

}  // namespace vbench
