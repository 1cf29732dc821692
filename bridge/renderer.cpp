#include "bridge/renderer.h"

#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <vector>

#include "bridge/caller_context.h"
#include "bridge/frame_time.h"
#include "gl/diagnostics.h"
#include "hostapp/control_kinds.h"

extern "C" PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                             PF_ParamDef* params[], PF_LayerDef* output, void* extra);

namespace vbridge {

namespace {

// Host pixels keep alpha first. Read as a little-endian word, an RGBA pixel is A B G R from the
// top byte down and the host's is B G R A: one rotation by a byte turns one into the other, which
// compilers vectorise, where a byte shuffle would not be.
static_assert(std::endian::native == std::endian::little, "pixel words are read little-endian");
constexpr int kRotation = 8;

std::string Describe(PF_Err err) {
  return std::to_string(err) + " (" + vhost::ErrorName(err) + ")";
}

void Start(PF_Err err, const char* step) {
  if (err)
    throw RenderFailure(std::string("the effect's ") + step + " failed with " + Describe(err));
}

void SendDiagnosticsWhereAsked() {
  const char* asked = std::getenv("VARNEX_GL_DIAGNOSTICS");
  SetGLDiagnostics(asked && *asked && std::strcmp(asked, "0") != 0 ? &std::cerr : nullptr);
}

void CheckPixels(const char* what, const void* pixels, int width, int height, ptrdiff_t stride) {
  if (!pixels) throw RenderFailure(std::string("the ") + what + " has no pixels");
  if (width <= 0 || height <= 0 || width > vhost::kMaxImageSide || height > vhost::kMaxImageSide ||
      static_cast<long long>(width) * height > vhost::kMaxImagePixels) {
    std::ostringstream line;
    line << "the " << what << " is " << width << "x" << height << "; the effect takes 1 to "
         << vhost::kMaxImageSide << " pixels a side and " << vhost::kMaxImagePixels
         << " pixels in all";
    throw RenderFailure(line.str());
  }
  if (stride < static_cast<ptrdiff_t>(width) * 4)
    throw RenderFailure(std::string("the ") + what + "'s rows are " + std::to_string(stride) +
                        " bytes apart, fewer than its width takes");
}

// Copies caller pixels into a host layer of their size, reusing its memory when it has that size.
void ToHost(const RgbaPixels& from, vhost::Image* to) {
  if (to->width != from.width || to->height != from.height || to->bpc != 8)
    *to = vhost::Image::Make(from.width, from.height, 8);
  std::vector<uint32_t> row(static_cast<size_t>(from.width));
  for (int y = 0; y < from.height; ++y) {
    std::memcpy(row.data(), from.pixels + y * from.stride, row.size() * 4);
    for (uint32_t& pixel : row) pixel = std::rotl(pixel, kRotation);
    std::memcpy(to->Row(y), row.data(), row.size() * 4);
  }
}

void FromHost(const vhost::Image& from, const RgbaTarget& to) {
  std::vector<uint32_t> row(static_cast<size_t>(to.width));
  for (int y = 0; y < to.height; ++y) {
    std::memcpy(row.data(), from.Row(y), row.size() * 4);
    for (uint32_t& pixel : row) pixel = std::rotr(pixel, kRotation);
    std::memcpy(to.pixels + y * to.stride, row.data(), row.size() * 4);
  }
}

}  // namespace

Renderer::Renderer() {
  SendDiagnosticsWhereAsked();
  host_ = std::make_unique<vhost::Host>(&EffectMain);
  // Global setup makes the effect's first context; the caller's stays its own.
  CallerContext caller;
  Start(host_->GlobalSetup(), "global setup");
  Start(host_->ParamsSetup(), "control setup");
  if (host_->controls().size() != PARAM_NUM_PARAMS)
    throw RenderFailure("the effect declared " + std::to_string(host_->controls().size() - 1) +
                        " controls; its table has " + std::to_string(PARAM_NUM_PARAMS - 1));
  Start(host_->UpdateParamsUI(), "panel update");
}

Renderer::~Renderer() {
  // Global setdown ends the effect's global context; the caller's stays its own.
  CallerContext caller;
  host_.reset();
}

void Renderer::Set(ParamIndex control, double x, double y) {
  const ControlSpec* spec = FindSettable(control);
  if (!spec)
    throw std::invalid_argument("control " + std::to_string(control) + " holds no setting");
  auto outside = [&](double v, double lo, double hi) { return !(v >= lo && v <= hi); };
  const bool slider =
      spec->kind == ControlKind::kFloatSlider || spec->kind == ControlKind::kIntegerSlider;
  if (spec->kind == ControlKind::kIntegerSlider) x = std::round(x);
  const bool bad =
      (slider && outside(x, spec->min, spec->max)) ||
      (spec->kind == ControlKind::kAngle && outside(x, -vhost::kFixedMax, vhost::kFixedMax)) ||
      (spec->kind == ControlKind::kCheckbox && x != 0 && x != 1) ||
      (spec->kind == ControlKind::kPopup &&
       (outside(x, 1, static_cast<double>(spec->items.size())) || x != std::floor(x))) ||
      (spec->kind == ControlKind::kPoint && (outside(x, -vhost::kFixedMax, vhost::kFixedMax) ||
                                             outside(y, -vhost::kFixedMax, vhost::kFixedMax)));
  if (bad) {
    std::ostringstream line;
    line << "\"" << spec->label << "\" cannot be " << x;
    if (spec->kind == ControlKind::kPoint) line << ", " << y;
    throw std::invalid_argument(line.str());
  }
  vhost::ControlStore& store = host_->controls();
  std::lock_guard<std::mutex> lock(host_->mutex());
  store.SetValue(control, x);
  store.at(control).value2 = y;
}

double Renderer::Get(ParamIndex control, double* y) const {
  std::lock_guard<std::mutex> lock(host_->mutex());
  const vhost::Control& c = host_->controls().at(control);
  if (y) *y = c.value2;
  return c.value;
}

void Renderer::Render(const RgbaPixels& input, const RgbaPixels* map, const FrameTime& time,
                      const RgbaTarget& output) {
  CheckPixels("input", input.pixels, input.width, input.height, input.stride);
  CheckPixels("output", output.pixels, output.width, output.height, output.stride);
  if (map) CheckPixels("map", map->pixels, map->width, map->height, map->stride);
  const bool same_size = output.width == input.width && output.height == input.height &&
                         (!map || (map->width == input.width && map->height == input.height));
  if (!same_size) throw RenderFailure("the input, the map and the output differ in size");

  ToHost(input, &input_);
  if (map) ToHost(*map, &map_);
  vhost::RenderJob job;
  job.timing = TimingAt(time.seconds, time.frame_seconds);
  job.bpc = 8;
  job.input = &input_;
  job.map = map ? &map_ : nullptr;
  {
    std::lock_guard<std::mutex> lock(host_->mutex());
    host_->controls().at(PARAM_MAP_LAYER).has_layer = map != nullptr;
  }
  vhost::RenderResult result;
  {
    CallerContext caller;
    result = host_->Render(job);
  }
  if (const PF_Err err = result.pre_render_err ? result.pre_render_err : result.err)
    throw RenderFailure("the render failed with " + Describe(err));
  if (result.output.width != output.width || result.output.height != output.height)
    throw RenderFailure("the effect rendered " + std::to_string(result.output.width) + "x" +
                        std::to_string(result.output.height) + " for a frame of " +
                        std::to_string(output.width) + "x" + std::to_string(output.height));
  FromHost(result.output, output);
}

}  // namespace vbridge
