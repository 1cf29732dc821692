#include "preview/preview_session.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <utility>

#include "hostapp/control_kinds.h"
#include "hostapp/draft_layers.h"
#include "hostapp/text.h"
#include "media/encode.h"
#include "pipeline/control_values.h"
#include "pipeline/errors.h"
#include "pipeline/options.h"
#include "pipeline/render.h"
#include "pipeline/render_report.h"
#include "pipeline/request.h"
#include "pipeline/sequence.h"
#include "pipeline/timing.h"
#include "preview/page_opener.h"

namespace vpreview {

using namespace vpipe;  // a front end of the pipeline

using vhost::FormatNumber;

namespace {

using nlohmann::json;
using vhost::ExactNumber;
using vhost::Quoted;

// The longest side a draft aims at: a few hundred pixels render well under a second on a CPU.
constexpr int kDraftSide = 480;

const char* KindName(PF_ParamType type) {
  switch (type) {
    case PF_Param_FLOAT_SLIDER:
    case PF_Param_SLIDER:
    case PF_Param_FIXED_SLIDER:
      return "slider";
    default:
      return vhost::KindOf(type).name;
  }
}

// A value in panel units as project text: what ParseControlValue reads back to the same value.
std::string ValueText(const ControlInfo& info, double x, double y) {
  switch (vhost::KindOf(info.kind).form) {
    case vhost::ValueForm::kOnOff:
      return x != 0 ? "on" : "off";
    case vhost::ValueForm::kPoint:
      return ExactNumber(x) + "," + ExactNumber(y);
    default:
      return ExactNumber(x);
  }
}

// A request's "value" for `info`, of the kind the control takes: numbers for sliders and angles,
// true/false (or 1/0) for checkboxes, an item number or text for popups, [x, y] for points.
ControlValue ParseValue(const ControlInfo& info, const json& body) {
  const std::string who = Quoted(info.name.empty() ? info.identifier : info.name);
  if (!body.contains("value")) throw ApiError(400, "no \"value\" for " + who);
  const json& v = body["value"];
  const vhost::ValueForm form = vhost::KindOf(info.kind).form;
  // What each form takes besides a number (a point takes only [x, y]), and the refusal.
  const bool point = form == vhost::ValueForm::kPoint;
  const bool other = form == vhost::ValueForm::kOnOff  ? v.is_boolean()
                     : form == vhost::ValueForm::kItem ? v.is_string()
                     : point ? v.is_array() && v.size() == 2 && v[0].is_number() && v[1].is_number()
                             : false;
  if (!other && (point || !v.is_number()))
    throw ApiError(
        400, who + (form == vhost::ValueForm::kOnOff ? " is a checkbox: its value is true or false"
                    : form == vhost::ValueForm::kItem
                        ? " is a popup: its value is an item number or text"
                    : point ? " is a point: its value is [x, y] in percent"
                            : " takes a number"));
  std::string text;
  if (!other)
    text = ExactNumber(v.get<double>());
  else if (v.is_boolean())
    text = v.get<bool>() ? "on" : "off";
  else if (v.is_string())
    text = v.get<std::string>();
  else
    text = ExactNumber(v[0].get<double>()) + "," + ExactNumber(v[1].get<double>());
  try {
    return ParseControlValue(info, text);
  } catch (const InputError& e) {
    throw ApiError(400, e.what());
  }
}

std::string NameOf(const json& body, const char* what) {
  if (!body.contains("name") || !body["name"].is_string())
    throw ApiError(400, std::string("\"name\" must be the label or identifier of a ") + what);
  return body["name"].get<std::string>();
}

int FrameOf(const json& body, int first, int last) {
  if (!body.contains("frame") || !body["frame"].is_number_integer())
    throw ApiError(400, "\"frame\" must be a whole number");
  const int64_t frame = body["frame"].get<int64_t>();
  if (frame < first || frame > last)
    throw ApiError(400, "frame " + std::to_string(frame) + " is outside the frames " +
                            std::to_string(first) + " to " + std::to_string(last));
  return static_cast<int>(frame);
}

bool Matches(const ControlInfo& c, const std::string& lower) {
  return (!c.name.empty() && vhost::Lower(c.name) == lower) ||
         (!c.label.empty() && vhost::Lower(c.label) == lower) ||
         vhost::Lower(c.identifier) == lower;
}

// Frames of a picture: the output (or the footage) as the page is to show it.
int DraftDivisor(int width, int height, int downsample) {
  const int side = std::max(width, height);
  int n = std::max(2, (side + kDraftSide - 1) / kDraftSide);
  return std::min(n * downsample, 64);
}

// A control's value at the current time in the page's terms, its range, choices and keyframes.
void DescribeValue(const ControlInfo& info, const vhost::Control& c, double x, double frame_seconds,
                   json* out) {
  json& j = *out;
  const vhost::ControlKind& kind = vhost::KindOf(info.kind);
  switch (kind.form) {
    case vhost::ValueForm::kNone:
      j["value"] = nullptr;
      break;
    case vhost::ValueForm::kOnOff:
      j["value"] = x != 0;
      break;
    case vhost::ValueForm::kItem:
      j["value"] = static_cast<int>(std::lround(x));
      break;
    case vhost::ValueForm::kPoint:
      j["value"] = {x, c.value2};
      break;
    default:
      j["value"] = x;
  }
  j["min"] = info.limited ? json(info.valid_min) : json(nullptr);
  j["max"] = info.limited ? json(info.valid_max) : json(nullptr);
  if (kind.has_slider) {
    j["slider_min"] = info.slider_min;
    j["slider_max"] = info.slider_max;
  }
  j["precision"] = info.precision;
  j["percent"] = info.percent;
  j["unit"] = info.percent ? "%" : kind.unit ? kind.unit : "";
  j["settable"] = info.cannot_set.empty();
  j["animatable"] = info.cannot_set.empty() && info.animatable &&
                    kind.form != vhost::ValueForm::kPoint && kind.form != vhost::ValueForm::kNone;
  if (kind.form == vhost::ValueForm::kItem) {
    json choices = json::array();
    json values = json::array();
    for (size_t i = 0; i < info.choices.size(); ++i) {
      if (info.choices[i].rfind("(-", 0) == 0) continue;
      choices.push_back(info.choices[i]);
      values.push_back(static_cast<int>(i) + 1);
    }
    j["choices"] = choices;
    j["choice_values"] = values;
  }
  j["animated"] = !c.keys.empty();
  json keys = json::array();
  for (const vhost::Keyframe& k : c.keys)
    keys.push_back(static_cast<int>(std::lround(k.time / frame_seconds)));
  j["keyframes"] = keys;
}

}  // namespace

PreviewSession::PreviewSession(std::string plugin, vpipe::RenderRequest request,
                               std::optional<std::string> project_path, Notify notify)
    : plugin_(std::move(plugin)),
      project_path_(std::move(project_path)),
      notify_(std::move(notify)) {
  output_given_ = !request.output.empty();
  // The settings need an output to be complete; without one, Render is refused and the saved
  // project names none.
  if (!output_given_)
    request.output = (std::filesystem::temp_directory_path() / "varnex-preview-####.png").string();
  settings_ = ResolveRenderSettings(request);
  layers_ = OpenLayers(&settings_);
  if (!output_given_) settings_.given.erase("output");
  session_ = StartRenderSession(plugin_, settings_.controls, settings_.fps, layers_.map != nullptr);
  RefreshLabels(&session_);
  frame_ = settings_.first_frame;
  const vmedia::Source& input = layers_.input->source();
  draft_downsample_ = DraftDivisor(input.width(), input.height(), settings_.downsample);
  layers_.input->ReadAhead(settings_.first_frame, settings_.last_frame);
  if (layers_.map) layers_.map->ReadAhead(settings_.first_frame, settings_.last_frame);
}

PreviewSession::~PreviewSession() {
  std::lock_guard<std::mutex> lock(render_mutex_);
  if (render_thread_.joinable()) render_thread_.join();
}

double PreviewSession::CurrentSeconds() const {
  return FrameSeconds(frame_, settings_.fps);
}

json PreviewSession::State() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return StateLocked();
}

