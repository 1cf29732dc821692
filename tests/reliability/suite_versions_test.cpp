// Which suite, at which version, each AEGP call of the effect goes through. A host serves every
// version as a table of its own, and one that lacks the version the effect asked for refuses the
// command, so a call through a version that merely happens to have the same function is as wrong
// as a missing call. The probe reports a call through a suite the command does not hold; these
// tests pin the version of each call even where the command holds both.
#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "reliability/reliability_support.h"
#include "support/page_opener.h"
#include "support/test_images.h"

namespace {

// A suite function a command calls, the suite and version it must come through, and how many
// times (0: at least once, where the number follows the panel or the reset's controls).
struct Through {
  std::string function;
  std::string suite;
  int times = 0;
};

struct SuiteUse {
  std::string command;
  std::function<PF_Err(vhost::Host&)> send;
  std::vector<Through> calls;
};

const std::vector<Through> kPanelUpdate = {
    {"AEGP_GetNewEffectForEffect", "AEGP PF Interface Suite 1", 1},
    {"AEGP_GetNewEffectStreamByIndex", "AEGP Stream Suite 7"},
    {"AEGP_SetDynamicStreamFlag", "AEGP Dynamic Stream Suite 2"},
    {"AEGP_DisposeStream", "AEGP Stream Suite 7"},
    {"PF_UpdateParamUI", "PF Param Utils Suite 3"},
    {"AEGP_DisposeEffect", "AEGP Effect Suite 2", 1},
};

const std::vector<Through> kReset = {
    {"AEGP_GetNewEffectForEffect", "AEGP PF Interface Suite 1", 1},
    {"AEGP_StartUndoGroup", "AEGP Utility Suite 7", 1},
    {"AEGP_GetNewEffectStreamByIndex", "AEGP Stream Suite 9"},
    {"AEGP_SetStreamValue", "AEGP Stream Suite 9"},
    {"AEGP_DisposeStream", "AEGP Stream Suite 9"},
    {"AEGP_EndUndoGroup", "AEGP Utility Suite 7", 1},
    {"AEGP_DisposeEffect", "AEGP Effect Suite 3", 1},
};

// A link button takes the effect reference like a reset and writes nothing.
const std::vector<Through> kLink = {
    {"AEGP_GetNewEffectForEffect", "AEGP PF Interface Suite 1", 1},
    {"AEGP_DisposeEffect", "AEGP Effect Suite 3", 1},
};

// The animation query of the five transform controls.
const std::vector<Through> kRender = {
    {"AEGP_GetNewEffectForEffect", "AEGP PF Interface Suite 1", 1},
    {"AEGP_GetNewEffectStreamByIndex", "AEGP Stream Suite 9", 5},
    {"AEGP_GetStreamNumKFs", "AEGP Keyframe Suite 4", 5},
    {"AEGP_DisposeStream", "AEGP Stream Suite 7", 5},
    {"AEGP_DisposeEffect", "AEGP Effect Suite 2", 1},
};

// What is obtained, and what gives it back.
const std::pair<const char*, const char*> kObtainAndDispose[] = {
    {"AEGP_GetNewEffectForEffect", "AEGP_DisposeEffect"},
    {"AEGP_GetNewEffectStreamByIndex", "AEGP_DisposeStream"},
    {"AEGP_StartUndoGroup", "AEGP_EndUndoGroup"},
};

bool IsSuiteTableCall(const vhost::CallRecord& call) {
  return !call.detail.empty() && call.function != "AcquireSuite" && call.function != "ReleaseSuite";
}

// The effect linked in behind the command log, so that a render job shows its pre-render's
// calls as well as the render's, each as a command of its own.
class SuiteVersionsTest : public HostTest {
 protected:
  void SetUp() override {
    Adopt(std::make_unique<vhost::Host>(&reliability::CommandLog::Entry));
    ASSERT_EQ(host().GlobalSetup(), PF_Err_NONE);
    ASSERT_EQ(host().ParamsSetup(), PF_Err_NONE);
    reliability::CommandLog::Take();
  }

