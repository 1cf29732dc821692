// The host-fault matrix. For each command, the host calls the effect makes in a normal run are
// recorded; then the command runs again once per recorded call with that call failing, and once
// per suite it acquires with the suite refused. Each time the command must return the error the
// effect's rules give for that call (and, for a render, send the messages those rules give),
// release everything it obtained, make no further request after the failure, and the next normal
// command must succeed with the right result.
//
// The list is taken from the recorded calls, so a call added to the effect later is failed here
// without editing this file. The rules that decide what a failure must give are written from the
// calls' roles, not from their positions:
//  - a failed suite acquisition is the missing-suite error, 516, with no message;
//  - the results of ReleaseSuite and of the ANSI sprintf are not looked at (a failed About text
//    is no failure of the effect), so failing them changes nothing;
//  - a handle the host cannot give or lock at global setup leaves the effect without GL, which is
//    no error; at tear-down it leaves nothing to delete;
//  - every other call's failure is the command's result.
#include <epoxy/gl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <thread>
#include <utility>

#include "cgl.h"
#include "gl/context.h"
#include "reliability/reliability_support.h"
#include "support/page_opener.h"
#include "support/test_images.h"

namespace {

using Strings = std::vector<std::string>;

// A code no host call returns by itself, so a result equal to it came from the injected fault.
constexpr PF_Err kInjected = 4711;

struct Call {
  PF_Cmd cmd = 0;
  std::string function;
  std::string detail;
  bool operator==(const Call&) const = default;
};
using Calls = std::vector<Call>;

std::string Describe(const Call& call) {
  return std::string(vhost::CommandName(call.cmd)) + " " + call.function +
         (call.detail.empty() ? "" : " (" + call.detail + ")");
}

Calls TakeCalls() {
  Calls calls;
  for (const reliability::CommandRecord& record : reliability::CommandLog::Take())
    for (const vhost::CallRecord& c : record.calls)
      calls.push_back({record.cmd, c.function, c.detail});
  return calls;
}

// Calls that give something back; they run even after a failure.
bool IsRelease(const std::string& function) {
  static const std::set<std::string> releases = {"checkin_param", "ReleaseSuite",
                                                 "AEGP_DisposeStream", "AEGP_DisposeEffect",
                                                 "AEGP_EndUndoGroup"};
  return releases.count(function) > 0;
}

// The suites a run acquired, by name and version.
std::set<std::pair<std::string, int>> SuitesOf(const Calls& calls) {
  std::set<std::pair<std::string, int>> suites;
  for (const Call& call : calls) {
    if (call.function != "AcquireSuite") continue;
    const size_t space = call.detail.rfind(' ');
    suites.insert({call.detail.substr(0, space), std::stoi(call.detail.substr(space + 1))});
  }
  return suites;
}

// ---- What a failure must give ----------------------------------------------------------------

enum class Picture { kNotRendered, kUntouched, kCleared, kRight };

struct Expected {
  PF_Err err = PF_Err_NONE;
  Strings messages;
  Picture picture = Picture::kNotRendered;
  bool ignored = false;  // the effect does not look at this call's result
};

std::string Message(const std::string& text, PF_Err err1, PF_Err err2) {
  return text + " err " + std::to_string(err1) + " err2 " + std::to_string(err2);
}

// The message rule of the sink: a render the user interrupted sends nothing.
void AddMessage(Strings* out, const std::string& text, PF_Err err1, PF_Err err2) {
  if (err1 == PF_Interrupt_CANCEL && err2 == 0) return;
  out->push_back(Message(text, err1, err2));
}

Expected CommonRules(const Call& call, PF_Err code) {
  Expected e;
  if (call.function == "ReleaseSuite" || call.function == "sprintf") {
    e.ignored = true;
    e.picture = Picture::kRight;
  } else if (call.function == "AcquireSuite") {
    e.err = PF_Err_BAD_CALLBACK_PARAM;
  } else {
    e.err = code;
  }
  return e;
}

// The render's rules, by the phase the failing call belongs to: the layer and output checkouts
// with the clearing fill, the control snapshot (check-out and check-in in pairs), and the
// transform snapshots with the animation query and its releases.
Expected RenderRules(const Calls& calls, size_t i, PF_Err code) {
  Expected e = CommonRules(calls[i], code);
  if (calls[i].cmd == PF_Cmd_SMART_PRE_RENDER) return e;  // the render is not sent
  if (e.ignored) return e;
  e.picture = Picture::kCleared;
  if (calls[i].function == "AcquireSuite") return e;

  size_t render_start = 0;
  while (calls[render_start].cmd != PF_Cmd_SMART_RENDER) ++render_start;
  size_t output = render_start, first_param = render_start;
  while (output < calls.size() && calls[output].function != "checkout_output") ++output;
  while (first_param < calls.size() && calls[first_param].function != "checkout_param")
    ++first_param;
  size_t snapshot_end = first_param;
  while (snapshot_end + 1 < calls.size() && calls[snapshot_end].function == "checkout_param" &&
         calls[snapshot_end + 1].function == "checkin_param")
    snapshot_end += 2;

  if (i < first_param) {
    // Nothing is cleared when the fill is what failed.
    e.picture = Picture::kUntouched;
    if (i > output) AddMessage(&e.messages, "error on buffer checkout", code, 0);
  } else if (i < snapshot_end) {
    const bool checkin = calls[i].function == "checkin_param";
    AddMessage(&e.messages, "error on param checkout", code, checkin ? code : 0);
    AddMessage(&e.messages, "error on param initialisation", code, 0);
  } else {
    AddMessage(&e.messages, "error on param initialisation", code, 0);
  }
  return e;
}

// ---- One command, run normally and with faults ---------------------------------------------

struct Outcome {
  PF_Err err = PF_Err_NONE;
  Calls calls;
  Strings messages;
  std::optional<vhost::Image> output;
};

struct Command {
  std::string name;
  // Called before every run: puts the host's state where the command expects it.
  std::function<void(vhost::Host&)> prepare = [](vhost::Host&) {};
  // Sends the command; renders fill `output`.
  std::function<PF_Err(vhost::Host&, std::optional<vhost::Image>*)> send;
  std::function<Expected(const Calls&, size_t, PF_Err)> rules =
      [](const Calls& calls, size_t i, PF_Err code) { return CommonRules(calls[i], code); };
  // Anything else of the host's state that a faulted run must leave alone, or a normal run must
  // produce; compared between runs.
  std::function<std::string(vhost::Host&)> state = [](vhost::Host&) { return std::string(); };
};

// The panel state UpdateParamsUI decides, and every control's value: what the commands change.
std::string PanelAndValues(vhost::Host& host) {
  std::ostringstream out;
  for (int i = 1; i < host.controls().size(); ++i) {
    const vhost::Control& c = host.controls().at(i);
    out << i << ":" << c.hidden << "," << c.ui_name << "," << c.ui_flags << ","
        << host.controls().ValueAt(i, 0) << ";";
  }
  return out.str();
}

class FaultMatrixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reliability::MessageLog::Install();
    host_ = std::make_unique<vhost::Host>(&reliability::CommandLog::Entry);
    host_->probe();
    ASSERT_EQ(host_->GlobalSetup(), PF_Err_NONE);
    ASSERT_EQ(host_->ParamsSetup(), PF_Err_NONE);
    ASSERT_EQ(host_->UpdateParamsUI(), PF_Err_NONE);
    host_->controls().SetValue(PARAM_ANTI_ALIASING, 1);
    reliability::CommandLog::Take();
    reliability::MessageLog::Take();
  }

  void TearDown() override {
    host_->probe().ClearFaults();
    for (const std::string& leak : host_->probe().leaks())
      ADD_FAILURE() << "host reports: " << leak;
    host_.reset();
    reliability::MessageLog::Remove();
  }

  Outcome RunOnce(const Command& command) {
    command.prepare(*host_);
    reliability::CommandLog::Take();
    reliability::MessageLog::Take();
    Outcome run;
    run.err = command.send(*host_, &run.output);
    run.calls = TakeCalls();
    run.messages = reliability::MessageLog::Take();
    return run;
  }

  // Checks a run made with the call at `i` of the normal run failing (or its suite refused), then
  // that a normal run right after it gives the normal result. Returns false after a failure.
  bool CheckFaultedRun(const Command& command, const Outcome& normal, const Outcome& faulted,
                       size_t i, PF_Err code, const std::string& what) {
    const Expected e = command.rules(normal.calls, i, code);
    const size_t before = std::min(i, faulted.calls.size());
    EXPECT_TRUE(
        std::equal(normal.calls.begin(), normal.calls.begin() + before, faulted.calls.begin()) &&
        i < faulted.calls.size() && faulted.calls[i] == normal.calls[i])
        << what << ": the fault did not meet the call it was aimed at";
    EXPECT_EQ(faulted.err, e.err) << what;
    EXPECT_EQ(faulted.messages, e.messages) << what;
    if (!e.ignored) {
      // After the first failure only releases may follow.
      for (size_t j = i + 1; j < faulted.calls.size(); ++j)
        EXPECT_TRUE(IsRelease(faulted.calls[j].function))
            << what << ": " << Describe(faulted.calls[j]) << " was made after the failure";
    }
    if (normal.output) {
      switch (e.picture) {
        case Picture::kNotRendered:
          EXPECT_EQ(faulted.output->width, 0) << what;
          break;
        case Picture::kUntouched:
          EXPECT_TRUE(testimg::IsUnwritten(*faulted.output)) << what;
          break;
        case Picture::kCleared:
          EXPECT_TRUE(testimg::IsCleared(*faulted.output)) << what;
          break;
        case Picture::kRight:
          EXPECT_TRUE(rtest::SamePixels(*faulted.output, *normal.output)) << what;
          break;
      }
    }
    for (const std::string& leak : host_->probe().leaks()) ADD_FAILURE() << what << ": " << leak;
    host_->probe().clear_leaks();
    host_->probe().ClearFaults();

    // No lock may stay held: another thread takes the render lock at once.
    bool lock_free = false;
    std::thread([&] {
      lock_free = globalMutex.try_lock();
      if (lock_free) globalMutex.unlock();
    }).join();
    EXPECT_TRUE(lock_free) << what;

    const Outcome again = RunOnce(command);
    EXPECT_EQ(again.err, normal.err) << what << ": the next normal run";
    EXPECT_EQ(again.calls, normal.calls) << what << ": the next normal run";
    EXPECT_EQ(again.messages, normal.messages) << what << ": the next normal run";
    EXPECT_EQ(command.state(*host_), normal_state_) << what << ": the next normal run";
    if (normal.output) {
      EXPECT_TRUE(rtest::SamePixels(*again.output, *normal.output))
          << what << ": the next normal run";
    }
    return !::testing::Test::HasFailure();
  }

  // Fails every recorded call in turn, then refuses every suite in turn. Returns the number of
  // faulted runs.
  int RunMatrix(const Command& command, PF_Err code = kInjected) {
    const Outcome normal = RunOnce(command);
    normal_state_ = command.state(*host_);
    EXPECT_EQ(normal.err, PF_Err_NONE) << command.name;
    EXPECT_EQ(normal.messages, Strings{}) << command.name;
    EXPECT_FALSE(normal.calls.empty()) << command.name;
    int runs = 0;

    std::map<std::string, int> seen;
    for (size_t i = 0; i < normal.calls.size(); ++i) {
      const Call& call = normal.calls[i];
      const int nth = ++seen[call.function];
      const std::string what = command.name + ": " + Describe(call) + " #" + std::to_string(nth);
      command.prepare(*host_);
      host_->probe().FailCall(call.function, nth, code);
      Outcome faulted = RunOnce(command);
      ++runs;
      if (!CheckFaultedRun(command, normal, faulted, i, code, what)) return runs;
    }

    std::set<std::string> refused;
    for (size_t i = 0; i < normal.calls.size(); ++i) {
      const Call& call = normal.calls[i];
      if (call.function != "AcquireSuite" || !refused.insert(call.detail).second) continue;
      const auto [name, version] = *SuitesOf({call}).begin();
      const std::string what = command.name + ": refused " + call.detail;
      command.prepare(*host_);
      host_->probe().RefuseSuite(name, version);
      Outcome faulted = RunOnce(command);
      ++runs;
      if (!CheckFaultedRun(command, normal, faulted, i, code, what)) return runs;
    }
    std::printf("%s: %zu host calls failed in turn, %zu suites refused\n", command.name.c_str(),
                normal.calls.size(), refused.size());
    RecordProperty("faulted_runs", runs);
    return runs;
  }

  Command RenderCommand(const std::string& name, const vhost::Image* input,
                        const vhost::Image* map) {
    Command c;
    c.name = name;
    c.send = [input, map](vhost::Host& host, std::optional<vhost::Image>* output) {
      vhost::RenderJob job;
      job.timing = reliability::FrameTiming(3);
      job.bpc = input->bpc;
      job.input = input;
      job.map = map;
      vhost::RenderResult r = host.Render(job);
      *output = std::move(r.output);
      return r.err;
    };
    c.rules = RenderRules;
    return c;
  }

  std::unique_ptr<vhost::Host> host_;
  std::string normal_state_;
  // The link buttons open nothing.
  PageOpenerStub opener_;
};

