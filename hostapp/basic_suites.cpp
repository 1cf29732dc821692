// The basic suite (acquiring and releasing the others), the handle and ANSI suites, and the
// parameter callbacks of in_data->inter.
#include <cstdarg>
#include <cstdio>

#include "hostapp/callback.h"
#include "hostapp/suites.h"

namespace vhost {

namespace {

// Fills fresh handle blocks, so an effect that uses one without initialising it shows.
constexpr uint8_t kFreshHandleByte = 0xCD;

// ---- Basic suite ----

SPErr AcquireSuite(const char* name, int32_t version, const void** suite) {
  if (suite) *suite = nullptr;
  return Service<SPErr>({.name = "AcquireSuite", .suite = name, .version = version},
                        Within::kCommand, kSPSuiteNotFoundError, Given(name, suite),
                        [&](CommandScope& scope, Host& host) -> SPErr {
                          if (scope.trace && scope.trace->Refuses(name, version))
                            return kSPSuiteNotFoundError;
                          const void* table = host.FindSuite(name, version);
                          if (!table) return kSPSuiteNotFoundError;
                          *suite = table;
                          if (scope.trace) scope.trace->Acquired(name, version);
                          return kSPNoError;
                        });
}

// The effect does not look at this result; it is kept truthful all the same.
SPErr ReleaseSuite(const char* name, int32_t version) {
  return Service<SPErr>(
      {.name = "ReleaseSuite", .suite = name, .version = version, .release = true},
      Within::kCommand, kSPSuiteNotFoundError, Given(name),
      [&](CommandScope& scope, Host& host) -> SPErr {
        if (scope.trace)
          return scope.trace->Released(name, version, scope.cmd) ? kSPNoError
                                                                 : kSPSuiteNotFoundError;
        return host.FindSuite(name, version) ? kSPNoError : kSPSuiteNotFoundError;
      });
}

SPBasicSuite basic_suite = {AcquireSuite, ReleaseSuite};

// ---- Handle suite ----

PF_Handle HostNewHandle(A_HandleSize size) {
  return Service<PF_Handle>({.name = "host_new_handle"}, Within::kCommand, nullptr, true,
                            [&](CommandScope&, Host& host) { return host.NewHandle(size); });
}

void* HostLockHandle(PF_Handle h) {
  return Service<void*>({.name = "host_lock_handle"}, Within::kCommand, nullptr, true,
                        [&](CommandScope&, Host& host) { return host.LockHandle(h); });
}

void HostUnlockHandle(PF_Handle) {}

// Not shown to the probe (no name): a failed disposal could not be reported, and the block is
// freed either way.
void HostDisposeHandle(PF_Handle h) {
  Service<bool>({.name = nullptr}, Within::kCommand, false, true, [&](CommandScope&, Host& host) {
    host.DisposeHandle(h);
    return true;
  });
}

const PF_HandleSuite2 handle_suite = {HostNewHandle, HostLockHandle, HostUnlockHandle,
                                      HostDisposeHandle};

// ---- ANSI suite ----

A_long AnsiSprintf(A_char* buffer, const A_char* format, ...) {
  va_list args;
  va_start(args, format);
  const A_long n =
      Service<A_long>({.name = "sprintf"}, Within::kAnywhere, 0, true, [&](CommandScope&) {
        // The host's return-message field is the usual target;
        // never write past it.
        return std::vsnprintf(buffer, 256, format, args);
      });
  va_end(args);
  return n;
}

const PF_ANSICallbacksSuite1 ansi_suite = {AnsiSprintf};

// ---- Interaction callbacks ----

PF_Err AddParam(PF_ProgPtr, PF_ParamIndex, PF_ParamDefPtr def) {
  return Callback({.name = "add_param"}, Given(def), [&](CommandScope&, Host& host) {
    std::lock_guard<std::mutex> lock(host.mutex());
    host.controls().Add(*def);
    return PF_Err_NONE;
  });
}

PF_Err CheckoutParam(PF_ProgPtr, PF_ParamIndex index, A_long what_time, A_long time_step,
                     A_u_long time_scale, PF_ParamDef* param) {
  const CallTime at{index, what_time, time_step, time_scale};
  return Callback(
      {.name = "checkout_param", .at = at}, Given(param), [&](CommandScope& scope, Host& host) {
        std::lock_guard<std::mutex> lock(host.mutex());
        if (!host.controls().valid(index)) return PF_Err_INVALID_INDEX;
        const double seconds = time_scale ? static_cast<double>(what_time) / time_scale : 0.0;
        *param = host.controls().RecordAt(index, seconds);
        if (scope.trace) scope.trace->CheckedOut(param);
        return PF_Err_NONE;
      });
}

// A record whose checkout failed or was skipped may be checked in too, and is accepted.
PF_Err CheckinParam(PF_ProgPtr, PF_ParamDef* param) {
  return Callback({.name = "checkin_param", .release = true}, true, [&](CommandScope& scope) {
    if (scope.trace) scope.trace->CheckedIn(param);
    return PF_Err_NONE;
  });
}

}  // namespace

void InstallBasicSuites(Host& host) {
  host.RegisterSuite(kPFHandleSuite, 2, &handle_suite);
  host.RegisterSuite(kPFANSISuite, 1, &ansi_suite);
}

SPBasicSuite* BasicSuite() {
  return &basic_suite;
}

void InstallParamCallbacks(PF_InteractCallbacks* inter) {
  inter->checkout_param = CheckoutParam;
  inter->checkin_param = CheckinParam;
  inter->add_param = AddParam;
}

// ---- The host's side: registered suites and handles ----

void Host::RegisterSuite(const std::string& name, int version, const void* table) {
  for (Suite& suite : suites_) {
    if (suite.name == name && suite.version == version) {
      suite.table = table;
      return;
    }
  }
  suites_.push_back({name, version, table});
}

const void* Host::FindSuite(const char* name, int32_t version) const {
  for (const Suite& suite : suites_)
    if (suite.version == version && suite.name == name) return suite.table;
  return nullptr;
}

PF_Handle Host::NewHandle(A_HandleSize size) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto block = std::make_unique<std::vector<uint8_t>>(size ? size : 1, kFreshHandleByte);
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

}  // namespace vhost
