// The control suites: effect and stream references, stream values and flags, keyframe counts,
// undo groups and the panel updates of PF_UpdateParamUI.
//
// References are small host objects. Each is tracked in the scope of the command that handed it
// out, so a reference from elsewhere (or disposed twice) is refused, and a probe reports one not
// disposed within its command.
#include <cstring>
#include <mutex>

#include "hostapp/suites.h"

namespace vhost {

namespace {

struct EffectRef {
  Host* host;
};

struct StreamRef {
  int index;
};

bool Known(const std::set<void*>& refs, const void* ref) {
  return refs.count(const_cast<void*>(ref)) != 0;
}

// A stream of this scope, or null.
StreamRef* FindStream(CommandScope& scope, AEGP_StreamRefH handle) {
  return Known(scope.stream_refs, handle) ? reinterpret_cast<StreamRef*>(handle) : nullptr;
}

// Adds a value write to the open undo group, or records it as an undo step of its own.
void RecordWrite(Host& host, CommandScope& scope, int index, double value) {
  auto& history = host.undo_history_locked();
  if (scope.open_undo_groups > 0 && !history.empty() && !history.back().closed) {
    history.back().writes.emplace_back(index, value);
    return;
  }
  host.RecordUndo({"Set Value", {{index, value}}, true});
}

// A function of a suite's table, as the probe sees it: the command must hold that suite.
constexpr HostFunction InTable(const char* name, const char* suite, int32_t version,
                               bool release = false) {
  return {.name = name, .suite = suite, .version = version, .release = release, .in_table = true};
}

// ---- AEGP PF Interface Suite 1 ----

PF_Err GetNewEffectForEffect(AEGP_PluginID, PF_ProgPtr effect_ref, AEGP_EffectRefH* effectPH) {
  return Callback(InTable("AEGP_GetNewEffectForEffect", kAEGPPFInterfaceSuite, 1), Given(effectPH),
                  [&](CommandScope& scope, Host& host) -> PF_Err {
                    *effectPH = nullptr;
                    // The host's effect reference for its one instance is the host itself.
                    if (effect_ref != reinterpret_cast<PF_ProgPtr>(&host))
                      return PF_Err_BAD_CALLBACK_PARAM;
                    auto* ref = new EffectRef{&host};
                    scope.effect_refs.insert(ref);
                    *effectPH = reinterpret_cast<AEGP_EffectRefH>(ref);
                    return PF_Err_NONE;
                  });
}

const AEGP_PFInterfaceSuite1 pf_interface_suite1 = {GetNewEffectForEffect};

// ---- AEGP Effect Suite 2 and 3 ----

template <int32_t kVersion>
PF_Err DisposeEffect(AEGP_EffectRefH effectH) {
  return Callback(InTable("AEGP_DisposeEffect", kAEGPEffectSuite, kVersion, true), true,
                  [&](CommandScope& scope, Host&) -> PF_Err {
                    if (!Known(scope.effect_refs, effectH)) return PF_Err_BAD_CALLBACK_PARAM;
                    scope.effect_refs.erase(effectH);
                    delete reinterpret_cast<EffectRef*>(effectH);
                    return PF_Err_NONE;
                  });
}

// Each version is its own table, so that the probe sees which one a call came through.
const AEGP_EffectSuite2 effect_suite2 = {DisposeEffect<2>};
const AEGP_EffectSuite2 effect_suite3 = {DisposeEffect<3>};

// ---- AEGP Stream Suite 7 and 9 ----

template <int32_t kVersion>
PF_Err GetNewEffectStreamByIndex(AEGP_PluginID, AEGP_EffectRefH effectH, PF_ParamIndex index,
                                 AEGP_StreamRefH* streamPH) {
  return Callback(InTable("AEGP_GetNewEffectStreamByIndex", kAEGPStreamSuite, kVersion),
                  Given(streamPH), [&](CommandScope& scope, Host& host) -> PF_Err {
                    *streamPH = nullptr;
                    if (!Known(scope.effect_refs, effectH)) return PF_Err_BAD_CALLBACK_PARAM;
                    {
                      std::lock_guard<std::mutex> lock(host.mutex());
                      if (!host.controls().valid(index)) return PF_Err_INVALID_INDEX;
                    }
                    auto* ref = new StreamRef{index};
                    scope.stream_refs.insert(ref);
                    *streamPH = reinterpret_cast<AEGP_StreamRefH>(ref);
                    return PF_Err_NONE;
                  });
}

template <int32_t kVersion>
PF_Err SetStreamValue(AEGP_PluginID, AEGP_StreamRefH streamH, AEGP_StreamValue2* valueP) {
  return Callback(InTable("AEGP_SetStreamValue", kAEGPStreamSuite, kVersion), Given(valueP),
                  [&](CommandScope& scope, Host& host) -> PF_Err {
                    StreamRef* stream = FindStream(scope, streamH);
                    if (!stream) return PF_Err_BAD_CALLBACK_PARAM;
                    std::lock_guard<std::mutex> lock(host.mutex());
                    host.controls().SetValue(stream->index, valueP->val.one_d);
                    RecordWrite(host, scope, stream->index, valueP->val.one_d);
                    return PF_Err_NONE;
                  });
}

template <int32_t kVersion>
PF_Err DisposeStream(AEGP_StreamRefH streamH) {
  return Callback(InTable("AEGP_DisposeStream", kAEGPStreamSuite, kVersion, true), true,
                  [&](CommandScope& scope, Host&) -> PF_Err {
                    StreamRef* stream = FindStream(scope, streamH);
                    if (!stream) return PF_Err_BAD_CALLBACK_PARAM;
                    scope.stream_refs.erase(stream);
                    delete stream;
                    return PF_Err_NONE;
                  });
}

template <int32_t kVersion>
constexpr AEGP_StreamSuite7 kStreamSuite = {GetNewEffectStreamByIndex<kVersion>,
                                            SetStreamValue<kVersion>, DisposeStream<kVersion>};

// ---- AEGP Dynamic Stream Suite 2 ----

PF_Err SetDynamicStreamFlag(AEGP_StreamRefH streamH, AEGP_DynStreamFlags one_flag,
                            A_Boolean undoableB, A_Boolean setB) {
  return Callback(InTable("AEGP_SetDynamicStreamFlag", kAEGPDynamicStreamSuite, 2), true,
                  [&](CommandScope& scope, Host& host) -> PF_Err {
                    StreamRef* stream = FindStream(scope, streamH);
                    // Only the HIDDEN flag is kept by this host.
                    if (!stream || one_flag != AEGP_DynStreamFlag_HIDDEN)
                      return PF_Err_BAD_CALLBACK_PARAM;
                    std::lock_guard<std::mutex> lock(host.mutex());
                    host.controls().at(stream->index).hidden = setB != 0;
                    // An undoable change is a step of the user's undo history, which a panel
                    // refresh must not add.
                    if (undoableB)
                      host.RecordUndo({setB ? "Hide Control" : "Show Control", {}, true});
                    return PF_Err_NONE;
                  });
}

const AEGP_DynamicStreamSuite2 dynamic_stream_suite2 = {SetDynamicStreamFlag};

// ---- AEGP Keyframe Suite 4 ----

PF_Err GetStreamNumKFs(AEGP_StreamRefH streamH, A_long* num_kfsPL) {
  return Callback(InTable("AEGP_GetStreamNumKFs", kAEGPKeyframeSuite, 4), Given(num_kfsPL),
                  [&](CommandScope& scope, Host& host) -> PF_Err {
                    StreamRef* stream = FindStream(scope, streamH);
                    if (!stream) return PF_Err_BAD_CALLBACK_PARAM;
                    std::lock_guard<std::mutex> lock(host.mutex());
                    *num_kfsPL = host.controls().NumKeyframes(stream->index);
                    return PF_Err_NONE;
                  });
}

const AEGP_KeyframeSuite4 keyframe_suite4 = {GetStreamNumKFs};

// ---- AEGP Utility Suite 7 ----

// Groups nest as in an editor's undo: writes inside an inner group belong to the outermost one,
// which becomes one step when it closes.
PF_Err StartUndoGroup(const A_char* undo_name) {
  return Callback(InTable("AEGP_StartUndoGroup", kAEGPUtilitySuite, 7), Given(undo_name),
                  [&](CommandScope& scope, Host& host) -> PF_Err {
                    std::lock_guard<std::mutex> lock(host.mutex());
                    if (scope.open_undo_groups++ == 0) host.RecordUndo({undo_name, {}, false});
                    return PF_Err_NONE;
                  });
}

PF_Err EndUndoGroup() {
  return Callback(InTable("AEGP_EndUndoGroup", kAEGPUtilitySuite, 7, true), true,
                  [&](CommandScope& scope, Host& host) -> PF_Err {
                    if (scope.open_undo_groups == 0) return PF_Err_BAD_CALLBACK_PARAM;
                    std::lock_guard<std::mutex> lock(host.mutex());
                    auto& history = host.undo_history_locked();
                    if (--scope.open_undo_groups == 0 && !history.empty())
                      history.back().closed = true;
                    return PF_Err_NONE;
                  });
}

const AEGP_UtilitySuite7 utility_suite7 = {StartUndoGroup, EndUndoGroup};

// ---- PF Param Utils Suite 3 ----

// Takes the panel state of a record: its label and its greyed-out flag. The control keeps its
// declared record and value.
PF_Err UpdateParamUI(PF_ProgPtr effect_ref, PF_ParamIndex param_index, const PF_ParamDef* defP) {
  return Callback(InTable("PF_UpdateParamUI", kPFParamUtilsSuite, 3), Given(defP),
                  [&](CommandScope&, Host& host) -> PF_Err {
                    if (effect_ref != reinterpret_cast<PF_ProgPtr>(&host))
                      return PF_Err_BAD_CALLBACK_PARAM;
                    std::lock_guard<std::mutex> lock(host.mutex());
                    if (!host.controls().valid(param_index)) return PF_Err_INVALID_INDEX;
                    Control& control = host.controls().at(param_index);
                    if (defP->param_type != control.def.param_type)
                      return PF_Err_BAD_CALLBACK_PARAM;
                    control.ui_name.assign(defP->name, strnlen(defP->name, sizeof defP->name));
                    control.ui_flags = defP->ui_flags;
                    return PF_Err_NONE;
                  });
}

const PF_ParamUtilsSuite3 param_utils_suite3 = {UpdateParamUI};

}  // namespace

void InstallAegpSuites(Host& host) {
  host.RegisterSuite(kAEGPPFInterfaceSuite, 1, &pf_interface_suite1);
  host.RegisterSuite(kAEGPEffectSuite, 2, &effect_suite2);
  host.RegisterSuite(kAEGPEffectSuite, 3, &effect_suite3);
  host.RegisterSuite(kAEGPStreamSuite, 7, &kStreamSuite<7>);
  host.RegisterSuite(kAEGPStreamSuite, 9, &kStreamSuite<9>);
  host.RegisterSuite(kAEGPDynamicStreamSuite, 2, &dynamic_stream_suite2);
  host.RegisterSuite(kAEGPKeyframeSuite, 4, &keyframe_suite4);
  host.RegisterSuite(kAEGPUtilitySuite, 7, &utility_suite7);
}

void InstallParamUtilsSuite(Host& host) {
  host.RegisterSuite(kPFParamUtilsSuite, 3, &param_utils_suite3);
}

}  // namespace vhost
