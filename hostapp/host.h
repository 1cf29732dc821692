// Our host: loads an effect module, speaks its command protocol, implements the callbacks and
// suites it calls, and keeps its controls (with keyframes), layers and undo history.
//
// Checking the effect's use of the protocol (suites released, checkouts checked in, references
// disposed, undo groups closed), logging its calls and injecting faults is the work of a Probe
// (probe.h), which only tests install; without one the host keeps no records.
//
// Commands may run on several threads at once (renders); the host's own state is guarded by one
// mutex, and what belongs to one command is kept in that command's scope.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "hostapp/controls.h"
#include "hostapp/draft_layers.h"
#include "hostapp/image.h"
#include "hostapp/module.h"
#include "pf_suites.h"

namespace vhost {

class Probe;
struct CommandScope;
struct RenderState;

// What one command sees of time and resolution.
struct Timing {
  A_long current_time = 0;
  A_long time_step = 1;
  A_u_long time_scale = 24;
  PF_RationalScale downsample_x{1, 1};
  PF_RationalScale downsample_y{1, 1};
};

// A layer over time: its picture at `time` ÷ `time_scale` seconds, or null for no layer there.
// The host keeps the picture for as long as the render that asked for it runs.
using LayerOverTime = std::function<std::shared_ptr<const Image>(A_long time, A_u_long time_scale)>;

// A render request and what the host returns from it.
struct RenderJob {
  Timing timing;
  int bpc = 8;
  const Image* input = nullptr;  // required
  const Image* map = nullptr;    // the "Map Layer"; null for none
  // Layers that change over time take the place of `input` and `map` when set: each checkout is
  // served the picture at the time it asked for.
  LayerOverTime input_at;
  LayerOverTime map_at;
  // What the pre-render is asked for; by default the whole input at the current time, every
  // channel.
  std::optional<PF_RenderRequest> request;
  // Size of the output world; by default the pre-render's result rectangle decides.
  std::optional<std::pair<int, int>> output_size;
};

// A layer checkout the pre-render made. The render's checkouts are served from these: the layer
// of that parameter at that time, within the request's rectangle.
struct LayerCheckout {
  PF_ParamIndex index = 0;
  A_long checkout_id = 0;
  PF_RenderRequest request{};
  A_long time = 0;
  A_long time_step = 0;
  A_u_long time_scale = 0;
};

struct RenderResult {
  PF_Err err = PF_Err_NONE;
  PF_Err pre_render_err = PF_Err_NONE;
  Image output;
  PF_LRect result_rect{};
  PF_LRect max_result_rect{};
  std::vector<LayerCheckout> checkouts;  // what the pre-render asked for, in its order
};

// One step of the user's undo history: what a button's undo group (or a lone write) changed.
struct UndoGroup {
  std::string name;
  std::vector<std::pair<int, double>> writes;  // control index, value
  bool closed = false;
};

class Host {
 public:
  // Loads the module; throws ModuleLoadError when it cannot.
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
  PF_OutData& out_data() { return out_data_; }
  Timing& timing() { return timing_; }
  ControlStore& controls() { return controls_; }
  const ControlStore& controls() const { return controls_; }
  bool global_setup_done() const { return global_setup_done_; }

  // ---- Test instruments ----
  // The probe that watches this host; the first call installs it. It sees only the commands that
  // start after that, so install it before the first command it should check.
  Probe& probe();
  bool has_probe() const { return watching_.load(std::memory_order_acquire) != nullptr; }

  // ---- For the host's own suites and callbacks ----
  PF_Handle NewHandle(A_HandleSize size);
  void* LockHandle(PF_Handle h);
  void DisposeHandle(PF_Handle h);
  // Registers a suite table; only while the host is being built, since lookups take no lock.
  void RegisterSuite(const std::string& name, int version, const void* table);
  // The table of that suite, or null.
  const void* FindSuite(const char* name, int32_t version) const;
  std::mutex& mutex() const { return mutex_; }
  // The undo history; the caller holds mutex().
  std::vector<UndoGroup>& undo_history_locked() { return undo_; }
  void RecordUndo(UndoGroup group) { undo_.push_back(std::move(group)); }

 private:
  friend class Probe;  // reads the undo history

  void Init();
  PF_Err Run(PF_Cmd cmd, PF_InData& in, PF_OutData& out, void* extra, CommandScope& scope);
  // Send with the state of a render job attached to the command's scope (pre-render and render).
  PF_Err SendJob(PF_Cmd cmd, void* extra, const Timing& timing, RenderState* render);
  PF_InData MakeInData(const Timing& timing);

  Module module_;
  PF_OutData out_data_{};
  Timing timing_;
  ControlStore controls_;
  bool global_setup_done_ = false;

  mutable std::mutex mutex_;
  struct Suite {
    std::string name;
    int version;
    const void* table;
  };
  std::vector<Suite> suites_;
  std::vector<UndoGroup> undo_;
  DraftLayers draft_layers_;
  std::vector<std::unique_ptr<std::vector<uint8_t>>> handles_;
  std::vector<std::unique_ptr<void*>> handle_masters_;
  std::unique_ptr<Probe> probe_;
  // probe_ once installed; read by every command, written once.
  std::atomic<Probe*> watching_{nullptr};
};

// Short name of a command code, for messages ("PF_Cmd_SMART_RENDER").
const char* CommandName(PF_Cmd cmd);
// Name of a host error code ("PF_Err_INTERNAL_STRUCT_DAMAGED"), or "error N".
std::string ErrorName(PF_Err err);

}  // namespace vhost
