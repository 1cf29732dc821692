// What writing one rendered frame costs, per format and compression: the encoder's share of a
// sequence, apart from the render. Files are written the way varnex writes them
// (vmedia::WriteHostImage, temporary name and rename included).
#include <filesystem>

#include "bench/measure.h"
#include "bench/synthetic.h"
#include "bench/timing.h"
#include "media/image_io.h"

namespace vbench {

std::vector<EncodingSetting> EncodingSettings(bool all) {
  std::vector<EncodingSetting> settings = {
      {"png", "default", "", -1, -1, ""},
      {"exr", "default", "", -1, -1, ""},
  };
  if (!all) return settings;
  // libpng's filters: none 8, sub 16, up 32, average 64, Paeth 128, all (adaptive) 248.
  const std::pair<const char*, int> filters[] = {
      {"none", 8}, {"sub", 16}, {"up", 32}, {"paeth", 128}, {"adaptive", 248}};
  for (int level : {1, 2, 3, 6, 9})
    for (const auto& [name, filter] : filters) {
      if (level >= 6 && filter != 248 && filter != 8) continue;
      settings.push_back({"png", "zip:" + std::to_string(level) + " filter " + name,
                          "zip:" + std::to_string(level), level, filter, ""});
    }
  settings.push_back({"png", "zip (zlib level 6, adaptive filter)", "zip", 6, 0, ""});
  for (const char* strategy : {"rle", "huffman"})
    settings.push_back({"png", std::string("zip:1 filter sub, zlib strategy ") + strategy, "zip:1",
                        1, 16, strategy});
  for (const char* exr : {"none", "rle", "zip:1", "zip", "zips:1", "zips", "piz", "dwaa", "b44"})
    settings.push_back({"exr", exr, exr, -1, -1, ""});
  return settings;
}

EncodingResult MeasureEncoding(const vhost::Image& frame, const std::string& dir,
                               const EncodingSetting& setting, int reps) {
  EncodingResult r;
  r.setting = setting;
  namespace fs = std::filesystem;
  const std::string path = (fs::path(dir) / ("encode." + setting.format)).string();
  try {
    const vmedia::OutputFormat format = vmedia::OutputFormatFor(path);
    vmedia::ImageLayout layout;
    // What varnex writes from 8-bit footage: the same 8 bits in PNG, half floats in EXR.
    layout.type = vmedia::NearestSampleType(format, vmedia::SampleType::kUInt8);
    layout.compression = setting.compression;
    if (!setting.png_strategy.empty())
      layout.attributes.attribute("compression", setting.png_strategy);
    if (setting.png_level >= 0)
      layout.attributes.attribute("png:compressionLevel", setting.png_level);
    if (setting.png_filter >= 0) layout.attributes.attribute("png:filter", setting.png_filter);
    std::vector<double> ms, cpu_ms;
    for (int i = 0; i < reps; ++i) {
      const Clock::time_point start = Clock::now();
      const double cpu_start = ProcessCpuMs();
      vmedia::WriteHostImage(path, frame, format, layout);
      ms.push_back(MillisecondsSince(start));
      cpu_ms.push_back(ProcessCpuMs() - cpu_start);
    }
    r.ms = Median(ms);
    r.cpu_ms = Median(cpu_ms);
    r.mb = static_cast<double>(fs::file_size(path)) / 1e6;
    fs::remove(path);
    r.ran = true;
  } catch (const std::exception& e) {
    r.error = e.what();
  }
  return r;
}

vhost::Image RenderEncodingFrame(EffectRunner& effect, const Frame& frame, bool grain) {
  Config config = SequenceConfig();
  config.map_layer = true;
  effect.Apply(config);
  const vhost::Image input = grain ? MakeGrainyInputLayer(frame.width, frame.height, 8)
                                   : MakeInputLayer(frame.width, frame.height, 8);
  const vhost::Image map = MakeMapLayer(frame.width, frame.height, 8);
  return effect.Render(8, input, &map).output;
}

std::vector<EncodingResult> MeasureEncodings(EffectRunner& effect, const Frame& frame,
                                             const std::string& dir, bool all) {
  std::filesystem::create_directories(dir);
  std::vector<EncodingResult> results;
  // Grain is what footage has; the smooth frame (flat areas and gradients, like a CG render) is
  // where zlib's matching, not its entropy coding, makes the file small.
  for (bool grain : {true, false}) {
    if (!grain && !all) break;
    const vhost::Image rendered = RenderEncodingFrame(effect, frame, grain);
    for (const EncodingSetting& setting : EncodingSettings(all)) {
      results.push_back(MeasureEncoding(rendered, dir, setting, 3));
      results.back().frame = grain ? "grain" : "smooth";
    }
  }
  return results;
}

void PrintEncodings(FILE* out, const std::vector<EncodingResult>& results) {
  std::fprintf(out, "%-6s %-6s %-40s %9s %9s %9s\n", "frame", "format", "setting", "ms", "cpu ms",
               "MB");
  for (const EncodingResult& r : results) {
    if (r.ran)
      std::fprintf(out, "%-6s %-6s %-40s %9.1f %9.1f %9.2f\n", r.frame.c_str(),
                   r.setting.format.c_str(), r.setting.name.c_str(), r.ms, r.cpu_ms, r.mb);
    else
      std::fprintf(out, "%-6s %-40s failed: %s\n", r.setting.format.c_str(), r.setting.name.c_str(),
                   r.error.c_str());
  }
}

}  // namespace vbench
