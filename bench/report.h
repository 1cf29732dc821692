// The table on standard output and the JSON files under the output folder.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "bench/measure.h"

namespace vbench {

struct Report {
  std::string renderer;
  std::string gl_version;
  std::string platform;
  std::string machine;
  Frame frame;
  int reps = 0;
  std::vector<ConfigResult> configs;
  bool have_memory = false;
  PeakMemory memory;
  PeakMemory floor_memory;
  double memory_needed_mib = 0;
  bool have_threads = false;
  ThreadRenders module_threads;
  ThreadRenders linked_threads;
  PipelineResult pipeline;  // the sequence through varnex, and its parts
  double gl_rate_fps = 0;   // what the GL phase of the sequence's configuration allows
  FootageResult footage;
  Frei0rResult frei0r;
};

// With `before`, two more columns: another build's module on the same frames, against the same
// floor.
void PrintConfigHeader(FILE* out, bool before);
void PrintConfigRow(FILE* out, const ConfigResult& r);
void PrintProfile(FILE* out, const Profile& p);
// Everything after the table, with each target and whether it was met.
void PrintSummary(FILE* out, const Report& report);
// results.json (the table's rows) and summary.json (everything); false when they cannot be
// written.
bool WriteJson(const std::string& dir, const Report& report, std::string* error);

}  // namespace vbench
