#include "hostapp/host.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "hostapp/suites.h"

namespace vhost {

namespace {

thread_local CommandScope* tls_scope = nullptr;

Host* CurrentHost() {
  return tls_scope ? tls_scope->host : nullptr;
}

// A failing release still releases: the reference is gone either way, and the effect has no way
// to try again. These calls do their work and then report the injected code.
bool IsReleaseCall(const std::string& function) {
  return function == "checkin_param" || function == "ReleaseSuite" ||
         function == "AEGP_DisposeStream" || function == "AEGP_DisposeEffect" ||
         function == "AEGP_EndUndoGroup";
}

// ---- Basic suite ----

SPErr AcquireSuite(const char* name, int32_t version, const void** suite) {
  Host* host = CurrentHost();
  if (suite) *suite = nullptr;
  if (!host || !name || !suite) return kSPSuiteNotFoundError;
  return host->AcquireSuiteFor(name, version, suite);
}

SPErr ReleaseSuite(const char* name, int32_t version) {
  Host* host = CurrentHost();
  if (!host || !name) return kSPSuiteNotFoundError;
  return host->ReleaseSuiteFor(name, version);
}

SPBasicSuite basic_suite = {AcquireSuite, ReleaseSuite};

// ---- Handle suite ----

PF_Handle HostNewHandle(A_HandleSize size) {
  Host* host = CurrentHost();
  if (!host || host->Enter("host_new_handle")) return nullptr;
  return host->NewHandle(size);
}

void* HostLockHandle(PF_Handle h) {
  Host* host = CurrentHost();
  if (!host || host->Enter("host_lock_handle")) return nullptr;
  return host->LockHandle(h);
}

void HostUnlockHandle(PF_Handle) {}

void HostDisposeHandle(PF_Handle h) {
  if (Host* host = CurrentHost()) host->DisposeHandle(h);
}

const PF_HandleSuite2 handle_suite = {HostNewHandle, HostLockHandle, HostUnlockHandle,
                                      HostDisposeHandle};

// ---- ANSI suite ----

A_long AnsiSprintf(A_char* buffer, const A_char* format, ...) {
  Host* host = CurrentHost();
  if (host && host->Enter("sprintf")) return 0;
  va_list args;
  va_start(args, format);
  // The host's return-message field is the usual target; never write past it.
  int n = std::vsnprintf(buffer, 256, format, args);
  va_end(args);
  return n;
}

const PF_ANSICallbacksSuite1 ansi_suite = {AnsiSprintf};

// ---- Interaction callbacks ----

PF_Err AddParam(PF_ProgPtr, PF_ParamIndex, PF_ParamDefPtr def) {
  Host* host = CurrentHost();
  if (!host) return PF_Err_INTERNAL_STRUCT_DAMAGED;
  if (PF_Err err = host->Enter("add_param")) return err;
  if (!def) return PF_Err_BAD_CALLBACK_PARAM;
  std::lock_guard<std::mutex> lock(host->mutex());
  host->controls().Add(*def);
  return PF_Err_NONE;
}

PF_Err CheckoutParam(PF_ProgPtr, PF_ParamIndex index, A_long what_time, A_long, A_u_long time_scale,
                     PF_ParamDef* param) {
  Host* host = CurrentHost();
  if (!host) return PF_Err_INTERNAL_STRUCT_DAMAGED;
  if (PF_Err err = host->Enter("checkout_param")) return err;
  if (!param) return PF_Err_BAD_CALLBACK_PARAM;
  std::lock_guard<std::mutex> lock(host->mutex());
  if (!host->controls().valid(index)) return PF_Err_INVALID_INDEX;
  const double seconds = time_scale ? static_cast<double>(what_time) / time_scale : 0.0;
  *param = host->controls().RecordAt(index, seconds);
  tls_scope->checked_out.insert(param);
  return PF_Err_NONE;
}

PF_Err CheckinParam(PF_ProgPtr, PF_ParamDef* param) {
  Host* host = CurrentHost();
  if (!host) return PF_Err_INTERNAL_STRUCT_DAMAGED;
  host->Enter("checkin_param");
  // A record whose checkout failed or was skipped may be checked in too; it is accepted without
  // being counted.
  auto it = tls_scope->checked_out.find(param);
  if (it != tls_scope->checked_out.end()) tls_scope->checked_out.erase(it);
  return host->TakeLateFault();
}

}  // namespace

// ---- Image ----

Image Image::Make(int width, int height, int bpc, int origin_x, int origin_y) {
  Image img;
  img.width = width;
  img.height = height;
  img.bpc = bpc;
  img.origin_x = origin_x;
  img.origin_y = origin_y;
  // Pad every row by three pixels and a few odd bytes' worth, rounded to the pixel size, so that
  // no consumer can get away with assuming tightly packed rows.
  img.rowbytes = static_cast<A_long>((static_cast<size_t>(width) + 3) * img.PixelBytes());
  img.storage.assign(static_cast<size_t>(img.rowbytes) * static_cast<size_t>(height), 0);
  return img;
}

float Image::Get(int x, int y, int c) const {
  const uint8_t* p = Row(y) + static_cast<size_t>(x) * PixelBytes();
  if (bpc == 32) {
    float v;
    std::memcpy(&v, p + c * 4, 4);
    return v;
  }
  return p[c] / 255.0f;
}

void Image::Set(int x, int y, int c, float v) {
  uint8_t* p = Row(y) + static_cast<size_t>(x) * PixelBytes();
  if (bpc == 32) {
    std::memcpy(p + c * 4, &v, 4);
  } else {
    // NaN fails both comparisons and becomes 0: converting it to an integer is undefined.
    float clamped = v > 0 ? (v < 1 ? v : 1) : 0;
    p[c] = static_cast<uint8_t>(clamped * 255.0f + 0.5f);
  }
}

PF_LayerDef Image::View() {
  PF_LayerDef def{};
  def.data = storage.empty() ? nullptr : storage.data();
  def.rowbytes = rowbytes;
  def.width = width;
  def.height = height;
  def.extent_hint = {0, 0, width, height};
  def.origin_x = origin_x;
  def.origin_y = origin_y;
  return def;
}

// ---- Host ----

CommandScope* Host::CurrentScope() {
  return tls_scope;
}

Host::Host(const std::string& module_path) : module_(module_path) { Init(); }

Host::Host(PF_EffectMainFunc linked_entry) : module_(linked_entry) { Init(); }

void Host::Init() {
  controls_.Reset();
  RegisterSuite(kPFHandleSuite, 2, &handle_suite);
  RegisterSuite(kPFANSISuite, 1, &ansi_suite);
  InstallAegpSuites(*this);
  InstallParamUtilsSuite(*this);
}

Host::~Host() {
  if (global_setup_done_) {
    ClearFaults();
    GlobalSetdown();
  }
}

void Host::RegisterSuite(const std::string& name, int version, const void* table) {
  std::lock_guard<std::mutex> lock(mutex_);
  suites_[{name, version}] = table;
}

SPErr Host::AcquireSuiteFor(const char* name, int32_t version, const void** suite) {
  const std::string detail = std::string(name) + " " + std::to_string(version);
  if (Enter("AcquireSuite", detail)) return kSPSuiteNotFoundError;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [refused_name, refused_version] : refused_) {
    if (refused_name == name && (refused_version < 0 || refused_version == version))
      return kSPSuiteNotFoundError;
  }
  auto it = suites_.find({name, version});
  if (it == suites_.end()) return kSPSuiteNotFoundError;
  *suite = it->second;
  tls_scope->suites_held[{name, version}]++;
  return kSPNoError;
}

