// Our host: loads an effect module, speaks its command protocol, implements the callbacks and
// suites it calls, keeps its controls (with keyframes), layers and undo history, and checks the
// protocol: every suite acquired in a command is released in it, every parameter checkout is
// checked in, effect and stream references are disposed, undo groups are closed.
//
// Fault injection: any host function can be made to fail on its n-th call, and any suite can be
// refused, so tests can drive the effect through every error path.
//
// Commands may run on several threads at once (renders); the host's own state is guarded by one
// mutex, and per-command accounting is kept per calling thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "hostapp/controls.h"
#include "hostapp/module.h"
#include "pf_suites.h"

namespace vhost {

// A pixel buffer the host hands out: alpha-red-green-blue, 8 bits or 32-bit float per channel.
// Rows are always padded beyond width × pixel size so the effect's row handling is exercised.
struct Image {
  int width = 0;
  int height = 0;
  int bpc = 8;  // 8 or 32
  int origin_x = 0;
  int origin_y = 0;
  A_long rowbytes = 0;
  std::vector<uint8_t> storage;

  static Image Make(int width, int height, int bpc, int origin_x = 0, int origin_y = 0);
  int PixelBytes() const { return bpc == 32 ? 16 : 4; }
  uint8_t* Row(int y) { return storage.data() + static_cast<size_t>(y) * rowbytes; }
  const uint8_t* Row(int y) const { return storage.data() + static_cast<size_t>(y) * rowbytes; }
  // Channel c (0 alpha, 1 red, 2 green, 3 blue) of pixel (x, y) as 0..1 (8-bit) or the float.
  float Get(int x, int y, int c) const;
  void Set(int x, int y, int c, float v);
  // A PF_LayerDef view of this image (data points into storage).
  PF_LayerDef View();
};

// What one command sees of time and resolution.
struct Timing {
  A_long current_time = 0;
  A_long time_step = 1;
  A_u_long time_scale = 24;
  PF_RationalScale downsample_x{1, 1};
  PF_RationalScale downsample_y{1, 1};
};

// One host call made by the effect, for the fault matrix.
struct CallRecord {
  std::string function;  // e.g. "AEGP_SetStreamValue", "checkout_param", "AcquireSuite"
  std::string detail;    // suite name and version for AcquireSuite, else empty
};

// A render request and what the host returns from it.
struct RenderJob {
  Timing timing;
  int bpc = 8;
  const Image* input = nullptr;  // required
  const Image* map = nullptr;    // the "Map Layer"; null for none
  // Size of the output world; by default the pre-render's result rectangle decides.
  std::optional<std::pair<int, int>> output_size;
};

struct RenderResult {
  PF_Err err = PF_Err_NONE;
  PF_Err pre_render_err = PF_Err_NONE;
  Image output;
  PF_LRect result_rect{};
  PF_LRect max_result_rect{};
};

struct UndoGroup {
  std::string name;
  std::vector<std::pair<int, double>> writes;  // control index, value
  bool closed = false;
};

class Host;

// Accounting for one command on one thread. Suite functions find it through a thread-local.
struct CommandScope {
  Host* host = nullptr;
  PF_Cmd cmd = 0;
  std::map<std::pair<std::string, int>, int> suites_held;  // acquire - release
  std::multiset<const PF_ParamDef*> checked_out;           // parameter checkouts not yet checked in
  std::set<void*> effect_refs;
  std::set<void*> stream_refs;
  int open_undo_groups = 0;
  std::vector<CallRecord> calls;
  PF_Err late_fault = PF_Err_NONE;  // reported by the running callback after it has done its work
  const RenderJob* job = nullptr;                    // during pre-render and render
  RenderResult* result = nullptr;                    // during pre-render and render
  std::vector<std::unique_ptr<PF_LayerDef>> worlds;  // layer views handed out in this command
};

class Host {
 public:
  // Loads the module; throws std::runtime_error with dlerror's text when it cannot.
  explicit Host(const std::string& module_path);
  // Drives an effect linked into this process instead of a loaded module.
  explicit Host(PF_EffectMainFunc linked_entry);
  // Sends global setdown if global setup ran, frees the host's handles and unloads the module.
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // ---- Commands ----
  // Sends any command with the host's current parameter records. `extra` is the command's extra
  // record. The host's out_data is updated from the command's copy afterwards.
  PF_Err Send(PF_Cmd cmd, void* extra = nullptr, const Timing* timing = nullptr);
  PF_Err About(std::string* text);
  PF_Err GlobalSetup();
  PF_Err GlobalSetdown();
  // Declares the controls (clears any earlier declaration first).
  PF_Err ParamsSetup();
  PF_Err UpdateParamsUI();
  PF_Err UserChangedParam(int index);
  PF_Err QueryDynamicFlags(const Timing& timing);
  // Pre-render then render; safe to call from several threads at once.
  RenderResult Render(const RenderJob& job);

