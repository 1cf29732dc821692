// Control names and values as a user writes them, and their application to the host's controls.
//
// A name is a control's label as the panel shows it ("Translate X", "Channel"), as declared, or
// its identifier (PARAM_TRANSLATE_X), in any case. A value is in the panel's units: percent
// sliders in percent (a trailing "%" is allowed), angles in degrees, checkboxes on/off,
// true/false, yes/no or 1/0, popups by item text or number, points as "X,Y" in percent.
#pragma once

#include <string>
#include <vector>

#include "pipeline/host_session.h"
#include "pipeline/request.h"
#include "pipeline/timing.h"

namespace vpipe {

// The control called `name`. Throws InputError for an unknown name (suggesting the nearest
// names) and for a control that cannot be set (saying why).
const ControlInfo& FindControl(const std::vector<ControlInfo>& controls, const std::string& name);

struct ControlValue {
  double x = 0;
  double y = 0;  // points only
};

// `text` as a value of `control`. Throws InputError for text that is not a value of the control's
// kind, a non-finite number, or a value outside the control's valid range (which it states).
ControlValue ParseControlValue(const ControlInfo& control, const std::string& text);

// Checks every setting and then applies them in order, later ones replacing earlier ones: a
// constant value, or keyframes at frame / fps seconds. Throws InputError, leaving the controls
// unchanged, when any setting is at fault.
void ApplyControlSettings(const std::vector<ControlInfo>& controls,
                          const std::vector<ControlSetting>& settings, const FrameRate& fps,
                          vhost::ControlStore* store);

// The plug-in started for a render, as a host applies the effect to a layer: the settings applied
// and the "Map Layer" pointing at the map layer when there is one. Throws InputError for a
// setting at fault, RenderError when the plug-in fails a step.
Session StartRenderSession(const std::string& plugin, const std::vector<ControlSetting>& settings,
                           const FrameRate& fps, bool has_map);

// Sends the panel update, as a host does after a change, and takes the labels and visibility it
// set into the session's controls. Throws RenderError when the plug-in fails it.
void RefreshLabels(Session* session);

}  // namespace vpipe
