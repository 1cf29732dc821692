// Building the host and sending commands: the records each command gets, the scope it runs in,
// and what the host keeps of its results.
#include "hostapp/callback.h"
#include "hostapp/suites.h"

namespace vhost {

namespace {

thread_local CommandScope* current_scope = nullptr;

}  // namespace

CommandScope* CommandScope::Current() {
  return current_scope;
}

CommandScope::Enter::Enter(CommandScope& scope) : outer_(current_scope) {
  current_scope = &scope;
}

CommandScope::Enter::~Enter() {
  current_scope = outer_;
}

// ---- Building ----

Host::Host(const std::string& module_path) : module_(module_path) {
  Init();
}

Host::Host(PF_EffectMainFunc linked_entry) : module_(linked_entry) {
  Init();
}

void Host::Init() {
  controls_.Reset();
  InstallBasicSuites(*this);
  InstallAegpSuites(*this);
  InstallParamUtilsSuite(*this);
}

Host::~Host() {
  if (global_setup_done_) {
    if (probe_) probe_->ClearFaults();
    GlobalSetdown();
  }
}

Probe& Host::probe() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!probe_) {
    probe_ = std::make_unique<Probe>(*this);
    watching_.store(probe_.get(), std::memory_order_release);
  }
  return *probe_;
}

// ---- Sending ----

PF_InData Host::MakeInData(const Timing& timing) {
  static PF_UtilCallbacks utils = {HostFill};
  PF_InData in{};
  InstallParamCallbacks(&in.inter);
  in.utils = &utils;
  in.effect_ref = reinterpret_cast<PF_ProgPtr>(this);
  in.version = 13;
  in.num_params = controls_.size();
  in.current_time = timing.current_time;
  in.time_step = timing.time_step;
  in.time_scale = timing.time_scale;
  in.downsample_x = timing.downsample_x;
  in.downsample_y = timing.downsample_y;
  in.global_data = out_data_.global_data;
  in.pica_basicP = BasicSuite();
  return in;
}

PF_Err Host::Send(PF_Cmd cmd, void* extra, const Timing* timing) {
  return SendJob(cmd, extra, timing ? *timing : timing_, nullptr);
}

PF_Err Host::SendJob(PF_Cmd cmd, void* extra, const Timing& timing, RenderState* render) {
  PF_InData in;
  PF_OutData out;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    in = MakeInData(timing);
    out = out_data_;
  }
  CommandScope scope;
  scope.host = this;
  scope.cmd = cmd;
  scope.render = render;
  PF_Err err = Run(cmd, in, out, extra, scope);
  // Renders run concurrently and have nothing to hand back through out_data.
  if (cmd != PF_Cmd_SMART_RENDER && cmd != PF_Cmd_SMART_PRE_RENDER) {
    std::lock_guard<std::mutex> lock(mutex_);
    out_data_ = out;
  }
  return err;
}

PF_Err Host::Run(PF_Cmd cmd, PF_InData& in, PF_OutData& out, void* extra, CommandScope& scope) {
  std::vector<PF_ParamDef> records;
  std::vector<PF_ParamDef*> pointers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const double seconds =
        in.time_scale ? static_cast<double>(in.current_time) / in.time_scale : 0.0;
    records.reserve(controls_.size());
    for (int i = 0; i < controls_.size(); ++i) records.push_back(controls_.RecordAt(i, seconds));
  }
  for (auto& r : records) pointers.push_back(&r);
  pointers.push_back(nullptr);

  std::optional<Probe::Trace> trace;
  if (Probe* probe = watching_.load(std::memory_order_acquire))
    scope.trace = &trace.emplace(*probe);
  PF_Err err;
  {
    CommandScope::Enter entered(scope);
    err = module_.entry()(cmd, &in, &out, pointers.data(), nullptr, extra);
  }
  if (trace) trace->End(scope);
  return err;
}

// ---- The commands ----

PF_Err Host::About(std::string* text) {
  PF_Err err = Send(PF_Cmd_ABOUT);
  if (text) {
    std::lock_guard<std::mutex> lock(mutex_);
    *text = out_data_.return_msg;
  }
  return err;
}

PF_Err Host::GlobalSetup() {
  PF_Err err = Send(PF_Cmd_GLOBAL_SETUP);
  global_setup_done_ = true;
  return err;
}

PF_Err Host::GlobalSetdown() {
  PF_Err err = Send(PF_Cmd_GLOBAL_SETDOWN);
  global_setup_done_ = false;
  return err;
}

PF_Err Host::ParamsSetup() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    controls_.Reset();
  }
  return Send(PF_Cmd_PARAMS_SETUP);
}

PF_Err Host::UpdateParamsUI() {
  return Send(PF_Cmd_UPDATE_PARAMS_UI);
}

PF_Err Host::UserChangedParam(int index) {
  PF_UserChangedParamExtra extra{index};
  return Send(PF_Cmd_USER_CHANGED_PARAM, &extra);
}

PF_Err Host::QueryDynamicFlags(const Timing& timing) {
  return Send(PF_Cmd_QUERY_DYNAMIC_FLAGS, nullptr, &timing);
}

}  // namespace vhost