json PreviewSession::StateLocked() const {
  const vhost::Host& host = *session_.host;
  const double seconds = CurrentSeconds();
  const double frame_seconds = FrameSeconds(1, settings_.fps);
  json controls = json::array();
  std::vector<int> groups;  // the open groups, innermost last
  std::lock_guard<std::mutex> host_lock(host.mutex());
  const vhost::ControlStore& store = host.controls();
  for (const ControlInfo& info : session_.controls) {
    const vhost::Control& c = store.at(info.index);
    json j;
    j["index"] = info.index;
    j["identifier"] = info.identifier;
    j["kind"] = KindName(info.kind);
    j["name"] = info.label;
    j["visible"] = info.shown;
    j["enabled"] = !(c.ui_flags & PF_PUI_DISABLED);
    if (info.kind == PF_Param_GROUP_END && !groups.empty()) {
      j["group"] = groups.back();
      groups.pop_back();
    } else {
      j["group"] = groups.empty() ? json(nullptr) : json(groups.back());
    }
    if (info.kind == PF_Param_GROUP_START) {
      j["open"] = !(c.def.flags & PF_ParamFlag_START_COLLAPSED);
      groups.push_back(info.index);
    }
    DescribeValue(info, c, store.ValueAt(info.index, seconds), frame_seconds, &j);
    controls.push_back(std::move(j));
  }
  json state;
  state["controls"] = std::move(controls);
  state["frame"] = frame_;
  state["first"] = settings_.first_frame;
  state["last"] = settings_.last_frame;
  state["fps"] = settings_.fps.value();
  const vmedia::Source& input = layers_.input->source();
  const PF_RationalScale scale{1, static_cast<A_u_long>(settings_.downsample)};
  state["width"] = vhost::ScaledSize(input.width(), scale);
  state["height"] = vhost::ScaledSize(input.height(), scale);
  state["draft_downsample"] = draft_downsample_;
  state["can_undo"] = history_.can_undo();
  state["can_redo"] = history_.can_redo();
  state["undo_name"] = history_.undo_name();
  state["redo_name"] = history_.redo_name();
  state["project"] = project_path_ ? json(*project_path_) : json(nullptr);
  state["output"] = output_given_ ? json(settings_.output) : json(nullptr);
  state["has_map"] = layers_.map != nullptr;
  state["input"] = settings_.input;
  state["map"] = settings_.map ? json(*settings_.map) : json(nullptr);
  state["seq"] = newest_seq_.load();
  state["rendering"] = rendering_.load();
  return state;
}

