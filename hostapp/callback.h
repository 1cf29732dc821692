// The one way in from the effect: every callback and suite function of our host runs through
// Callback (for functions that answer with a PF_Err) or Service (for the others). The wrapper
// finds the command running on the calling thread, lets the probe log and fail the call when one
// is installed, refuses missing arguments, does the work, and then reports a fault armed to
// follow it. Without a probe a call costs a thread-local read and its own work.
#pragma once

#include <set>
#include <type_traits>
#include <utility>

#include "hostapp/host.h"
#include "hostapp/probe.h"

namespace vhost {

// One command on one thread: what the host hands out in it and must see given back.
struct CommandScope {
  Host* host = nullptr;
  PF_Cmd cmd = 0;
  std::set<void*> effect_refs;  // handed out in this command and not yet disposed
  std::set<void*> stream_refs;
  int open_undo_groups = 0;
  RenderState* render = nullptr;  // during pre-render and render
  Probe::Trace* trace = nullptr;  // when a probe watches the command

  // The command running on this thread, or null.
  static CommandScope* Current();
  // Makes `scope` the current one for its lifetime, and puts back the outer one after.
  class Enter {
   public:
    explicit Enter(CommandScope& scope);
    ~Enter();
    Enter(const Enter&) = delete;
    Enter& operator=(const Enter&) = delete;

   private:
    CommandScope* outer_;
  };
};

// Where a host function may be called from.
enum class Within {
  kCommand,   // any command; outside one it fails
  kRender,    // pre-render and render only
  kAnywhere,  // also outside a command, where it runs with an empty scope and no probe
};

// Whether none of the pointers is null.
template <typename... Pointers>
bool Given(const Pointers*... pointers) {
  return ((pointers != nullptr) && ...);
}

namespace callback_detail {

// Runs one host function. A PF_Err function (`kReports`) answers an injected fault with its code
// and reports a fault armed to follow its work; any other answers `refused` to a fault and cannot
// report one. Work takes (CommandScope&, Host&), or only the scope when it may run outside a
// command.
template <bool kReports, typename R, typename Work>
R Invoke(const HostFunction& function, Within within, R no_command, R bad_arguments, bool arguments,
         Work& work) {
  CommandScope* scope = CommandScope::Current();
  CommandScope outside;
  if (!scope || (within == Within::kRender && !scope->render)) {
    if (within != Within::kAnywhere) return no_command;
    if (!scope) scope = &outside;
  }
  Probe::Trace* trace = scope->trace;
  if (trace) {
    if (PF_Err fault = trace->Enter(function)) {
      if constexpr (kReports) return fault;
      return no_command;
    }
  }
  R result = bad_arguments;
  if (arguments) {
    if constexpr (std::is_invocable_v<Work&, CommandScope&, Host&>)
      result = work(*scope, *scope->host);
    else
      result = work(*scope);
  }
  if (!trace) return result;
  const PF_Err late = trace->TakeLateFault();
  if constexpr (kReports)
    if (!result) return late;
  return result;
}

}  // namespace callback_detail

// A callback answering with a PF_Err: outside its command it fails with INTERNAL_STRUCT_DAMAGED,
// an injected fault answers with its code, missing arguments with BAD_CALLBACK_PARAM, and a fault
// armed to follow the work with its code when the work itself succeeded.
template <typename Work>
PF_Err Callback(const HostFunction& function, Within within, bool arguments, Work&& work) {
  return callback_detail::Invoke<true, PF_Err>(function, within, PF_Err_INTERNAL_STRUCT_DAMAGED,
                                               PF_Err_BAD_CALLBACK_PARAM, arguments, work);
}

template <typename Work>
PF_Err Callback(const HostFunction& function, bool arguments, Work&& work) {
  return Callback(function, Within::kCommand, arguments, std::forward<Work>(work));
}

// A function answering with anything else: outside a command, on a fault and on missing
// arguments it answers `refused`, and a fault armed to follow its work goes unreported.
template <typename R, typename Work>
R Service(const HostFunction& function, Within within, R refused, bool arguments, Work&& work) {
  return callback_detail::Invoke<false, R>(function, within, refused, refused, arguments, work);
}

}  // namespace vhost
