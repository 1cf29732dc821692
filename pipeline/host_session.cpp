#include "pipeline/host_session.h"

#include <unistd.h>

#include <filesystem>

#include "hostapp/control_kinds.h"
#include "pipeline/errors.h"
#include "pipeline/param_names.h"

namespace vpipe {

namespace {

// Fills ranges, defaults and choices from the declared record.
void DescribeValues(const vhost::Control& control, ControlInfo* info) {
  const vhost::ControlKind& kind = vhost::KindOf(control.def.param_type);
  const vhost::PanelRange range = kind.range(control.def);
  info->limited = range.limited;
  info->valid_min = range.valid_min;
  info->valid_max = range.valid_max;
  info->slider_min = range.slider_min;
  info->slider_max = range.slider_max;
  info->percent = range.percent;
  info->precision = range.precision;
  info->default_x = range.dephault.x;
  info->default_y = range.dephault.y;
  if (kind.form != vhost::ValueForm::kItem) return;
  size_t start = 0;
  while (start <= control.text.size()) {
    size_t end = control.text.find('|', start);
    if (end == std::string::npos) end = control.text.size();
    info->choices.push_back(control.text.substr(start, end - start));
    start = end + 1;
  }
}

std::string CannotSetReason(const PF_ParamDef& def) {
  const vhost::ControlKind& kind = vhost::KindOf(def.param_type);
  if (kind.cannot_set) return kind.cannot_set;
  // The popups declared greyed out show the GPU driver; they hold no setting.
  if (kind.form == vhost::ValueForm::kItem && (def.ui_flags & PF_PUI_DISABLED))
    return "only shows the GPU driver";
  return {};
}

}  // namespace

std::string DescribeError(PF_Err err) {
  std::string name = vhost::ErrorName(err);
  if (name.rfind("error ", 0) == 0) return std::to_string(err);
  return std::to_string(err) + " (" + name + ")";
}

std::string RunningProgram() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) throw InputError("cannot find the running program's own file: " + ec.message());
  return exe.string();
}

std::string FindPlugin(const std::optional<std::string>& override_path) {
  std::string path;
  if (override_path) {
    path = *override_path;
  } else {
    const std::filesystem::path exe = RunningProgram();
    path = (exe.parent_path() / ".." / "lib" / "varnex-effect.so").lexically_normal().string();
  }
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec))
    throw InputError("plug-in \"" + path + "\": no such file (give it with --plugin)");
  return path;
}

std::unique_ptr<vhost::Host> LoadPlugin(const std::string& path) {
  try {
    return std::make_unique<vhost::Host>(path);
  } catch (const vhost::ModuleLoadError& e) {
    throw InputError(e.what());
  }
}

Session StartSession(const std::string& plugin) {
  Session session;
  session.host = LoadPlugin(plugin);
  vhost::Host& host = *session.host;
  if (PF_Err err = host.GlobalSetup())
    throw RenderError("the plug-in's global setup failed with " + DescribeError(err));
  if (PF_Err err = host.ParamsSetup())
    throw RenderError("the plug-in's control setup failed with " + DescribeError(err));

  vhost::ControlStore& store = host.controls();
  if (store.size() != static_cast<int>(kParamNames.size()))
    throw RenderError("the plug-in declared " + std::to_string(store.size() - 1) +
                      " controls; this varnex knows " + std::to_string(kParamNames.size() - 1));
  // Names and greyed-out state as declared, before the panel update renames or greys any.
  for (int i = 1; i < store.size(); ++i) {
    const vhost::Control& control = store.at(i);
    ControlInfo info;
    info.index = i;
    info.id = control.def.uu.id;
    info.identifier = kParamNames[i];
    info.kind = control.def.param_type;
    info.name = vhost::ControlLabel(control);
    info.animatable = !(control.def.flags & PF_ParamFlag_CANNOT_TIME_VARY);
    info.cannot_set = CannotSetReason(control.def);
    DescribeValues(control, &info);
    session.controls.push_back(std::move(info));
  }

  if (PF_Err err = host.UpdateParamsUI())
    throw RenderError("the plug-in's panel update failed with " + DescribeError(err));
  for (ControlInfo& info : session.controls) {
    const vhost::Control& control = store.at(info.index);
    info.label = control.ui_name.empty() ? vhost::ControlLabel(control) : control.ui_name;
    info.shown = !control.hidden;
  }
  return session;
}

}  // namespace vpipe