// ---- The commands ----------------------------------------------------------------------------

TEST_F(FaultMatrixTest, RenderWithoutMapLayer) {
  const vhost::Image input = rtest::Pattern(16, 12, 8);
  host_->controls().SetValue(PARAM_CHANNEL, 2);
  host_->controls().SetValue(PARAM_TRANSLATE_X, 12);
  RunMatrix(RenderCommand("render, no map", &input, nullptr));
}

TEST_F(FaultMatrixTest, RenderWithMapLayerSoftnessAndAntiAliasing) {
  const vhost::Image input = rtest::Pattern(16, 12, 32);
  vhost::Image map = rtest::Pattern(10, 8, 32);
  map.origin_x = 3;
  map.origin_y = 2;
  host_->controls().SetValue(PARAM_CHANNEL, 1);
  host_->controls().SetValue(PARAM_ROTATE, 25);
  host_->controls().SetValue(PARAM_MAP_SOFTNESS, 2);
  host_->controls().SetValue(PARAM_ANTI_ALIASING, 3);
  RunMatrix(RenderCommand("render, map", &input, &map));
}

TEST_F(FaultMatrixTest, RenderWithIterationsAndKeyframes) {
  const vhost::Image input = rtest::Pattern(16, 12, 8);
  const vhost::Image map = rtest::Pattern(16, 12, 8);
  host_->controls().SetValue(PARAM_CHANNEL, 3);
  host_->controls().SetValue(PARAM_ITERATIONS, 4);
  host_->controls().SetKeyframes(PARAM_TRANSLATE_X, {{0, 0}, {1, 30}});
  host_->controls().SetValue(PARAM_SCALE_X, 80);
  RunMatrix(RenderCommand("render, iterations", &input, &map));
}

