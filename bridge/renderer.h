// The effect rendered one frame at a time from pixels a caller owns, without the command: our
// host with the effect linked in, set up as a host applying the effect would, its controls set by
// identifier in the panel's units. For plug-ins of other programs (the frei0r plug-ins).
//
// A renderer belongs to one thread at a time; renderers on several threads render at once (the
// effect's own lock orders their GL work). Nothing here prints.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "bridge/controls.h"
#include "hostapp/host.h"

namespace vbridge {

// A frame that could not be rendered, or an effect that could not be started; what() is one line.
class RenderFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Caller-owned pixels: straight-alpha red, green, blue and alpha bytes, rows top first, `stride`
// bytes apart (at least width × 4).
struct RgbaPixels {
  const uint8_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  ptrdiff_t stride = 0;
};

struct RgbaTarget {
  uint8_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  ptrdiff_t stride = 0;
};

// Where in time a frame is: its start, and how long the frames of its timeline last.
struct FrameTime {
  double seconds = 0;
  double frame_seconds = 0;  // not positive: the default duration (frame_time.h)
};

class Renderer {
 public:
  // Starts the effect: global setup, the controls declared with their defaults, the panel's first
  // update. GL is not needed yet; a render without it fails. The effect's GL diagnostics are
  // dropped unless VARNEX_GL_DIAGNOSTICS is set (not "0") in the environment, which sends them to
  // standard error. Throws RenderFailure when a step fails.
  Renderer();
  ~Renderer();
  Renderer(const Renderer&) = delete;
  Renderer& operator=(const Renderer&) = delete;

  // Sets a settable control (controls.h) to `x` in the panel's units, `y` too for a point; an
  // integer slider rounds to the nearest whole number. Throws std::invalid_argument for a control
  // that holds no setting and for a value outside the control's range, naming both.
  void Set(ParamIndex control, double x, double y = 0);
  // The value of a control in the panel's units (y: a point's second coordinate).
  double Get(ParamIndex control, double* y = nullptr) const;

  // Renders `input` displaced by `map` (null: the input is its own map, as with "Map Layer" None)
  // into `output` at `time`. All three are the same size, any size within the host's limits. The
  // caller's current GL context, whatever it is, is current again afterwards. Throws
  // RenderFailure for a missing buffer, sizes that differ or exceed the limits, and a render the
  // effect fails (no GL among the causes); `output` is then unwritten.
  void Render(const RgbaPixels& input, const RgbaPixels* map, const FrameTime& time,
              const RgbaTarget& output);

 private:
  std::unique_ptr<vhost::Host> host_;
  // The host's layers, kept from frame to frame so that equal sizes reuse their memory.
  vhost::Image input_;
  vhost::Image map_;
};

}  // namespace vbridge