SPErr Host::ReleaseSuiteFor(const char* name, int32_t version) {
  Enter("ReleaseSuite", std::string(name) + " " + std::to_string(version));
  TakeLateFault();  // the effect does not look at this result
  auto it = tls_scope->suites_held.find({name, version});
  if (it == tls_scope->suites_held.end() || it->second <= 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    leaks_.push_back(std::string(CommandName(tls_scope->cmd)) + ": released " + name + " " +
                     std::to_string(version) + " without holding it");
    return kSPSuiteNotFoundError;
  }
  it->second--;
  return kSPNoError;
}

PF_Err Host::Enter(const char* function, const std::string& detail) {
  if (tls_scope) tls_scope->calls.push_back({function, detail});
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (it->function != function) continue;
    if (--it->remaining == 0) {
      PF_Err code = it->code;
      bool late = it->late || IsReleaseCall(function);
      faults_.erase(it);
      if (!late) return code;
      if (tls_scope) tls_scope->late_fault = code;
      return PF_Err_NONE;
    }
  }
  return PF_Err_NONE;
}

void Host::FailCall(const std::string& function, int nth, PF_Err code) {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_.push_back({function, nth, code});
}

void Host::FailCallAfterRunning(const std::string& function, int nth, PF_Err code) {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_.push_back({function, nth, code, true});
}

PF_Err Host::TakeLateFault() {
  if (!tls_scope) return PF_Err_NONE;
  PF_Err code = tls_scope->late_fault;
  tls_scope->late_fault = PF_Err_NONE;
  return code;
}

void Host::RefuseSuite(const std::string& name, int version) {
  std::lock_guard<std::mutex> lock(mutex_);
  refused_.emplace_back(name, version);
}

void Host::ClearFaults() {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_.clear();
  refused_.clear();
}

std::vector<std::string> Host::leaks() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return leaks_;
}

void Host::clear_leaks() {
  std::lock_guard<std::mutex> lock(mutex_);
  leaks_.clear();
}

std::vector<CallRecord> Host::last_calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return last_calls_;
}

std::vector<UndoGroup> Host::undo_history() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return undo_;
}

PF_Handle Host::NewHandle(A_HandleSize size) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto block = std::make_unique<std::vector<uint8_t>>(size ? size : 1, 0xCD);
  auto master = std::make_unique<void*>(block->data());
  PF_Handle h = master.get();
  handles_.push_back(std::move(block));
  handle_masters_.push_back(std::move(master));
  return h;
}

void* Host::LockHandle(PF_Handle h) {
  return h ? *h : nullptr;
}

