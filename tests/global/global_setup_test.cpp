// The global GL record built at global setup and torn down at global setdown, through our host.
#include <epoxy/egl.h>
#include <epoxy/gl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "gl/context.h"
#include "support/effect_main.h"
#include "support/host_fixture.h"
#include "support/output_capture.h"
#include "support/scoped_env.h"

namespace {

using ::testing::Each;
using ::testing::Eq;
using ::testing::Ne;

EGLContext CurrentEglContext() {
  eglBindAPI(EGL_OPENGL_API);
  return eglGetCurrentContext();
}

LocalGLStruct* Record(vhost::Host& host) {
  return static_cast<LocalGLStruct*>(GlobalBlock(host));
}

// The driver's text as a field of the record should hold it.
std::string DriverText(GLenum name) {
  const char* text = reinterpret_cast<const char*>(glGetString(name));
  return std::string(text ? text : "").substr(0, 99);
}

// The five programs of a record, in the order the effect builds them.
std::vector<GLuint> Programs(const LocalGLStruct& record) {
  const auto& p = record.programs;
  return {p.swizzleInProgram, p.displaceProgram, p.blurWProgram, p.blurHProgram, p.identityProgram};
}

bool Terminated(const char (&field)[100]) {
  return std::memchr(field, '\0', 100) != nullptr;
}

// Sends a command that must succeed without a word. Nothing was current before the command, so
// nothing may be after it.
void ExpectQuietSuccess(const std::function<PF_Err()>& send) {
  PF_Err err = -1;
  EXPECT_EQ(CaptureOutput([&] { err = send(); }), "");
  EXPECT_EQ(err, PF_Err_NONE);
  EXPECT_EQ(CurrentEglContext(), EGL_NO_CONTEXT);
}

using GlobalSetupTest = HostTest;

TEST_F(GlobalSetupTest, BuildsAContextWithFiveProgramsAndTheDriverTexts) {
  ExpectQuietSuccess([&] { return host().GlobalSetup(); });

  const LocalGLStruct* record = Record(host());
  ASSERT_NE(record, nullptr);
  EXPECT_NE(record->ctx, nullptr);
  EXPECT_THAT(Programs(*record), Each(Ne(0u)));
  ASSERT_TRUE(Terminated(record->glVersion) && Terminated(record->glVendor) &&
              Terminated(record->glRenderer) && Terminated(record->glslVersion));

  // The same driver answers a context of our own.
  CGLContextObj mine = CreateContext(nullptr, nullptr);
  ASSERT_NE(mine, nullptr);
  SetCurrentContext(mine);
  EXPECT_EQ(record->glVersion, DriverText(GL_VERSION));
  EXPECT_EQ(record->glVendor, DriverText(GL_VENDOR));
  EXPECT_EQ(record->glRenderer, DriverText(GL_RENDERER));
  EXPECT_EQ(record->glslVersion, DriverText(GL_SHADING_LANGUAGE_VERSION));
  EXPECT_STRNE(record->glslVersion, "");
  DeleteContext(mine);
  SetCurrentContext(nullptr);
}

TEST_F(GlobalSetupTest, TearDownDeletesTheRecordsObjectsOnce) {
  ASSERT_EQ(host().GlobalSetup(), PF_Err_NONE);
  ExpectQuietSuccess([&] { return host().GlobalSetdown(); });
  const LocalGLStruct* record = Record(host());
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->ctx, nullptr);
  EXPECT_THAT(Programs(*record), Each(Eq(0u)));
  // A second tear-down finds nothing left to delete.
  ExpectQuietSuccess([&] { return host().GlobalSetdown(); });
}

