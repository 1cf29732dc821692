#include "hostapp/probe.h"

#include <algorithm>
#include <cstring>

#include "hostapp/callback.h"

namespace vhost {

// ---- Buffers of a watched render ----

Image Probe::Output(int width, int height, int bpc) {
  Image output = Image::Make(width, height, bpc, 0, 0, kRowPadding);
  std::fill(output.storage.begin(), output.storage.end(), kUnwrittenByte);
  return output;
}

bool Probe::HasTightRows(const Image& layer) {
  return layer.rowbytes == static_cast<A_long>(layer.width) * layer.PixelBytes();
}

Image Probe::WithPaddedRows(const Image& layer) {
  Image padded = Image::Make(layer.width, layer.height, layer.bpc, layer.origin_x, layer.origin_y,
                             kRowPadding);
  const size_t bytes = static_cast<size_t>(layer.width) * layer.PixelBytes();
  for (int y = 0; y < layer.height; ++y) std::memcpy(padded.Row(y), layer.Row(y), bytes);
  return padded;
}

// ---- Fault injection ----

void Probe::FailCall(const std::string& function, int nth, PF_Err code) {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_.push_back({function, nth, code, false});
}

void Probe::FailCallAfterRunning(const std::string& function, int nth, PF_Err code) {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_.push_back({function, nth, code, true});
}

void Probe::RefuseSuite(const std::string& name, int version) {
  std::lock_guard<std::mutex> lock(mutex_);
  refused_.emplace_back(name, version);
}

void Probe::DamageLayer(A_long checkout_id, Damage damage) {
  std::lock_guard<std::mutex> lock(mutex_);
  damage_[checkout_id] = std::move(damage);
}

void Probe::ClearFaults() {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_.clear();
  refused_.clear();
  damage_.clear();
}

PF_Err Probe::TakeFault(const char* function, bool* late) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (it->function != function || --it->remaining != 0) continue;
    const PF_Err code = it->code;
    *late = it->late;
    faults_.erase(it);
    return code;
  }
  return PF_Err_NONE;
}

// ---- Records ----

std::vector<std::string> Probe::leaks() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return leaks_;
}

void Probe::clear_leaks() {
  std::lock_guard<std::mutex> lock(mutex_);
  leaks_.clear();
}

std::vector<CallRecord> Probe::last_calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return last_calls_;
}

std::vector<CallRecord> Probe::CallsOfRunningCommand() {
  const CommandScope* scope = CommandScope::Current();
  return scope && scope->trace ? scope->trace->calls() : std::vector<CallRecord>{};
}

std::vector<UndoGroup> Probe::undo_history() const {
  std::lock_guard<std::mutex> lock(host_.mutex_);
  return host_.undo_;
}

// ---- One command ----

PF_Err Probe::Trace::Enter(const HostFunction& function) {
  if (!function.name) return PF_Err_NONE;
  const std::string suite =
      function.suite ? std::string(function.suite) + " " + std::to_string(function.version) : "";
  calls_.push_back({function.name, suite, function.at});
  if (function.in_table) {
    auto held = suites_held_.find({function.suite, function.version});
    if (held == suites_held_.end() || held->second <= 0)
      misuses_.push_back(std::string(function.name) + " called through " + suite +
                         ", which the command does not hold");
  }
  bool late = false;
  const PF_Err code = probe_.TakeFault(function.name, &late);
  if (!code || !(late || function.release)) return code;
  late_fault_ = code;
  return PF_Err_NONE;
}

PF_Err Probe::Trace::TakeLateFault() {
  const PF_Err code = late_fault_;
  late_fault_ = PF_Err_NONE;
  return code;
}

bool Probe::Trace::Refuses(const char* suite, int32_t version) const {
  std::lock_guard<std::mutex> lock(probe_.mutex_);
  for (const auto& [name, refused_version] : probe_.refused_)
    if (name == suite && (refused_version < 0 || refused_version == version)) return true;
  return false;
}

void Probe::Trace::DamageLayer(A_long checkout_id, PF_EffectWorld& world) const {
  std::lock_guard<std::mutex> lock(probe_.mutex_);
  auto it = probe_.damage_.find(checkout_id);
  if (it != probe_.damage_.end()) it->second(world);
}

void Probe::Trace::Acquired(const char* suite, int32_t version) {
  suites_held_[{suite, version}]++;
}

bool Probe::Trace::Released(const char* suite, int32_t version, PF_Cmd cmd) {
  auto it = suites_held_.find({suite, version});
  if (it != suites_held_.end() && it->second > 0) {
    it->second--;
    return true;
  }
  std::lock_guard<std::mutex> lock(probe_.mutex_);
  probe_.leaks_.push_back(std::string(CommandName(cmd)) + ": released " + suite + " " +
                          std::to_string(version) + " without holding it");
  return false;
}

void Probe::Trace::CheckedIn(const PF_ParamDef* param) {
  // A record whose checkout failed or was skipped may be checked in too; it is not counted.
  auto it = checked_out_.find(param);
  if (it != checked_out_.end()) checked_out_.erase(it);
}

void Probe::Trace::End(const CommandScope& scope) {
  std::vector<std::string> found;
  const std::string cmd = CommandName(scope.cmd);
  for (const auto& [suite, count] : suites_held_) {
    if (count != 0)
      found.push_back(cmd + ": suite \"" + suite.first + "\" " + std::to_string(suite.second) +
                      " acquired " + std::to_string(count) + " more time(s) than released");
  }
  auto count = [&](size_t n, const char* what) {
    if (n != 0) found.push_back(cmd + ": " + std::to_string(n) + " " + what);
  };
  count(checked_out_.size(), "parameter checkout(s) not checked in");
  count(scope.effect_refs.size(), "effect reference(s) not disposed");
  count(scope.stream_refs.size(), "stream reference(s) not disposed");
  count(static_cast<size_t>(scope.open_undo_groups), "undo group(s) left open");
  for (const std::string& misuse : misuses_) found.push_back(cmd + ": " + misuse);
  std::lock_guard<std::mutex> lock(probe_.mutex_);
  probe_.leaks_.insert(probe_.leaks_.end(), found.begin(), found.end());
  probe_.last_calls_ = calls_;
}

}  // namespace vhost
