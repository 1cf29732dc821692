// Fuzzes what a render takes from the user: a project file and --set settings, through the same
// functions the command runs (ResolveRenderSettings, then ApplyControlSettings on the plug-in's
// controls in our host).
//
// Input: the project's text, then optionally a zero byte followed by --set settings, one a line.
// An empty project part means no project.
//
// Anything but a clear refusal (InputError) is a failure: an exception of another kind leaves
// the harness and aborts. Settings that are accepted must leave every control finite and, for
// the controls with a valid range, within it.
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "pipeline/control_values.h"
#include "pipeline/errors.h"
#include "pipeline/options.h"
#include "pipeline/plan.h"

namespace {

struct Saved {
  double value, value2;
  std::vector<vhost::Keyframe> keys;
};

void CheckControls(const vpipe::Session& session, const vhost::ControlStore& store) {
  for (const vpipe::ControlInfo& info : session.controls) {
    const vhost::Control& c = store.at(info.index);
    std::vector<double> values = {c.value, c.value2};
    for (const vhost::Keyframe& k : c.keys) {
      if (!std::isfinite(k.time)) std::abort();
      values.push_back(k.value);
    }
    for (double v : values)
      if (!std::isfinite(v)) std::abort();
    if (info.limited && (info.kind == PF_Param_FLOAT_SLIDER || info.kind == PF_Param_SLIDER)) {
      for (size_t i = 0; i < values.size(); ++i)
        if (i != 1 && (values[i] < info.valid_min || values[i] > info.valid_max)) std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vpipe::Session& session = fuzz::TheSession();
  vhost::ControlStore& store = session.host->controls();

  const std::string text(reinterpret_cast<const char*>(data), size);
  const size_t zero = text.find('\0');
  const std::string project = text.substr(0, zero);
  std::vector<std::string> sets;
  if (zero != std::string::npos) {
    size_t start = zero + 1;
    while (start <= text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      sets.push_back(text.substr(start, end - start));
      start = end + 1;
    }
  }

  std::vector<Saved> saved;
  for (int i = 0; i < store.size(); ++i)
    saved.push_back({store.at(i).value, store.at(i).value2, store.at(i).keys});
  try {
    // As the command builds it: the project, then INPUT, -o and every --set over it.
    vpipe::RenderRequest request;
    if (!project.empty())
      request = vpipe::LoadProject(fuzz::WriteScratch("project.json", data, project.size()));
    vpipe::SetOption(&request, "input", std::string(fuzz::ScratchDir()) + "/in.png");
    vpipe::SetOption(&request, "output", std::string(fuzz::ScratchDir()) + "/out.png");
    for (const std::string& set : sets) vpipe::SetOption(&request, "set", set);
    const vpipe::RenderSettings settings = vpipe::ResolveRenderSettings(request);
    vpipe::ApplyControlSettings(session.controls, settings.controls, settings.fps, &store);
    CheckControls(session, store);
  } catch (const vpipe::InputError&) {
  }
  for (int i = 0; i < store.size(); ++i) {
    store.at(i).value = saved[i].value;
    store.at(i).value2 = saved[i].value2;
    store.at(i).keys = saved[i].keys;
  }
  return 0;
}