TEST_F(GlobalSetupTest, WithoutTheHandleSuiteSetupFails) {
  probe().RefuseSuite(kPFHandleSuite, 2);
  EXPECT_EQ(host().GlobalSetup(), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(host().out_data().global_data, nullptr);
  EXPECT_EQ(host().GlobalSetdown(), PF_Err_BAD_CALLBACK_PARAM);
}

TEST_F(GlobalSetupTest, HandleThatCannotBeMadeOrLockedLeavesNoGlobalData) {
  // An unlocked block was never zeroed: keeping it would hand tear-down a garbage context.
  for (const char* failing : {"host_new_handle", "host_lock_handle"}) {
    SCOPED_TRACE(failing);
    probe().FailCall(failing);
    EXPECT_EQ(host().GlobalSetup(), PF_Err_NONE);
    EXPECT_EQ(host().out_data().global_data, nullptr);
    EXPECT_EQ(host().GlobalSetdown(), PF_Err_NONE);
  }
  // Once the host cooperates, setup succeeds.
  EXPECT_EQ(host().GlobalSetup(), PF_Err_NONE);
  ASSERT_NE(Record(host()), nullptr);
  EXPECT_NE(Record(host())->ctx, nullptr);
}

// The effect linked into this executable shares its context layer with the test, so the test
// can hold a context of its own that setup has to put back. (The module keeps its own private
// copy of that layer, which cannot see contexts made outside it.)
TEST(GlobalSetupInProcess, PutsBackTheCallersContextAndTearDownLeavesNone) {
  CGLContextObj caller = CreateContext(nullptr, nullptr);
  ASSERT_NE(caller, nullptr);
  SetCurrentContext(caller);
  GLuint texture = 0;
  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);
  glBindTexture(GL_TEXTURE_2D, 0);
  {
    vhost::Host host(&EffectMain);
    host.probe();
    ASSERT_EQ(host.GlobalSetup(), PF_Err_NONE);
    EXPECT_EQ(GetCurrentContext(), caller);
    EXPECT_TRUE(glIsTexture(texture)) << "GL calls no longer reach the caller's context";

    LocalGLStruct* record = Record(host);
    ASSERT_NE(record, nullptr);
    ASSERT_NE(record->ctx, nullptr);
    EXPECT_NE(record->ctx, caller);
    // The programs live in the record's own context.
    SetCurrentContext(record->ctx);
    for (GLuint program : {record->programs.swizzleInProgram, record->programs.displaceProgram,
                           record->programs.blurWProgram, record->programs.blurHProgram,
                           record->programs.identityProgram}) {
      EXPECT_TRUE(glIsProgram(program)) << program;
    }
    SetCurrentContext(caller);

    EXPECT_EQ(host.GlobalSetdown(), PF_Err_NONE);
    EXPECT_EQ(GetCurrentContext(), nullptr);
    EXPECT_EQ(CurrentEglContext(), EGL_NO_CONTEXT);
    for (const std::string& leak : host.probe().leaks()) ADD_FAILURE() << "host reports: " << leak;
  }
  SetCurrentContext(caller);
  glDeleteTextures(1, &texture);
  DeleteContext(caller);
  SetCurrentContext(nullptr);
}

// What must hold when no GL context can be made; returns the problems found.
std::string CheckSetupWithoutGL() {
  std::string problems;
  auto expect = [&problems](bool ok, const std::string& what) {
    if (!ok) problems += what + "\n";
  };
  vhost::Host host(VARNEX_MODULE);
  host.probe();
  expect(host.GlobalSetup() == PF_Err_NONE, "setup failed");
  const auto* record = static_cast<const unsigned char*>(GlobalBlock(host));
  expect(record != nullptr, "no global block");
  if (record != nullptr) {
    // A null context, no programs and four empty texts: the whole block is zero.
    for (size_t i = 0; i < sizeof(LocalGLStruct); ++i) {
      if (record[i] != 0) {
        expect(false, "block byte " + std::to_string(i) + " is not zero");
        break;
      }
    }
  }
  PF_Err err = -1;
  const std::string output = CaptureOutput([&] { err = host.GlobalSetdown(); });
  expect(err == PF_Err_NONE, "tear-down failed");
  // Any GL call without a context would print or abort; tear-down must make none.
  expect(output.empty(), "tear-down printed: " + output);
  for (const std::string& leak : host.probe().leaks()) expect(false, "host reports: " + leak);
  return problems;
}

TEST(GlobalSetupFreshProcessDeathTest, WithoutGLSetupSucceedsWithAnEmptyRecord) {
  // The EGL display is opened once per process, so this runs in a fresh copy of the binary
  // that finds no EGL driver.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  ScopedEnv no_driver("__EGL_VENDOR_LIBRARY_FILENAMES", "/nonexistent.json");
  EXPECT_EXIT(
      {
        const std::string problems = CheckSetupWithoutGL();
        std::fputs(problems.c_str(), stderr);
        std::exit(problems.empty() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