// An interrupted render is no failure to report: the messages carrying only the cancel code are
// not sent, the one that carries a second code is.
TEST_F(FaultMatrixTest, RenderInterruptedAtEveryCall) {
  const vhost::Image input = rtest::Pattern(16, 12, 8);
  host_->controls().SetValue(PARAM_TRANSLATE_Y, -20);
  RunMatrix(RenderCommand("render, interrupted", &input, nullptr), PF_Interrupt_CANCEL);
}

TEST_F(FaultMatrixTest, UpdateParamsUI) {
  Command c;
  c.name = "update params UI";
  c.prepare = [](vhost::Host& host) {
    // Uniform Scale off, and a panel state the update must overwrite.
    host.controls().SetValue(PARAM_UNIFORM_SCALE, 0);
    for (int i = 1; i < host.controls().size(); ++i) host.controls().at(i).hidden = false;
  };
  c.send = [](vhost::Host& host, std::optional<vhost::Image>*) { return host.UpdateParamsUI(); };
  c.state = PanelAndValues;
  RunMatrix(c);
}

TEST_F(FaultMatrixTest, EveryButton) {
  for (int button :
       {PARAM_RESET_ADJUSTMENTS, PARAM_RESET_TRANSFORMS, PARAM_RESET_ITERATIONS,
        PARAM_RESET_MULTIPLIERS, PARAM_PRODUCT_PAGE, PARAM_FREE_PLUGINS, PARAM_GET_SUPPORT}) {
    Command c;
    c.name = "button " + std::to_string(button);
    c.prepare = [](vhost::Host& host) {
      // Every value a reset writes away from its default, so a write that did not happen shows.
      for (int i : {PARAM_MAP_GAMMA, PARAM_MAP_SOFTNESS, PARAM_MAP_MIX_INPUT,
                    PARAM_DISPLACEMENT_OFFSET, PARAM_TRANSLATE_X, PARAM_TRANSLATE_Y, PARAM_ROTATE,
                    PARAM_SCALE_X, PARAM_SCALE_Y, PARAM_ANCHOR_X, PARAM_ANCHOR_Y,
                    PARAM_SHUTTER_DURATION, PARAM_CA_RED, PARAM_CA_GREEN, PARAM_CA_BLUE})
        host.controls().SetValue(i, 0.5 + i);
      for (int i : {PARAM_INVERT_MAP, PARAM_CLAMP_NEGATIVE_SCALE}) host.controls().SetValue(i, 1);
      host.controls().SetValue(PARAM_UNIFORM_SCALE, 0);
      host.controls().SetValue(PARAM_DISPLACEMENT_EASING, 4);
      host.controls().SetValue(PARAM_MAP_INTERPRETATION, 2);
      host.controls().SetValue(PARAM_ITERATIONS, 9);
    };
    c.send = [button](vhost::Host& host, std::optional<vhost::Image>*) {
      return host.UserChangedParam(button);
    };
    c.state = [](vhost::Host& host) {
      std::string s = PanelAndValues(host);
      for (const vhost::UndoGroup& g : host.probe().undo_history())
        if (!g.closed) s += " open undo group " + g.name;
      return s;
    };
    RunMatrix(c);
    if (HasFailure()) return;
  }
}

