// The test instruments of our host: a probe that tests install on a Host (Host::probe()) to log
// the calls the effect makes, to inject faults into them, and to check the effect's use of the
// protocol. A host without a probe logs nothing, builds no strings and takes no lock per call.
//
// A render under a probe also gets buffers that catch careless pixel code: layers and output with
// padded rows, and an output whose every byte holds kUnwrittenByte until the effect writes it. A
// host without a probe hands out tight rows and a zeroed output, and spends no pass on either.
//
// What is instrumentation and what is the host's own:
//  - The host keeps what its answers depend on: the effect and stream references of a command
//    (so a reference from elsewhere, or one disposed twice, is refused), the nesting of undo
//    groups (an unmatched end is refused) and the undo history itself, the registered suites
//    and the handles. These work the same with and without a probe.
//  - The probe keeps what only a test reads: the call log, the injected faults, the count of
//    suites held and of parameter checkouts not checked in, and the leak reports drawn from
//    those and from what the host's scope still holds when a command ends.
// A check-in of a record that was never checked out is accepted either way: the effect checks in
// records whose checkout failed, and the host must not turn that into an error.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "hostapp/image.h"
#include "pf_suites.h"

namespace vhost {

// What every byte of a watched render's output holds until the effect writes it, so a render
// that forgets to clear or write its output cannot pass unnoticed.
constexpr uint8_t kUnwrittenByte = 0xCD;

class Host;
struct CommandScope;
struct UndoGroup;

// What a checkout of a parameter or a layer asked for: which one, and at what time.
struct CallTime {
  int index = -1;  // the parameter index
  A_long time = 0;
  A_long time_step = 0;
  A_u_long time_scale = 0;
  bool operator==(const CallTime&) const = default;
};

// One host call made by the effect, for the fault matrix.
struct CallRecord {
  std::string function;  // e.g. "AEGP_SetStreamValue", "checkout_param", "AcquireSuite"
  // The suite and version ("AEGP Stream Suite 7") that AcquireSuite and ReleaseSuite named, or
  // through whose table a suite function was called; empty for the callbacks of the in-data.
  std::string detail;
  std::optional<CallTime> at;  // for checkout_param and checkout_layer
};

// A host function as the probe sees it.
struct HostFunction {
  const char* name;             // in the call log, and what FailCall names
  const char* suite = nullptr;  // for the suite functions: which suite
  int32_t version = 0;          // and which version
  // Gives something back: it does its work even when failed, and reports the fault afterwards.
  bool release = false;
  // A table function, called through the suite above; the command must hold that suite. False
  // for AcquireSuite and ReleaseSuite, which name a suite without being in its table.
  bool in_table = false;
  std::optional<CallTime> at = std::nullopt;
};

class Probe {
 public:
  explicit Probe(const Host& host) : host_(host) {}
  Probe(const Probe&) = delete;
  Probe& operator=(const Probe&) = delete;

  // ---- Buffers of a watched render ----
  // Pixels of padding after each row: a reader that assumes width × pixel size bytes per row
  // reads the wrong pixels.
  static constexpr int kRowPadding = 3;
  // The output: padded rows, every byte kUnwrittenByte.
  static Image Output(int width, int height, int bpc);
  // Whether a layer's rows are exactly width × pixel size bytes, and so must be copied into
  // padded ones before a watched render hands the layer out.
  static bool HasTightRows(const Image& layer);
  static Image WithPaddedRows(const Image& layer);

  // ---- Fault injection ----
  // The n-th call (1-based, counted from now) of `function` returns `code` instead of running.
  void FailCall(const std::string& function, int nth = 1,
                PF_Err code = PF_Err_INTERNAL_STRUCT_DAMAGED);
  // The n-th call of `function` runs normally but then reports `code` (for hosts that hand out a
  // result together with an error).
  void FailCallAfterRunning(const std::string& function, int nth,
                            PF_Err code = PF_Err_INTERNAL_STRUCT_DAMAGED);
  // AcquireSuite of that pair fails (version -1: every version).
  void RefuseSuite(const std::string& name, int version = -1);
  // The layer buffers handed out for `checkout_id` by checkout_layer_pixels pass through
  // `damage` first, as a faulty host's might (null data, odd row bytes).
  using Damage = std::function<void(PF_EffectWorld&)>;
  void DamageLayer(A_long checkout_id, Damage damage);
  void ClearFaults();

  // ---- Records ----
  // Leak reports collected so far ("PF_Cmd 13: stream reference not disposed", ...).
  std::vector<std::string> leaks() const;
  void clear_leaks();
  // The host calls the effect made in the last command that completed on any thread.
  std::vector<CallRecord> last_calls() const;
  // The host calls made so far by the command running on the calling thread; empty outside a
  // command and in one that no probe watches.
  static std::vector<CallRecord> CallsOfRunningCommand();
  // The host's undo history.
  std::vector<UndoGroup> undo_history() const;

  // What the probe keeps of one command while it runs; the host makes one per watched command.
  class Trace {
   public:
    explicit Trace(Probe& probe) : probe_(probe) {}
    // Logs the call; returns the fault armed to replace it, or 0. A fault armed to follow the
    // work (or on a release) is kept for TakeLateFault.
    PF_Err Enter(const HostFunction& function);
    PF_Err TakeLateFault();
    bool Refuses(const char* suite, int32_t version) const;
    void DamageLayer(A_long checkout_id, PF_EffectWorld& world) const;
    void Acquired(const char* suite, int32_t version);
    // False, with a leak report, when the suite is not held.
    bool Released(const char* suite, int32_t version, PF_Cmd cmd);
    void CheckedOut(const PF_ParamDef* param) { checked_out_.insert(param); }
    void CheckedIn(const PF_ParamDef* param);
    // Reports what the command left behind and keeps its calls as last_calls().
    void End(const CommandScope& scope);
    const std::vector<CallRecord>& calls() const { return calls_; }

   private:
    Probe& probe_;
    std::vector<CallRecord> calls_;
    PF_Err late_fault_ = PF_Err_NONE;
    std::map<std::pair<std::string, int>, int> suites_held_;  // acquire - release
    std::multiset<const PF_ParamDef*> checked_out_;           // not yet checked in
    std::vector<std::string> misuses_;  // table functions called through a suite not held
  };

 private:
  // The fault armed for this call of `function`, if its count has run down; and whether it
  // follows the work.
  PF_Err TakeFault(const char* function, bool* late);

  const Host& host_;
  mutable std::mutex mutex_;
  struct Fault {
    std::string function;
    int remaining;
    PF_Err code;
    bool late;
  };
  std::vector<Fault> faults_;
  std::vector<std::pair<std::string, int>> refused_;
  std::map<A_long, Damage> damage_;
  std::vector<std::string> leaks_;
  std::vector<CallRecord> last_calls_;
};

}  // namespace vhost