  // ---- State ----
  PF_InData& in_data() { return in_data_; }
  PF_OutData& out_data() { return out_data_; }
  Timing& timing() { return timing_; }
  ControlStore& controls() { return controls_; }
  const ControlStore& controls() const { return controls_; }
  std::vector<UndoGroup> undo_history() const;
  bool global_setup_done() const { return global_setup_done_; }
  // Global-data block through the handle, or null.
  void* global_block() const;

  // ---- Fault injection ----
  // The n-th call (1-based, counted from now) of `function` returns `code` instead of running.
  void FailCall(const std::string& function, int nth = 1,
                PF_Err code = PF_Err_INTERNAL_STRUCT_DAMAGED);
  // AcquireSuite of that pair fails (version -1: every version).
  void RefuseSuite(const std::string& name, int version = -1);
  // The n-th call of `function` runs normally but then reports `code` (for hosts that hand out a
  // result together with an error).
  void FailCallAfterRunning(const std::string& function, int nth,
                            PF_Err code = PF_Err_INTERNAL_STRUCT_DAMAGED);
  // For callbacks: the code armed by FailCallAfterRunning for this call, or 0.
  PF_Err TakeLateFault();
  void ClearFaults();
  // The callbacks and suite functions below return their fault code when armed; each call is
  // recorded in the command's call log.
  PF_Err Enter(const char* function, const std::string& detail = {});

  // ---- Protocol checks ----
  // Leak reports collected so far ("PF_Cmd 13: stream reference not disposed", ...).
  std::vector<std::string> leaks() const;
  void clear_leaks();
  // The host calls the effect made in the last command that completed on any thread.
  std::vector<CallRecord> last_calls() const;

  // ---- Handles (the handle suite) ----
  PF_Handle NewHandle(A_HandleSize size);
  void* LockHandle(PF_Handle h);
  void DisposeHandle(PF_Handle h);

  // ---- Suites ----
  void RegisterSuite(const std::string& name, int version, const void* table);
  SPErr AcquireSuiteFor(const char* name, int32_t version, const void** suite);
  SPErr ReleaseSuiteFor(const char* name, int32_t version);

  // For suite implementations: the host and scope of the command running on this thread.
  static CommandScope* CurrentScope();
  std::mutex& mutex() const { return mutex_; }
  void RecordUndo(UndoGroup group);
  std::vector<UndoGroup>& undo_history_locked() { return undo_; }

 private:
  void Init();
  PF_Err Run(PF_Cmd cmd, PF_InData& in, PF_OutData& out, void* extra, CommandScope& scope);
  // Send with a render job attached to the command's scope (pre-render and render).
  PF_Err SendJob(PF_Cmd cmd, void* extra, const Timing& timing, const RenderJob* job,
                 RenderResult* result);
  void CheckScope(const CommandScope& scope);
  PF_InData MakeInData(const Timing& timing);

  Module module_;
  PF_InData in_data_{};
  PF_OutData out_data_{};
  Timing timing_;
  ControlStore controls_;
  bool global_setup_done_ = false;

  mutable std::mutex mutex_;
  std::map<std::pair<std::string, int>, const void*> suites_;
  struct Fault {
    std::string function;
    int remaining;
    PF_Err code;
    bool late = false;
  };
  std::vector<Fault> faults_;
  std::vector<std::pair<std::string, int>> refused_;
  std::vector<std::string> leaks_;
  std::vector<CallRecord> last_calls_;
  std::vector<UndoGroup> undo_;
  std::vector<std::unique_ptr<std::vector<uint8_t>>> handles_;
  std::vector<std::unique_ptr<void*>> handle_masters_;
};

// Short name of a command code, for messages ("PF_Cmd_SMART_RENDER").
const char* CommandName(PF_Cmd cmd);
// Name of a host error code ("PF_Err_INTERNAL_STRUCT_DAMAGED"), or "error N".
std::string ErrorName(PF_Err err);

}  // namespace vhost