  // Sends the command and checks each of its host commands, and all of them together, against
  // the use `want` describes.
  void Check(const SuiteUse& want) {
    SCOPED_TRACE(want.command);
    reliability::CommandLog::Take();
    ASSERT_EQ(want.send(host()), PF_Err_NONE);
    const std::vector<reliability::CommandRecord> records = reliability::CommandLog::Take();
    ASSERT_FALSE(records.empty());

    std::map<std::string, std::multiset<std::string>> through;  // function -> suites
    std::set<std::string> acquired;
    for (const reliability::CommandRecord& record : records) {
      std::multiset<std::string> acquires, releases;
      for (const vhost::CallRecord& call : record.calls) {
        if (call.function == "AcquireSuite") acquires.insert(call.detail);
        if (call.function == "ReleaseSuite") releases.insert(call.detail);
        if (IsSuiteTableCall(call)) through[call.function].insert(call.detail);
      }
      EXPECT_EQ(releases, acquires)
          << vhost::CommandName(record.cmd) << ": suites released are not those acquired";
      acquired.insert(acquires.begin(), acquires.end());
    }

    std::set<std::string> named;
    for (const Through& row : want.calls) {
      named.insert(row.suite);
      const std::multiset<std::string>& suites = through[row.function];
      const auto right = static_cast<int>(suites.count(row.suite));
      EXPECT_EQ(right, static_cast<int>(suites.size()))
          << row.function << " came through another suite than " << row.suite;
      if (row.times) {
        EXPECT_EQ(right, row.times) << row.function << " through " << row.suite;
      } else {
        EXPECT_GT(right, 0) << row.function << " through " << row.suite;
      }
    }
    for (const auto& [function, suites] : through) {
      const bool listed = std::any_of(want.calls.begin(), want.calls.end(),
                                      [&](const Through& row) { return row.function == function; });
      EXPECT_TRUE(listed) << function << " was called (through " << *suites.begin() << ")";
    }
    // A suite acquired and never called through costs the host a lookup and the command a
    // refusal where the host lacks it.
    EXPECT_EQ(acquired, named) << "suites acquired are not those called through";

    for (const auto& [obtain, dispose] : kObtainAndDispose)
      EXPECT_EQ(through[dispose].size(), through[obtain].size()) << dispose << " after " << obtain;
  }

  PageOpenerStub opener_;
};

TEST_F(SuiteVersionsTest, EachCallGoesThroughItsSuiteVersionAndEverySuiteIsReleased) {
  const vhost::Image input = rtest::Pattern(16, 12, 8);
  auto render = [&input](vhost::Host& host) {
    vhost::RenderJob job;
    job.timing = reliability::FrameTiming(2);
    job.input = &input;
    return host.Render(job).err;
  };
  auto button = [](int index) {
    return [index](vhost::Host& host) { return host.UserChangedParam(index); };
  };
  const SuiteUse uses[] = {
      {"panel update", [](vhost::Host& host) { return host.UpdateParamsUI(); }, kPanelUpdate},
      {"Reset Adjustments", button(PARAM_RESET_ADJUSTMENTS), kReset},
      {"Reset Transforms", button(PARAM_RESET_TRANSFORMS), kReset},
      {"Reset Iterations", button(PARAM_RESET_ITERATIONS), kReset},
      {"Reset Multipliers", button(PARAM_RESET_MULTIPLIERS), kReset},
      {"product page", button(PARAM_PRODUCT_PAGE), kLink},
      {"render", render, kRender},
  };
  for (const SuiteUse& use : uses) Check(use);

  // Neither the suites nor the count of streams depend on the transform being animated.
  host().controls().SetKeyframes(PARAM_ROTATE, {{0, 0}, {1, 90}});
  host().controls().SetValue(PARAM_SHUTTER_DURATION, 100);
  Check({"render, animated", render, kRender});
}

}  // namespace
