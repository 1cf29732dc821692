// AEGP_SuiteHandler against a scripted basic suite: caching, per-version slots, release order and
// the missing-suite error.
#include "hostkit/suite_handler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Log {
  std::vector<std::string> events;
  std::string refuse;  // "name version" to refuse
  bool null_suite = false;
} g_log;

const int kDummyTable = 0;

SPErr Acquire(const char* name, int32_t version, const void** suite) {
  std::string key = std::string(name) + " " + std::to_string(version);
  g_log.events.push_back("acquire " + key);
  if (key == g_log.refuse) return kSPSuiteNotFoundError;
  *suite = g_log.null_suite ? nullptr : &kDummyTable;
  return kSPNoError;
}

SPErr Release(const char* name, int32_t version) {
  g_log.events.push_back("release " + std::string(name) + " " + std::to_string(version));
  return kSPNoError;
}

SPBasicSuite g_basic = {Acquire, Release};

class SuiteHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override { g_log = Log{}; }
};

TEST_F(SuiteHandlerTest, OneAcquisitionAndOneReleasePerPair) {
  {
    AEGP_SuiteHandler suites(&g_basic);
    EXPECT_EQ(suites.HandleSuite2(), suites.HandleSuite2());
  }
  EXPECT_EQ(g_log.events,
            (std::vector<std::string>{"acquire PF Handle Suite 2", "release PF Handle Suite 2"}));
}

TEST_F(SuiteHandlerTest, TwoVersionsOfOneSuiteAreTwoSlots) {
  {
    AEGP_SuiteHandler suites(&g_basic);
    suites.StreamSuite9();
    suites.StreamSuite7();
    suites.StreamSuite9();
  }
  EXPECT_EQ(g_log.events, (std::vector<std::string>{
                              "acquire AEGP Stream Suite 9", "acquire AEGP Stream Suite 7",
                              "release AEGP Stream Suite 7", "release AEGP Stream Suite 9"}));
}

TEST_F(SuiteHandlerTest, ReleasesInSlotOrderNotAcquisitionOrder) {
  {
    AEGP_SuiteHandler suites(&g_basic);
    suites.ParamUtilsSuite3();
    suites.UtilitySuite7();
    suites.KeyframeSuite4();
  }
  std::vector<std::string> releases(g_log.events.begin() + 3, g_log.events.end());
  EXPECT_EQ(releases, (std::vector<std::string>{"release AEGP Keyframe Suite 4",
                                                "release AEGP Utility Suite 7",
                                                "release PF Param Utils Suite 3"}));
}

TEST_F(SuiteHandlerTest, RefusedSuiteThrows516AndEarlierSuitesAreReleased) {
  g_log.refuse = "AEGP Effect Suite 2";
  PF_Err caught = 0;
  try {
    AEGP_SuiteHandler suites(&g_basic);
    suites.PFInterfaceSuite1();
    suites.EffectSuite2();
    ADD_FAILURE() << "a refused suite must throw";
  } catch (PF_Err err) {
    caught = err;
  }
  EXPECT_EQ(caught, PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(g_log.events.back(), "release AEGP PF Interface Suite 1");
  EXPECT_EQ(std::count_if(g_log.events.begin(), g_log.events.end(),
                          [](const std::string& e) { return e.rfind("release", 0) == 0; }),
            1);
}

TEST_F(SuiteHandlerTest, NullSuitePointerIsMissing) {
  g_log.null_suite = true;
  AEGP_SuiteHandler suites(&g_basic);
  EXPECT_THROW(suites.ANSICallbacksSuite1(), PF_Err);
}

TEST_F(SuiteHandlerTest, NullBasicSuiteIsMissing) {
  try {
    AEGP_SuiteHandler suites(nullptr);
    ADD_FAILURE() << "a null basic suite must throw";
  } catch (PF_Err err) {
    EXPECT_EQ(err, PF_Err_BAD_CALLBACK_PARAM);
  }
}

}  // namespace