const ControlInfo& PreviewSession::Settable(const json& body) {
  const std::string name = NameOf(body, "control");
  const ControlInfo* info = nullptr;
  try {
    info = &FindControl(session_.controls, name);
  } catch (const InputError& e) {
    throw ApiError(400, e.what());
  }
  const vhost::Host& host = *session_.host;
  std::lock_guard<std::mutex> lock(host.mutex());
  const vhost::Control& c = host.controls().at(info->index);
  if (c.hidden) throw ApiError(400, Quoted(info->label) + " is hidden in the panel");
  if (c.ui_flags & PF_PUI_DISABLED) throw ApiError(400, Quoted(info->label) + " is greyed out");
  return *info;
}

json PreviewSession::SetControl(const json& body) {
  std::lock_guard<std::mutex> lock(mutex_);
  const ControlInfo& info = Settable(body);
  const ControlValue value = ParseValue(info, body);
  vhost::Host& host = *session_.host;
  std::vector<vhost::ControlState> before;
  bool supervised = false;
  {
    std::lock_guard<std::mutex> host_lock(host.mutex());
    vhost::ControlStore& store = host.controls();
    before = vhost::UndoHistory::Capture(store);
    vhost::Control& c = store.at(info.index);
    supervised = c.def.flags & PF_ParamFlag_SUPERVISE;
    if (c.keys.empty()) {
      store.SetValue(info.index, value.x);
      c.value2 = value.y;
    } else {
      // A keyed control takes the value as its key at the current frame.
      std::vector<vhost::Keyframe> keys = c.keys;
      const double t = CurrentSeconds();
      bool replaced = false;
      for (vhost::Keyframe& k : keys)
        if (std::fabs(k.time - t) < 1e-9) k.value = value.x, replaced = true;
      if (!replaced) keys.push_back({t, value.x});
      store.SetKeyframes(info.index, std::move(keys));
    }
  }
  // A supervised control tells the plug-in it changed, as the panel of an editor does.
  if (supervised) {
    PageCapture ignored;
    if (PF_Err err = host.UserChangedParam(info.index))
      throw RenderError("the plug-in failed the change of " + Quoted(info.label) + " with " +
                        DescribeError(err));
  }
  const std::string label = info.label;
  RefreshLabels(&session_);
  {
    std::lock_guard<std::mutex> host_lock(host.mutex());
    history_.Record("Set " + label, before, host.controls());
  }
  return StateLocked();
}

