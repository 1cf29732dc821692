#include "bench/report.h"

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

namespace vbench {

namespace {

constexpr double kRatioTarget = 1.3;
constexpr double kSequenceTarget = 0.85;
constexpr double kMemoryTarget = 1.2;

const char* Verdict(bool met) {
  return met ? "met" : "NOT met";
}

}  // namespace

void PrintConfigHeader(FILE* out, bool before) {
  std::fprintf(out, "%-34s %9s %9s %7s %9s %9s", "configuration", "ms", "floor ms", "ratio",
               "gl ms", "cpu ratio");
  if (before) std::fprintf(out, " %9s %7s", "before ms", "before");
  std::fprintf(out, "\n");
  std::fflush(out);
}

void PrintConfigRow(FILE* out, const ConfigResult& r) {
  std::fprintf(out, "%-34s %9.1f %9.1f %7.2f %9.1f %9.2f", r.config.Name().c_str(), r.ms,
               r.floor_ms, r.Ratio(), r.gl_ms, r.CpuRatio());
  if (r.before_ms > 0) std::fprintf(out, " %9.1f %7.2f", r.before_ms, r.BeforeRatio());
  std::fprintf(out, "%s\n", r.Ratio() > kRatioTarget ? "  over 1.3" : "");
  std::fflush(out);
}

void PrintProfile(FILE* out, const Profile& p) {
  std::fprintf(out,
               "%s: effect %.1f ms (%.1f ms CPU), floor %.1f ms (%.1f ms CPU); every draw, "
               "clear and upload waited for\n",
               p.config.Name().c_str(), p.ours_ms, p.ours.cpu_ms, p.floor_ms, p.floor.cpu_ms);
  std::fprintf(out, "  %-10s %10s %10s %10s %10s\n", "", "effect ms", "CPU ms", "floor ms",
               "CPU ms");
  double sums[4] = {};
  for (int b = 0; b < kBucketCount; ++b) {
    std::fprintf(out, "  %-10s %10.1f %10.1f %10.1f %10.1f\n", BucketName(b), p.ours.bucket_ms[b],
                 p.ours.bucket_cpu_ms[b], p.floor.bucket_ms[b], p.floor.bucket_cpu_ms[b]);
    sums[0] += p.ours.bucket_ms[b];
    sums[1] += p.ours.bucket_cpu_ms[b];
    sums[2] += p.floor.bucket_ms[b];
    sums[3] += p.floor.bucket_cpu_ms[b];
  }
  std::fprintf(out, "  %-10s %10.1f %10.1f %10.1f %10.1f\n", "rest", p.ours_ms - sums[0],
               p.ours.cpu_ms - sums[1], p.floor_ms - sums[2], p.floor.cpu_ms - sums[3]);
  std::fprintf(out, "  draws %lld / %lld, textures %lld / %lld\n",
               static_cast<long long>(p.ours.draws), static_cast<long long>(p.floor.draws),
               static_cast<long long>(p.ours.textures), static_cast<long long>(p.floor.textures));
  std::fflush(out);
}

namespace {

// The sequence's rates: a row per part, a column per "Anti-Aliasing" and thread count, then the
// target: varnex -j 2 writing PNG at None against the render alone.
void PrintPipeline(FILE* out, const PipelineResult& p, double gl_rate_fps) {
  if (!p.ran) {
    if (!p.skipped.empty()) std::fprintf(out, "sequence: skipped: %s\n", p.skipped.c_str());
    return;
  }
  std::fprintf(out,
               "sequence of %d frames (input sequence, map still), frames/s:\n"
               "%-22s %9s %9s %9s %9s\n",
               p.frames, "", "None -j1", "None -j2", "2x -j1", "2x -j2");
  const std::pair<const char*, const char*> parts[] = {{"render alone", ""},
                                                       {"varnex", "png"},
                                                       {"varnex", "exr"},
                                                       {"varnex before", "png"},
                                                       {"varnex before", "exr"}};
  for (bool cpu : {false, true}) {
    if (cpu) std::fprintf(out, "processor ms per frame, every thread:\n");
    for (const auto& [what, format] : parts) {
      bool any = false;
      std::string line = std::string(what) + (*format ? " " : "") + format;
      char cells[64 * 4] = "";
      size_t used = 0;
      for (const char* aa : {"None", "2x"})
        for (int threads : {1, 2}) {
          const PipelineRow* row = p.Find(what, format, aa, threads);
          any = any || row;
          used += row ? std::snprintf(cells + used, sizeof cells - used, cpu ? " %9.0f" : " %9.2f",
                                      cpu ? row->cpu_ms : row->fps)
                      : std::snprintf(cells + used, sizeof cells - used, " %9s", "-");
        }
      if (any) std::fprintf(out, "%-22s%s\n", line.c_str(), cells);
    }
  }
  for (const char* format : {"png", "exr"})
    if (const PipelineRow* row = p.Find("encode alone", format, "", 1))
      std::fprintf(
          out, "encode alone, %s at its default, one writer: %.2f frames/s, %.0f ms per frame\n",
          format, row->fps, row->cpu_ms);
  for (const PipelineRow& row : p.rows)
    if (!row.error.empty())
      std::fprintf(out, "  %s %s %s -j %d: %s\n", row.what.c_str(), row.format.c_str(),
                   row.aa.c_str(), row.threads, row.error.c_str());
  const PipelineRow* png = p.Find("varnex", "png", "None", 2);
  const PipelineRow* alone = p.Find("render alone", "", "None", 2);
  if (png && alone && alone->fps > 0) {
    const double share = png->fps / alone->fps;
    std::fprintf(out,
                 "target varnex -j 2, PNG, None >= %.0f %% of the render alone: %.0f %% (%.2f of "
                 "%.2f frames/s): %s\n",
                 kSequenceTarget * 100.0, share * 100.0, png->fps, alone->fps,
                 Verdict(share >= kSequenceTarget));
  }
  if (gl_rate_fps > 0)
    std::fprintf(out, "the GL phase of one frame (8bpc aaNone, no map) allows %.2f frames/s\n",
                 gl_rate_fps);
}

}  // namespace

void PrintSummary(FILE* out, const Report& report) {
  std::fprintf(out, "\n");
  int over = 0;
  for (const ConfigResult& r : report.configs)
    if (r.Ratio() > kRatioTarget) ++over;
  if (!report.configs.empty())
    std::fprintf(out, "target ratio <= %.1f: %s (%d of %zu configurations over)\n", kRatioTarget,
                 Verdict(over == 0), over, report.configs.size());
  // The same frames through another build's module, each render between ours and the floor's.
  int measured = 0, above = 0;
  for (const ConfigResult& r : report.configs) {
    if (r.before_ms <= 0) continue;
    ++measured;
    if (r.Ratio() > r.BeforeRatio()) ++above;
  }
  if (measured > 0)
    std::fprintf(out, "target ratio <= the build before's, in this run: %s (%d of %d above)\n",
                 Verdict(above == 0), above, measured);

  if (report.have_memory) {
    const PeakMemory& m = report.memory;
    if (m.ok) {
      const double ratio = m.DeltaMiB() / report.memory_needed_mib;
      std::fprintf(out,
                   "peak memory, 8x render of %dx%d: +%.0f MiB over %.0f MiB resident before "
                   "(%.0f ms); framebuffers needed at once %.0f MiB; ratio %.2f; target <= %.1f: "
                   "%s\n",
                   report.frame.width, report.frame.height, m.DeltaMiB(), m.before_mib, m.render_ms,
                   report.memory_needed_mib, ratio, kMemoryTarget, Verdict(ratio <= kMemoryTarget));
      if (m.factor_used != m.factor_asked)
        std::fprintf(out,
                     "  note: the driver could not allocate %dx targets; the render fell back to "
                     "%dx, and the figures above are for that\n",
                     m.factor_asked, m.factor_used);
      if (report.renderer.find("llvmpipe") == std::string::npos)
        std::fprintf(out,
                     "  note: a GPU keeps its framebuffers in its own memory, which this "
                     "process figure does not include\n");
    } else {
      std::fprintf(out, "peak memory: not measured: %s\n", m.error.c_str());
    }
    if (report.floor_memory.ok)
      std::fprintf(out, "peak memory, floor's 8x render: +%.0f MiB (%.0f ms, %dx used)\n",
                   report.floor_memory.DeltaMiB(), report.floor_memory.render_ms,
                   report.floor_memory.factor_used);
  }

  if (report.have_threads) {
    const ThreadRenders& m = report.module_threads;
    const ThreadRenders& l = report.linked_threads;
    std::fprintf(out,
                 "new thread, loaded module: first render %.1f ms (%ld contexts, %ld compiles, "
                 "%ld links), second %.1f ms (%ld contexts, %ld compiles, %ld links)\n",
                 m.ms[0], m.contexts[0], m.compiles[0], m.links[0], m.ms[1], m.contexts[1],
                 m.compiles[1], m.links[1]);
    std::fprintf(out,
                 "new thread, linked effect: live contexts +%ld after the first render, +%ld "
                 "after the second; compiles %ld then %ld\n",
                 l.live_contexts_delta[0], l.live_contexts_delta[1], l.compiles[0], l.compiles[1]);
    const bool met = m.contexts[1] == 0 && m.compiles[1] == 0 && m.links[1] == 0 &&
                     l.live_contexts_delta[1] == 0 && l.compiles[1] == 0;
    std::fprintf(out, "target second render builds nothing: %s\n", Verdict(met));
  }

  PrintPipeline(out, report.pipeline, report.gl_rate_fps);
  const FootageResult& f = report.footage;
  if (f.ran)
    std::fprintf(out,
                 "footage, %d-frame movie by a map sequence: one varnex render %.1f s into ProRes, "
                 "%.1f s into PNGs; a shell loop of one varnex per still %.1f s (%.1f times "
                 "longer)\n",
                 48, f.movie_s, f.sequence_s, f.loop_s, f.loop_s / f.sequence_s);
  else if (!f.skipped.empty())
    std::fprintf(out, "footage: skipped: %s\n", f.skipped.c_str());
  const Frei0rResult& f0r = report.frei0r;
  if (f0r.ran)
    std::fprintf(out,
                 "frei0r, a %dx%d frame through the varnex.so filter: %.1f ms, in our host %.1f ms "
                 "(%.2f times)\ntarget frei0r at most 1.1 times our host: %s\n",
                 report.frame.width, report.frame.height, f0r.frei0r_ms, f0r.host_ms, f0r.Ratio(),
                 Verdict(f0r.Ratio() <= 1.1));
  else if (!f0r.skipped.empty())
    std::fprintf(out, "frei0r: skipped: %s\n", f0r.skipped.c_str());
  std::fprintf(out, "GL: %s, %s (%s)\n", report.renderer.c_str(), report.gl_version.c_str(),
               report.platform.c_str());
  std::fflush(out);
}

bool WriteJson(const std::string& dir, const Report& report, std::string* error) {
  using nlohmann::json;
  json rows = json::array();
  for (const ConfigResult& r : report.configs) {
    json row = {
        {"config", r.config.Name()}, {"ms", r.ms}, {"floor_ms", r.floor_ms}, {"ratio", r.Ratio()}};
    if (r.before_ms > 0) {
      row["before_ms"] = r.before_ms;
      row["before_ratio"] = r.BeforeRatio();
    }
    rows.push_back(std::move(row));
  }

  json summary;
  summary["machine"] = report.machine;
  summary["renderer"] = report.renderer;
  summary["gl_version"] = report.gl_version;
  summary["platform"] = report.platform;
  summary["frame"] = {report.frame.width, report.frame.height};
  summary["timed_renders"] = report.reps;
  summary["configs"] = json::array();
  for (const ConfigResult& r : report.configs) {
    json row = {{"config", r.config.Name()},
                {"ms", r.ms},
                {"gl_phase_ms", r.gl_ms},
                {"floor_ms", r.floor_ms},
                {"ratio", r.Ratio()},
                {"cpu_ms", r.cpu_ms},
                {"floor_cpu_ms", r.floor_cpu_ms},
                {"cpu_ratio", r.CpuRatio()}};
    if (r.before_ms > 0) {
      row["before_ms"] = r.before_ms;
      row["before_ratio"] = r.BeforeRatio();
      row["before_cpu_ratio"] = r.BeforeCpuRatio();
    }
    summary["configs"].push_back(std::move(row));
  }
  if (report.have_memory && report.memory.ok)
    summary["peak_memory_8x"] = {{"delta_mib", report.memory.DeltaMiB()},
                                 {"factor_used", report.memory.factor_used},
                                 {"needed_mib", report.memory_needed_mib},
                                 {"ratio", report.memory.DeltaMiB() / report.memory_needed_mib},
                                 {"render_ms", report.memory.render_ms},
                                 {"floor_delta_mib", report.floor_memory.DeltaMiB()}};
  if (report.have_threads) {
    const ThreadRenders& m = report.module_threads;
    summary["new_thread"] = {{"first_ms", m.ms[0]},
                             {"second_ms", m.ms[1]},
                             {"contexts", {m.contexts[0], m.contexts[1]}},
                             {"compiles", {m.compiles[0], m.compiles[1]}},
                             {"links", {m.links[0], m.links[1]}},
                             {"linked_live_context_delta",
                              {report.linked_threads.live_contexts_delta[0],
                               report.linked_threads.live_contexts_delta[1]}}};
  }
  summary["sequence"] = json::array();
  for (const PipelineRow& row : report.pipeline.rows)
    summary["sequence"].push_back({{"what", row.what},
                                   {"format", row.format},
                                   {"aa", row.aa},
                                   {"threads", row.threads},
                                   {"fps", row.fps},
                                   {"cpu_ms_per_frame", row.cpu_ms},
                                   {"error", row.error}});
  if (!report.pipeline.skipped.empty()) summary["sequence_skipped"] = report.pipeline.skipped;
  summary["gl_phase_fps"] = report.gl_rate_fps;
  if (report.footage.ran)
    summary["footage"] = {{"movie_to_prores_s", report.footage.movie_s},
                          {"movie_to_png_s", report.footage.sequence_s},
                          {"shell_loop_s", report.footage.loop_s}};
  else
    summary["footage"] = {{"skipped", report.footage.skipped}};
  if (report.frei0r.ran)
    summary["frei0r"] = {{"frei0r_ms", report.frei0r.frei0r_ms},
                         {"host_ms", report.frei0r.host_ms},
                         {"ratio", report.frei0r.Ratio()}};
  else
    summary["frei0r"] = {{"skipped", report.frei0r.skipped}};

  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  std::ofstream results(std::filesystem::path(dir) / "results.json");
  std::ofstream all(std::filesystem::path(dir) / "summary.json");
  results << rows.dump(2) << "\n";
  all << summary.dump(2) << "\n";
  if (!results || !all) {
    *error = "could not write the results under " + dir;
    return false;
  }
  return true;
}

}  // namespace vbench