TEST_F(FaultMatrixTest, QueryDynamicFlags) {
  Command c;
  c.name = "dynamic flags";
  c.prepare = [](vhost::Host& host) {
    host.controls().SetKeyframes(PARAM_ITERATIONS, {{0, 1}, {0.2, 3}});
    // A flag word the query must either refine or, after a failure, leave exactly as it is.
    host.out_data().out_flags = 0x7F00 | PF_OutFlag_NON_PARAM_VARY;
  };
  c.send = [](vhost::Host& host, std::optional<vhost::Image>*) {
    const PF_Err err = host.QueryDynamicFlags(reliability::FrameTiming(1));
    if (err) {
      EXPECT_EQ(host.out_data().out_flags, 0x7F00 | PF_OutFlag_NON_PARAM_VARY);
    }
    return err;
  };
  c.state = [](vhost::Host& host) { return std::to_string(host.out_data().out_flags); };
  RunMatrix(c);
}

TEST_F(FaultMatrixTest, About) {
  Command c;
  c.name = "about";
  c.state = [](vhost::Host& host) { return std::string(host.out_data().return_msg); };
  c.send = [](vhost::Host& host, std::optional<vhost::Image>*) {
    std::string text;
    return host.About(&text);
  };
  RunMatrix(c);
}

TEST_F(FaultMatrixTest, ParamsSetup) {
  const vhost::Image input = rtest::Pattern(16, 12, 8);
  Command c;
  c.name = "params setup";
  c.send = [](vhost::Host& host, std::optional<vhost::Image>*) { return host.ParamsSetup(); };
  // What the declared controls give: their number, and the picture they render at their defaults.
  c.state = [&input](vhost::Host& host) {
    std::ostringstream s;
    s << host.controls().size() << " controls";
    if (host.controls().size() == PARAM_NUM_PARAMS) {
      vhost::RenderJob job;
      job.timing = reliability::FrameTiming(0);
      job.input = &input;
      vhost::RenderResult r = host.Render(job);
      s << ", render " << r.err;
      for (uint8_t b : r.output.storage) s << static_cast<int>(b) << ",";
      reliability::CommandLog::Take();
    }
    return s.str();
  };
  RunMatrix(c);
}

