// The GL floor: the least GL work a render of a plan can be, on the same kind of context the
// effect uses. It uploads the same host buffers the same way, draws the same number of
// full-screen passes at the same sizes into the same float targets with a trivial copy shader,
// and reads the result back the same way. The program and its vertex array are built once;
// the targets are made and freed per render, as the effect's design requires of it too.
#pragma once

#include <string>

#include "bench/config.h"
#include "cgl.h"
#include "hostapp/host.h"

namespace vbench {

class GLFloor {
 public:
  GLFloor() = default;
  ~GLFloor();
  GLFloor(const GLFloor&) = delete;
  GLFloor& operator=(const GLFloor&) = delete;

  // Creates the context (leaving it current on the calling thread) and the copy program.
  // Returns false with a reason in `error` when either fails.
  bool Init(std::string* error);
  // Makes the floor's context current on the calling thread again.
  void MakeCurrent();
  // One render of the plan; `map` may be null when the plan has none. The result lands in
  // `output`, an image of the plan's size and depth.
  void Render(const PassPlan& plan, const vhost::Image& input, const vhost::Image* map,
              vhost::Image* output);
  // The driver's renderer string, for the report ("llvmpipe (LLVM ...)").
  std::string Renderer() const { return renderer_; }
  std::string Version() const { return version_; }
  // The supersampling factor of the last render: smaller than the plan's when the driver could
  // not allocate targets that large.
  int FactorUsed() const { return factor_used_; }

 private:
  CGLContextObj ctx_ = nullptr;
  unsigned program_ = 0;
  unsigned vertex_array_ = 0;
  int factor_used_ = 1;
  std::string renderer_;
  std::string version_;
};

}  // namespace vbench
