#include "frei0r/instance.h"

#include <frei0r.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <sstream>

namespace vfrei0r {

namespace {

using vbridge::ControlKind;

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

std::string Number(double v) {
  std::ostringstream text;
  text << v;
  return text.str();
}

}  // namespace

Instance::Instance(const char* name, unsigned width, unsigned height, bool takes_map)
    : name_(name), width_(width), height_(height), takes_map_(takes_map) {
  for (const Param& param : Params()) values_.push_back(DefaultValue(param));
}

Instance::~Instance() = default;

void Instance::SetParam(int index, const void* param) {
  if (index < 0 || index >= static_cast<int>(values_.size()) || !param) return;
  const vbridge::ControlSpec& control = *Params()[index].control;
  ParamValue& value = values_[index];
  switch (Params()[index].type) {
    case F0R_PARAM_STRING: {
      const char* text = *static_cast<const char* const*>(param);
      if (!text) return;
      if (vbridge::PopupItemNumber(control, text) == 0) {
        WarnOnce(control.label + "=" + text, Quoted(control.label) + " has no item " +
                                                 Quoted(text) + "; it stays " + Quoted(value.text));
        return;
      }
      value.text = text;
      return;
    }
    case F0R_PARAM_POSITION: {
      const auto* position = static_cast<const f0r_param_position_t*>(param);
      value.x = position->x;
      value.y = position->y;
      return;
    }
    default:
      value.x = *static_cast<const double*>(param);
      if (Params()[index].type == F0R_PARAM_DOUBLE && !(value.x >= 0 && value.x <= 1))
        WarnOnce(control.label + "=" + Number(value.x),
                 Quoted(control.label) + " " + Number(value.x) +
                     " is outside 0..1; the nearer end is used");
  }
}

void Instance::GetParam(int index, void* param) const {
  if (index < 0 || index >= static_cast<int>(values_.size()) || !param) return;
  const ParamValue& value = values_[index];
  switch (Params()[index].type) {
    case F0R_PARAM_STRING:
      // frei0r's convention: the host gets the instance's own copy, valid until the next set.
      *static_cast<const char**>(param) = value.text.c_str();
      return;
    case F0R_PARAM_POSITION: {
      auto* position = static_cast<f0r_param_position_t*>(param);
      position->x = value.x;
      position->y = value.y;
      return;
    }
    default:
      *static_cast<double*>(param) = value.x;
  }
}

void Instance::ApplyParams() {
  for (size_t i = 0; i < values_.size(); ++i) {
    const vbridge::ControlSpec& control = *Params()[i].control;
    const ParamValue& value = values_[i];
    switch (control.kind) {
      case ControlKind::kCheckbox:
        renderer_->Set(control.index, value.x >= 0.5 ? 1 : 0);
        break;
      case ControlKind::kPopup:
        renderer_->Set(control.index, vbridge::PopupItemNumber(control, value.text));
        break;
      case ControlKind::kPoint:
        renderer_->Set(control.index, value.x * 100, value.y * 100);
        break;
      default:
        renderer_->Set(control.index, PanelValueOf(control, value.x));
    }
  }
}

void Instance::Update(double seconds, const uint32_t* input, const uint32_t* map,
                      uint32_t* output) {
  // The frames' duration is the gap between successive updates, while time moves forward.
  if (have_last_time_ && seconds > last_time_) frame_seconds_ = seconds - last_time_;
  last_time_ = seconds;
  have_last_time_ = true;
  if (!output) return;
  if (takes_map_ && !map) return PassThrough("the map layer has no pixels", input, output);
  try {
    if (!renderer_ && start_failure_.empty()) {
      try {
        renderer_ = std::make_unique<vbridge::Renderer>();
      } catch (const std::exception& e) {
        start_failure_ = e.what();
      }
    }
    if (!renderer_) return PassThrough(start_failure_, input, output);
    ApplyParams();
    const auto pixels = [this](const uint32_t* frame) {
      return vbridge::RgbaPixels{reinterpret_cast<const uint8_t*>(frame), static_cast<int>(width_),
                                 static_cast<int>(height_), static_cast<ptrdiff_t>(width_) * 4};
    };
    const vbridge::RgbaPixels in = pixels(input);
    const vbridge::RgbaPixels map_pixels = pixels(map);
    const vbridge::RgbaTarget out{reinterpret_cast<uint8_t*>(output), static_cast<int>(width_),
                                  static_cast<int>(height_), static_cast<ptrdiff_t>(width_) * 4};
    renderer_->Render(in, map ? &map_pixels : nullptr, {seconds, frame_seconds_}, out);
  } catch (const std::exception& e) {
    PassThrough(e.what(), input, output);
  } catch (...) {
    PassThrough("an unknown failure", input, output);
  }
}

void Instance::PassThrough(const std::string& why, const uint32_t* input, uint32_t* output) {
  if (!failure_told_) {
    std::fprintf(stderr, "%s: %s; frames pass through unchanged\n", name_.c_str(), why.c_str());
    failure_told_ = true;
  }
  const size_t bytes = static_cast<size_t>(width_) * height_ * 4;
  if (input)
    std::memmove(output, input, bytes);
  else
    std::memset(output, 0, bytes);
}

void Instance::WarnOnce(const std::string& key, const std::string& line) {
  if (warned_.insert(key).second) std::fprintf(stderr, "%s: %s\n", name_.c_str(), line.c_str());
}

}  // namespace vfrei0r