// Global setup and tear-down change the life stage of the effect, so every fault gets a host of
// its own. After a faulted setup the effect must still tear down cleanly, leave no context
// behind, and set up and render normally again.
class LifeStageFaultTest : public ::testing::Test {
 protected:
  void SetUp() override { reliability::MessageLog::Install(); }
  void TearDown() override { reliability::MessageLog::Remove(); }

  static PF_Err Send(vhost::Host& host, PF_Cmd cmd) {
    return cmd == PF_Cmd_GLOBAL_SETUP ? host.GlobalSetup() : host.GlobalSetdown();
  }

  static Calls Record(const std::function<void(vhost::Host&)>& before, PF_Cmd cmd) {
    vhost::Host host(&reliability::CommandLog::Entry);
    host.probe();
    before(host);
    reliability::CommandLog::Take();
    EXPECT_EQ(Send(host, cmd), PF_Err_NONE);
    Calls calls = TakeCalls();
    if (cmd == PF_Cmd_GLOBAL_SETUP) host.GlobalSetdown();
    return calls;
  }

  // A full normal life on `host` from here: setup (unless done), controls, a render. The render
  // runs on a thread of its own, whose context goes with it, so that the live context count
  // speaks of the global record alone.
  static vhost::Image ExpectNormalLife(vhost::Host& host, const vhost::Image& reference,
                                       const std::string& what) {
    if (!host.global_setup_done()) {
      EXPECT_EQ(host.GlobalSetup(), PF_Err_NONE) << what;
    }
    EXPECT_EQ(host.ParamsSetup(), PF_Err_NONE) << what;
    host.controls().SetValue(PARAM_TRANSLATE_X, 10);
    host.controls().SetValue(PARAM_CHANNEL, 4);
    const vhost::Image input = rtest::Pattern(16, 12, 8);
    vhost::RenderJob job;
    job.timing = reliability::FrameTiming(0);
    job.input = &input;
    vhost::RenderResult r;
    std::thread([&] { r = host.Render(job); }).join();
    EXPECT_EQ(r.err, PF_Err_NONE) << what;
    if (reference.width) {
      EXPECT_TRUE(rtest::SamePixels(r.output, reference)) << what;
    }
    return r.output;
  }