json PreviewSession::PressButton(const json& body) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string name = NameOf(body, "button");
  const std::string lower = vhost::Lower(vhost::Trim(name));
  const ControlInfo* button = nullptr;
  const ControlInfo* other = nullptr;
  for (const ControlInfo& c : session_.controls) {
    if (!Matches(c, lower)) continue;
    if (c.kind == PF_Param_BUTTON)
      button = &c;
    else if (!other)
      other = &c;
  }
  if (!button && other) throw ApiError(400, Quoted(name) + " is not a button");
  if (!button) throw ApiError(400, "unknown button " + Quoted(name));
  vhost::Host& host = *session_.host;
  std::vector<vhost::ControlState> before;
  size_t groups = 0;
  {
    std::lock_guard<std::mutex> host_lock(host.mutex());
    const vhost::Control& c = host.controls().at(button->index);
    if (c.hidden) throw ApiError(400, Quoted(button->label) + " is hidden in the panel");
    if (c.ui_flags & PF_PUI_DISABLED) throw ApiError(400, Quoted(button->label) + " is greyed out");
    before = vhost::UndoHistory::Capture(host.controls());
    groups = host.undo_history_locked().size();
  }
  std::optional<std::string> url;
  {
    PageCapture capture;
    if (PF_Err err = host.UserChangedParam(button->index))
      throw RenderError("the plug-in failed the press of " + Quoted(button->label) + " with " +
                        DescribeError(err));
    url = capture.url();
  }
  const std::string label = button->label;
  RefreshLabels(&session_);
  {
    std::lock_guard<std::mutex> host_lock(host.mutex());
    // The plug-in's own undo group names the step ("Reset Transform Controls").
    const auto& recorded = host.undo_history_locked();
    std::string step = label;
    if (recorded.size() > groups && !recorded.back().name.empty()) step = recorded.back().name;
    history_.Record(step, before, host.controls());
  }
  json state = StateLocked();
  if (url) state["open_url"] = *url;
  return state;
}

json PreviewSession::Undo() {
  return Step(&vhost::UndoHistory::Undo, "nothing to undo");
}

json PreviewSession::Redo() {
  return Step(&vhost::UndoHistory::Redo, "nothing to redo");
}

json PreviewSession::Step(bool (vhost::UndoHistory::*step)(vhost::ControlStore*),
                          const char* none) {
  std::lock_guard<std::mutex> lock(mutex_);
  vhost::Host& host = *session_.host;
  {
    std::lock_guard<std::mutex> host_lock(host.mutex());
    if (!(history_.*step)(&host.controls())) throw ApiError(400, none);
  }
  RefreshLabels(&session_);
  return StateLocked();
}

json PreviewSession::SetFrame(const json& body) {
  std::lock_guard<std::mutex> lock(mutex_);
  frame_ = FrameOf(body, settings_.first_frame, settings_.last_frame);
  return StateLocked();
}

json PreviewSession::ToggleKeyframe(const json& body) {
  std::lock_guard<std::mutex> lock(mutex_);
  const ControlInfo& info = Settable(body);
  const vhost::ValueForm form = vhost::KindOf(info.kind).form;
  if (!info.animatable || form == vhost::ValueForm::kPoint)
    throw ApiError(400, Quoted(info.label) + " cannot be animated");
  const int frame =
      body.contains("frame") ? FrameOf(body, settings_.first_frame, settings_.last_frame) : frame_;
  vhost::Host& host = *session_.host;
  {
    std::lock_guard<std::mutex> host_lock(host.mutex());
    vhost::ControlStore& store = host.controls();
    const auto before = vhost::UndoHistory::Capture(store);
    const double t = FrameSeconds(frame, settings_.fps);
    const double value = store.ValueAt(info.index, t);
    std::vector<vhost::Keyframe> keys = store.at(info.index).keys;
    const auto at = std::find_if(keys.begin(), keys.end(), [&](const vhost::Keyframe& k) {
      return std::fabs(k.time - t) < 1e-9;
    });
    const bool removing = at != keys.end();
    if (removing) {
      keys.erase(at);
      // The last key gone, the control keeps the value it had there.
      if (keys.empty()) store.SetValue(info.index, value);
    } else {
      keys.push_back({t, value});
    }
    if (!keys.empty()) store.SetKeyframes(info.index, std::move(keys));
    history_.Record((removing ? "Remove Keyframe of " : "Add Keyframe to ") + info.label, before,
                    store);
  }
  return StateLocked();
}

std::vector<ControlSetting> PreviewSession::ControlSettings() const {
  const vhost::Host& host = *session_.host;
  const double frame_seconds = FrameSeconds(1, settings_.fps);
  std::vector<ControlSetting> settings;
  std::lock_guard<std::mutex> lock(host.mutex());
  const vhost::ControlStore& store = host.controls();
  for (const ControlInfo& info : session_.controls) {
    if (!info.cannot_set.empty()) continue;
    const vhost::Control& c = store.at(info.index);
    const bool point = vhost::KindOf(info.kind).form == vhost::ValueForm::kPoint;
    ControlSetting setting;
    // The declared label names it, unless another settable control shares it.
    setting.name = info.name;
    for (const ControlInfo& other : session_.controls)
      if (&other != &info && other.cannot_set.empty() &&
          vhost::Lower(other.name) == vhost::Lower(info.name))
        setting.name = info.identifier;
    if (setting.name.empty()) setting.name = info.identifier;
    setting.origin = "preview";
    if (!c.keys.empty()) {
      for (const vhost::Keyframe& k : c.keys)
        setting.keys.emplace_back(std::round(k.time / frame_seconds), ValueText(info, k.value, 0));
    } else {
      if (c.value == info.default_x && (!point || c.value2 == info.default_y)) continue;
      setting.value = ValueText(info, c.value, c.value2);
    }
    settings.push_back(std::move(setting));
  }
  return settings;
}

