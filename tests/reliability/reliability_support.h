// Shared pieces of the reliability tests: the linked-in effect behind our host with a log of every
// command's host calls, an observer of the effect's (silent) message sink, seeded random control
// animation, and checks on pictures.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "hostapp/host.h"
#include "hostapp/probe.h"
#include "params/message_observer.h"
#include "params/param_ids.h"
#include "render/render_support.h"
#include "support/effect_main.h"
#include "support/message_capture.h"

namespace reliability {

// ---- Messages ----------------------------------------------------------------------------------

// Everything the effect's message sink received since the last Take, from any thread, between
// Install and Remove.
class MessageLog {
 public:
  static void Install() { capture().emplace(); }
  static void Remove() { capture().reset(); }
  static std::vector<std::string> Take() { return capture()->Take(); }

 private:
  static std::optional<MessageCapture>& capture() {
    static std::optional<MessageCapture> c;
    return c;
  }
};

// ---- Command log -------------------------------------------------------------------------------

// One command as the effect ran it: its code, the host calls it made, its result.
struct CommandRecord {
  PF_Cmd cmd = 0;
  std::vector<vhost::CallRecord> calls;
  PF_Err err = PF_Err_NONE;
};

// An entry point for our host that runs the linked-in effect and then logs the command with the
// host calls its probe saw. Probe::last_calls() keeps only the last command, which for a render
// job hides the pre-render; this log keeps both.
class CommandLog {
 public:
  static PF_Err Entry(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                      PF_LayerDef* output, void* extra) {
    const PF_Err err = EffectMain(cmd, in_data, out_data, params, output, extra);
    std::vector<vhost::CallRecord> calls = vhost::Probe::CallsOfRunningCommand();
    std::lock_guard<std::mutex> lock(mutex());
    records().push_back({cmd, std::move(calls), err});
    return err;
  }
  static std::vector<CommandRecord> Take() {
    std::lock_guard<std::mutex> lock(mutex());
    std::vector<CommandRecord> out;
    out.swap(records());
    return out;
  }

 private:
  static std::mutex& mutex() {
    static std::mutex m;
    return m;
  }
  static std::vector<CommandRecord>& records() {
    static std::vector<CommandRecord> r;
    return r;
  }
};

// ---- Controls ----------------------------------------------------------------------------------

// Timing of frame `frame` at 24 frames a second.
inline vhost::Timing FrameTiming(int frame) {
  vhost::Timing t;
  t.time_step = 100;
  t.time_scale = 2400;
  t.current_time = frame * t.time_step;
  return t;
}

inline double FrameSeconds(int frame) {
  const vhost::Timing t = FrameTiming(frame);
  return static_cast<double>(t.current_time) / t.time_scale;
}

// Gives every control that shapes the picture a keyframe with a random value at each of the
// frames 0 to frames - 1, so that every frame renders with its own settings while all threads
// share one set of controls. Popups get only their real entries (never a separator); the
// anti-aliasing factor stays at most 4x and the iterations at most 6 to keep frames cheap.
inline void AnimateRandomly(vhost::ControlStore& controls, std::mt19937& rng, int frames) {
  // A control takes a value from `choices` when it has any, else a uniform one in [lo, hi].
  struct Animated {
    int index;
    double lo, hi;
    std::vector<double> choices;
  };
  const std::vector<Animated> animated = {
      {PARAM_CHANNEL, 0, 0, {1, 2, 3, 4, 6, 7, 8}},
      {PARAM_INVERT_MAP, 0, 0, {0, 1}},
      {PARAM_MAP_GAMMA, 0.2, 3, {}},
      {PARAM_MAP_SOFTNESS, 0, 6, {}},
      {PARAM_MAP_MIX_INPUT, 0, 100, {}},
      {PARAM_DISPLACEMENT_OFFSET, -1, 1, {}},
      {PARAM_DISPLACEMENT_EASING, 0, 0, {1, 3, 4, 5}},
      {PARAM_MAP_INTERPRETATION, 0, 0, {1, 2}},
      {PARAM_TRANSLATE_X, -40, 40, {}},
      {PARAM_TRANSLATE_Y, -40, 40, {}},
      {PARAM_ROTATE, -180, 180, {}},
      {PARAM_SCALE_X, -150, 250, {}},
      {PARAM_SCALE_Y, -150, 250, {}},
      {PARAM_ANCHOR_X, -50, 150, {}},
      {PARAM_ANCHOR_Y, -50, 150, {}},
      {PARAM_ITERATIONS, 0, 0, {1, 1, 2, 3, 6}},
      {PARAM_SHUTTER_DURATION, 0, 200, {}},
      {PARAM_CA_RED, 0.8, 1.2, {}},
      {PARAM_CA_GREEN, 0.8, 1.2, {}},
      {PARAM_CA_BLUE, 0.8, 1.2, {}},
      {PARAM_EDGE_BEHAVIOR, 0, 0, {1, 3, 4, 5}},
      {PARAM_ANTI_ALIASING, 0, 0, {1, 1, 3, 4}},
  };
  for (const Animated& control : animated) {
    std::vector<vhost::Keyframe> keys;
    for (int f = 0; f < frames; ++f) {
      double value;
      if (control.choices.empty()) {
        value = std::uniform_real_distribution<double>(control.lo, control.hi)(rng);
      } else {
        const size_t last = control.choices.size() - 1;
        value = control.choices[std::uniform_int_distribution<size_t>(0, last)(rng)];
      }
      keys.push_back({FrameSeconds(f), value});
    }
    controls.SetKeyframes(control.index, keys);
  }
  // Not animatable: fixed for the whole run, off so that "Scale Y" counts.
  controls.SetValue(PARAM_UNIFORM_SCALE, 0);
}

// ---- Pictures ----------------------------------------------------------------------------------

// Whether every channel of every pixel is a finite number (8-bit pictures always are).
inline bool AllFinite(const vhost::Image& img) {
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x < img.width; ++x)
      for (int c = 0; c < 4; ++c)
        if (!std::isfinite(img.Get(x, y, c))) return false;
  return true;
}

}  // namespace reliability