  // One life stage's command and what its faults are held to.
  struct Stage {
    Stage(std::string stage_name, PF_Cmd command) : name(std::move(stage_name)), cmd(command) {}
    std::string name;  // in the messages: "global setup"
    PF_Cmd cmd;
    // Brings a fresh host (watched by a probe) to the command.
    std::function<void(vhost::Host&)> before = [](vhost::Host&) {};
    // Calls whose failure the effect rightly takes as no error.
    std::set<std::string> harmless;
    // Further checks of a host whose command failed: right after the command, and after the
    // tear-down that follows it.
    std::function<void(vhost::Host&, const std::string& what)> after_fault = Nothing;
    std::function<void(vhost::Host&, const std::string& what)> after_teardown = Nothing;
    static void Nothing(vhost::Host&, const std::string&) {}
  };

  // Fails each host call of the stage's command in turn, then refuses each suite it acquires,
  // each on a host of its own. The command must report the fault, leave no leak, and let the
  // next tear-down free every context but the `contexts` that were live before.
  static void FailEachCallInTurn(const Stage& stage, int contexts) {
    const Calls normal = Record(stage.before, stage.cmd);
    ASSERT_FALSE(normal.empty());
    auto expect_torn_down = [&](vhost::Host& host, const std::string& what) {
      for (const std::string& leak : host.probe().leaks()) ADD_FAILURE() << what << ": " << leak;
      host.probe().ClearFaults();
      EXPECT_EQ(host.GlobalSetdown(), PF_Err_NONE) << what;
      EXPECT_EQ(cgl::LiveContextCount(), contexts) << what << ": a context outlived tear-down";
      stage.after_teardown(host, what);
    };
    std::map<std::string, int> seen;
    int runs = 0;
    for (size_t i = 0; i < normal.size(); ++i) {
      const std::string& function = normal[i].function;
      const int nth = ++seen[function];
      const std::string what = stage.name + ": " + Describe(normal[i]) + " #" + std::to_string(nth);
      vhost::Host host(&reliability::CommandLog::Entry);
      stage.before(host);
      reliability::CommandLog::Take();
      host.probe().FailCall(function, nth, kInjected);
      const PF_Err err = Send(host, stage.cmd);
      ++runs;
      const Calls faulted = TakeCalls();
      ASSERT_TRUE(i < faulted.size() && faulted[i] == normal[i]) << what;
      Expected e = CommonRules(normal[i], kInjected);
      if (stage.harmless.count(function)) e.err = PF_Err_NONE;
      EXPECT_EQ(err, e.err) << what;
      stage.after_fault(host, what);
      expect_torn_down(host, what);
    }
    const std::set<std::pair<std::string, int>> suites = SuitesOf(normal);
    for (const auto& [name, version] : suites) {
      const std::string what = stage.name + ": refused " + name;
      vhost::Host host(&reliability::CommandLog::Entry);
      stage.before(host);
      host.probe().RefuseSuite(name, version);
      EXPECT_EQ(Send(host, stage.cmd), PF_Err_BAD_CALLBACK_PARAM) << what;
      ++runs;
      expect_torn_down(host, what);
    }
    EXPECT_EQ(cgl::LiveContextCount(), contexts);
    std::printf("%s: %zu host calls failed in turn, %zu suites refused\n", stage.name.c_str(),
                normal.size(), suites.size());
    RecordProperty("faulted_runs", runs);
  }
};