vpipe::RenderRequest PreviewSession::RequestNow() const {
  vpipe::RenderRequest request = settings_;
  request.controls = ControlSettings();
  request.given["set"] = "preview";
  return request;
}

std::string PreviewSession::Save(const json& body) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string path = project_path_.value_or("preview.json");
  if (body.contains("path") && !body["path"].is_null()) {
    if (!body["path"].is_string() || body["path"].get<std::string>().empty())
      throw ApiError(400, "\"path\" must be the name of a project file");
    path = body["path"].get<std::string>();
  }
  if (std::filesystem::path(path).extension() != ".json")
    throw ApiError(400, "project " + Quoted(path) + ": a project file's name ends in .json");
  try {
    WriteJsonFile(path, vpipe::ProjectOf(RequestNow()));
  } catch (const RenderError& e) {
    throw ApiError(400, e.what());
  }
  project_path_ = path;
  return path;
}

namespace {

// A Render's progress as the page's events.
class RenderEvents : public vpipe::RenderObserver {
 public:
  explicit RenderEvents(const PreviewSession::Notify& notify) : notify_(notify) {}
  void FrameDone(int frame, int done, int total, double) override {
    notify_("progress", {{"done", done}, {"total", total}, {"frame", frame}});
  }

 private:
  const PreviewSession::Notify& notify_;
};

}  // namespace

void PreviewSession::StartRender() {
  std::lock_guard<std::mutex> render_lock(render_mutex_);
  if (!output_given_) throw ApiError(400, "no output: give -o OUTPUT or \"output\" in the project");
  if (rendering_.load()) throw ApiError(400, "a render is already running");
  // The session's request as it stands now; a report or project of the command that started
  // the preview is not written again by every Render.
  vpipe::RenderRequest request;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    request = RequestNow();
  }
  request.report.reset();
  request.save_project.reset();
  request.dry_run = false;
  request.quiet = true;
  if (render_thread_.joinable()) render_thread_.join();
  rendering_.store(true);
  render_thread_ = std::thread([this, request] {
    json end = {{"ok", false}, {"message", ""}};
    try {
      RenderEvents events(notify_);
      const vpipe::RenderResult result = vpipe::Render(plugin_, request, events);
      if (result.stopped) throw RenderError(*result.stopped);
      end["ok"] = result.all_done();
      end["message"] =
          result.all_done() ? "rendered " + settings_.output : "some frames failed to render";
    } catch (const std::exception& e) {
      end["message"] = e.what();
    }
    rendering_.store(false);
    notify_("rendered", end);
  });
}

PreviewPicture PreviewSession::Render(const PreviewRequest& request) {
  int frame;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    frame = frame_;
  }
  const auto start = std::chrono::steady_clock::now();
  vhost::Image image;
  if (request.view == View::kResult) {
    SequencePlan plan;
    plan.input = layers_.input.get();
    plan.map = layers_.map.get();
    plan.bpc = layers_.bpc;
    plan.fps = settings_.fps;
    plan.downsample = request.draft ? draft_downsample_ : settings_.downsample;
    image = RenderPlanFrame(*session_.host, plan, frame);
    ToOutputSpace(settings_, &image);
  } else {
    vmedia::TimelineLayer* layer =
        request.view == View::kInput ? layers_.input.get() : layers_.map.get();
    if (!layer) throw ApiError(400, "there is no map layer");
    const vhost::Timing timing = FrameTiming(frame, settings_.fps, 1);
    std::shared_ptr<const vhost::Image> picture = layer->At(timing.current_time, timing.time_scale);
    if (!picture) throw RenderError("frame " + std::to_string(frame) + ": no picture");
    image = *picture;
  }
  PreviewPicture out;
  out.ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  out.frame = frame;
  out.width = image.width;
  out.height = image.height;
  const vmedia::Encoding encoding =
      request.draft ? vmedia::Encoding::kJpeg : vmedia::Encoding::kPng;
  out.mime = vmedia::MimeType(encoding);
  out.bytes = vmedia::EncodeImage(image, encoding);
  return out;
}

}  // namespace vpreview