void Host::DisposeHandle(PF_Handle h) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t i = 0; i < handle_masters_.size(); ++i) {
    if (handle_masters_[i].get() == h) {
      handle_masters_.erase(handle_masters_.begin() + static_cast<long>(i));
      handles_.erase(handles_.begin() + static_cast<long>(i));
      return;
    }
  }
}

void* Host::global_block() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return out_data_.global_data ? *out_data_.global_data : nullptr;
}

PF_InData Host::MakeInData(const Timing& timing) {
  static PF_UtilCallbacks utils = {HostFill};
  PF_InData in{};
  in.inter.checkout_param = CheckoutParam;
  in.inter.checkin_param = CheckinParam;
  in.inter.add_param = AddParam;
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
  in.pica_basicP = &basic_suite;
  return in;
}

PF_Err Host::Send(PF_Cmd cmd, void* extra, const Timing* timing) {
  return SendJob(cmd, extra, timing ? *timing : timing_, nullptr, nullptr);
}

PF_Err Host::SendJob(PF_Cmd cmd, void* extra, const Timing& timing, const RenderJob* job,
                     RenderResult* result) {
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
  scope.job = job;
  scope.result = result;
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

  CommandScope* outer = tls_scope;
  tls_scope = &scope;
  PF_Err err = module_.entry()(cmd, &in, &out, pointers.data(), nullptr, extra);
  tls_scope = outer;
  CheckScope(scope);
  return err;
}

void Host::CheckScope(const CommandScope& scope) {
  std::vector<std::string> found;
  const std::string cmd = CommandName(scope.cmd);
  for (const auto& [pair, count] : scope.suites_held) {
    if (count != 0)
      found.push_back(cmd + ": suite \"" + pair.first + "\" " + std::to_string(pair.second) +
                      " acquired " + std::to_string(count) + " more time(s) than released");
  }
  if (!scope.checked_out.empty())
    found.push_back(cmd + ": " + std::to_string(scope.checked_out.size()) +
                    " parameter checkout(s) not checked in");
  if (!scope.effect_refs.empty())
    found.push_back(cmd + ": " + std::to_string(scope.effect_refs.size()) +
                    " effect reference(s) not disposed");
  if (!scope.stream_refs.empty())
    found.push_back(cmd + ": " + std::to_string(scope.stream_refs.size()) +
                    " stream reference(s) not disposed");
  if (scope.open_undo_groups != 0)
    found.push_back(cmd + ": " + std::to_string(scope.open_undo_groups) +
                    " undo group(s) left open");
  std::lock_guard<std::mutex> lock(mutex_);
  leaks_.insert(leaks_.end(), found.begin(), found.end());
  last_calls_ = scope.calls;
}

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

void Host::RecordUndo(UndoGroup group) {
  undo_.push_back(std::move(group));
}

const char* CommandName(PF_Cmd cmd) {
  switch (cmd) {
    case PF_Cmd_ABOUT:
      return "PF_Cmd_ABOUT";
    case PF_Cmd_GLOBAL_SETUP:
      return "PF_Cmd_GLOBAL_SETUP";
    case PF_Cmd_GLOBAL_SETDOWN:
      return "PF_Cmd_GLOBAL_SETDOWN";
    case PF_Cmd_PARAMS_SETUP:
      return "PF_Cmd_PARAMS_SETUP";
    case PF_Cmd_USER_CHANGED_PARAM:
      return "PF_Cmd_USER_CHANGED_PARAM";
    case PF_Cmd_UPDATE_PARAMS_UI:
      return "PF_Cmd_UPDATE_PARAMS_UI";
    case PF_Cmd_QUERY_DYNAMIC_FLAGS:
      return "PF_Cmd_QUERY_DYNAMIC_FLAGS";
    case PF_Cmd_SMART_PRE_RENDER:
      return "PF_Cmd_SMART_PRE_RENDER";
    case PF_Cmd_SMART_RENDER:
      return "PF_Cmd_SMART_RENDER";
    default:
      return "PF_Cmd (other)";
  }
}

std::string ErrorName(PF_Err err) {
  switch (err) {
    case PF_Err_NONE:
      return "PF_Err_NONE";
    case PF_Err_OUT_OF_MEMORY:
      return "PF_Err_OUT_OF_MEMORY";
    case PF_Err_INTERNAL_STRUCT_DAMAGED:
      return "PF_Err_INTERNAL_STRUCT_DAMAGED";
    case PF_Err_INVALID_INDEX:
      return "PF_Err_INVALID_INDEX";
    case PF_Err_UNRECOGNIZED_PARAM_TYPE:
      return "PF_Err_UNRECOGNIZED_PARAM_TYPE";
    case PF_Err_INVALID_CALLBACK:
      return "PF_Err_INVALID_CALLBACK";
    case PF_Err_BAD_CALLBACK_PARAM:
      return "PF_Err_BAD_CALLBACK_PARAM";
    case PF_Interrupt_CANCEL:
      return "PF_Interrupt_CANCEL";
    default:
      return "error " + std::to_string(err);
  }
}

}  // namespace vhost