TEST_F(LifeStageFaultTest, GlobalSetup) {
  const int contexts = cgl::LiveContextCount();
  vhost::Image reference;
  {
    vhost::Host host(&reliability::CommandLog::Entry);
    reference = ExpectNormalLife(host, reference, "reference");
  }
  ASSERT_EQ(cgl::LiveContextCount(), contexts);
  Stage stage("global setup", PF_Cmd_GLOBAL_SETUP);
  // No handle, or none that can be locked: the effect runs without GL, which is no error.
  stage.harmless = {"host_new_handle", "host_lock_handle"};
  stage.after_fault = [](vhost::Host& host, const std::string& what) {
    EXPECT_EQ(host.out_data().my_version, 0x000B0804u) << what << ": version written first";
    EXPECT_EQ(reliability::MessageLog::Take(), Strings{}) << what;
  };
  stage.after_teardown = [&reference](vhost::Host& host, const std::string& what) {
    ExpectNormalLife(host, reference, what);
  };
  FailEachCallInTurn(stage, contexts);
}

TEST_F(LifeStageFaultTest, GlobalSetdown) {
  const int contexts = cgl::LiveContextCount();
  Stage stage("global setdown", PF_Cmd_GLOBAL_SETDOWN);
  stage.before = [](vhost::Host& host) {
    host.probe();
    ASSERT_EQ(host.GlobalSetup(), PF_Err_NONE);
    ASSERT_EQ(host.ParamsSetup(), PF_Err_NONE);
  };
  // Nothing found to delete; the next tear-down deletes what the failed one could not.
  stage.harmless = {"host_lock_handle"};
  FailEachCallInTurn(stage, contexts);
}

}  // namespace
