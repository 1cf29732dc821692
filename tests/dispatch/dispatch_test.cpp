// The entry point through the real module: routing, version and flags, thrown codes, About.
#include <cstdio>
#include <cstring>
#include <fstream>

#include "support/host_fixture.h"

namespace {

using DispatchTest = HostTest;

TEST_F(DispatchTest, CodesWithoutARowChangeNothing) {
  PF_OutData before = host().out_data();
  std::memset(&before, 0x5A, sizeof before);
  for (PF_Cmd cmd :
       {2, 5, 6, 7, 8, 9, 10, 11, 12, 15, 16, 17, 19, 20, 21, 22, 25, 26, 100, 1 << 20}) {
    host().out_data() = before;
    EXPECT_EQ(host().Send(cmd), PF_Err_NONE) << "command " << cmd;
    EXPECT_EQ(std::memcmp(&host().out_data(), &before, sizeof before), 0) << "command " << cmd;
  }
  // Nothing was asked of the host either.
  EXPECT_TRUE(probe().last_calls().empty());
}

TEST_F(DispatchTest, GlobalSetupReportsVersionAndFlags) {
  EXPECT_EQ(host().GlobalSetup(), PF_Err_NONE);
  EXPECT_EQ(host().out_data().my_version, 0x000B0804u);
  EXPECT_EQ(host().out_data().out_flags, 0x04000004);
  EXPECT_EQ(host().out_data().out_flags2, 0x08021409);
}

TEST_F(DispatchTest, VersionAndFlagsArriveEvenWhenTheRestOfGlobalSetupFails) {
  probe().RefuseSuite("PF Handle Suite");
  EXPECT_EQ(host().GlobalSetup(), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(host().out_data().my_version, 0x000B0804u);
  EXPECT_EQ(host().out_data().out_flags, 0x04000004);
  EXPECT_EQ(host().out_data().out_flags2, 0x08021409);
  probe().ClearFaults();
}

TEST_F(DispatchTest, AboutTextStartsWithProductAndDescription) {
  std::string text;
  ASSERT_EQ(host().About(&text), PF_Err_NONE);
  const std::string head =
      "Varnex v1.6.1\n\nDisplaces pixels based on selected channels\n"
      "using a variety of transformations.\n\n";
  EXPECT_EQ(text.substr(0, head.size()), head);
  // Two credit lines follow, each ended by a line break.
  std::string credits = text.substr(head.size());
  ASSERT_FALSE(credits.empty());
  EXPECT_EQ(credits.back(), '\n');
  EXPECT_EQ(std::count(credits.begin(), credits.end(), '\n'), 2);
}

TEST_F(DispatchTest, ThrownCodeComesBackAsTheResult) {
  // A refused suite is thrown inside the handler as 516 and must be caught at the entry.
  probe().RefuseSuite("PF ANSI Suite", 1);
  std::string text;
  EXPECT_EQ(host().About(&text), PF_Err_BAD_CALLBACK_PARAM);
  probe().ClearFaults();
  EXPECT_EQ(host().About(&text), PF_Err_NONE);
}

TEST_F(DispatchTest, AboutAcquiresAndReleasesItsSuite) {
  ASSERT_EQ(host().About(nullptr), PF_Err_NONE);
  int acquired = 0, released = 0;
  for (const auto& call : probe().last_calls()) {
    if (call.function == "AcquireSuite" && call.detail == "PF ANSI Suite 1") ++acquired;
    if (call.function == "ReleaseSuite" && call.detail == "PF ANSI Suite 1") ++released;
  }
  EXPECT_EQ(acquired, 1);
  EXPECT_EQ(released, 1);
}

// Each way a module can fail to load is its own reason, with one line naming the file.
TEST(ModuleTest, EachLoadFailureIsTypedAndNamesTheFile) {
  const std::string text_file = ::testing::TempDir() + "varnex-not-a-module.so";
  std::ofstream(text_file) << "not a module";
  const struct {
    std::string path;
    vhost::ModuleLoadError::Reason reason;
    std::string why;
  } cases[] = {
      {"/nonexistent/varnex-effect.so", vhost::ModuleLoadError::Reason::kUnreadable,
       "cannot read it"},
      {text_file, vhost::ModuleLoadError::Reason::kNotAModule, "it is not a loadable module"},
      {VARNEX_NO_ENTRY_MODULE, vhost::ModuleLoadError::Reason::kNoEntryPoint,
       "it has no EffectMain entry point"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    try {
      vhost::Host host(c.path);
      ADD_FAILURE() << "loading must throw";
    } catch (const vhost::ModuleLoadError& e) {
      EXPECT_EQ(e.reason(), c.reason);
      EXPECT_EQ(e.path(), c.path);
      const std::string lead = "cannot load the plug-in " + c.path + ": " + c.why;
      EXPECT_EQ(std::string(e.what()).substr(0, lead.size()), lead);
      EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos);
    }
  }
  std::remove(text_file.c_str());
  // The module that does load afterwards is unaffected by the failures before it.
  vhost::Host host(VARNEX_MODULE);
  EXPECT_EQ(host.About(nullptr), PF_Err_NONE);
}

}  // namespace
