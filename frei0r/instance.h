// One frei0r instance: the parameters as the host set them, the effect started on the first frame
// that needs it, and the frames' time. An instance belongs to one thread at a time, as frei0r
// hosts use them (MLT keeps one per thread).
//
// frei0r has no error return. A frame the effect cannot render goes through unchanged, and the
// first such failure of an instance says why on one line of standard error; so does the first
// value of each parameter that cannot be taken as given.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "bridge/frame_time.h"
#include "bridge/renderer.h"
#include "frei0r/params.h"

namespace vfrei0r {

class Instance {
 public:
  // `name` starts the instance's lines on standard error. An instance that `takes_map` renders
  // only frames that come with one.
  Instance(const char* name, unsigned width, unsigned height, bool takes_map);
  ~Instance();

  // f0r_set_param_value and f0r_get_param_value: `param` points at a double, a position or a
  // char* as frei0r says for the parameter's type. An index out of range is ignored.
  void SetParam(int index, const void* param);
  void GetParam(int index, void* param) const;

  // Renders `input` displaced by `map` (null: by itself) into `output` at `seconds`.
  void Update(double seconds, const uint32_t* input, const uint32_t* map, uint32_t* output);

 private:
  // Copies the input to the output (clears the output when there is no input) and says why once.
  void PassThrough(const std::string& why, const uint32_t* input, uint32_t* output);
  // Says `line` on standard error once for each distinct `key`.
  void WarnOnce(const std::string& key, const std::string& line);
  // Hands every parameter to the renderer in the panel's units.
  void ApplyParams();

  std::string name_;
  unsigned width_;
  unsigned height_;
  bool takes_map_;
  std::vector<ParamValue> values_;
  std::unique_ptr<vbridge::Renderer> renderer_;
  std::string start_failure_;  // why the effect could not be started; tried once
  bool failure_told_ = false;
  std::set<std::string> warned_;
  bool have_last_time_ = false;
  double last_time_ = 0;
  double frame_seconds_ = vbridge::kDefaultFrameSeconds;
};

}  // namespace vfrei0r
