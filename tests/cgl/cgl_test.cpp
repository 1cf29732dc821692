#include "cgl.h"

#include <epoxy/egl.h>
#include <epoxy/gl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <barrier>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "support/scoped_env.h"

namespace {

using ::testing::HasSubstr;

constexpr CGLPixelFormatAttribute kCoreAttribs[] = {
    kCGLPFAOpenGLProfile, static_cast<CGLPixelFormatAttribute>(kCGLOGLPVersion_3_2_Core),
    static_cast<CGLPixelFormatAttribute>(0)};

CGLContextObj MakeContext(const CGLPixelFormatAttribute* attribs = kCoreAttribs) {
  CGLPixelFormatObj pix = nullptr;
  GLint npix = 0;
  const CGLError chosen = CGLChoosePixelFormat(attribs, &pix, &npix);
  EXPECT_EQ(chosen, kCGLNoError) << CGLErrorString(chosen);
  EXPECT_EQ(npix, 1);
  CGLContextObj ctx = nullptr;
  const CGLError created = CGLCreateContext(pix, nullptr, &ctx);
  EXPECT_EQ(created, kCGLNoError) << CGLErrorString(created);
  CGLDestroyPixelFormat(pix);
  return ctx;
}

// "4.5 (Core Profile) Mesa" -> 405, "4.50" -> 450, "3.30 NVIDIA" -> 330.
int VersionNumber(const GLubyte* text, int minor_scale) {
  int major = 0;
  int minor = 0;
  if (text == nullptr ||
      std::sscanf(reinterpret_cast<const char*>(text), "%d.%d", &major, &minor) != 2) {
    return 0;
  }
  return major * minor_scale + minor;
}

EGLContext CurrentEglContext() {
  eglBindAPI(EGL_OPENGL_API);
  return eglGetCurrentContext();
}

TEST(CglContext, DefaultAndCoreFormatsGiveCoreContextForGlsl330) {
  const CGLPixelFormatAttribute* lists[] = {kCoreAttribs, nullptr};
  for (const CGLPixelFormatAttribute* attribs : lists) {
    SCOPED_TRACE(attribs ? "core profile asked for" : "null attribute list");
    CGLContextObj ctx = MakeContext(attribs);
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(CGLSetCurrentContext(ctx), kCGLNoError);
    EXPECT_EQ(CGLGetCurrentContext(), ctx);
    EXPECT_GE(VersionNumber(glGetString(GL_VERSION), 10), 33) << glGetString(GL_VERSION);
    EXPECT_GE(VersionNumber(glGetString(GL_SHADING_LANGUAGE_VERSION), 100), 330);
    GLint profile = 0;
    glGetIntegerv(GL_CONTEXT_PROFILE_MASK, &profile);
    EXPECT_TRUE(profile & GL_CONTEXT_CORE_PROFILE_BIT) << profile;
    if (std::string(cgl::PlatformName()) == "device") {
      // Mesa's software device renders no better than its surfaceless platform, which is
      // preferred; a device is only worth it when it is real hardware.
      const std::string renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
      EXPECT_THAT(renderer,
                  ::testing::Not(::testing::AnyOf(HasSubstr("llvmpipe"), HasSubstr("softpipe"),
                                                  HasSubstr("swrast"))));
    }
    EXPECT_EQ(CGLSetCurrentContext(nullptr), kCGLNoError);
    EXPECT_EQ(CGLGetCurrentContext(), nullptr);
    EXPECT_EQ(CurrentEglContext(), EGL_NO_CONTEXT);
    EXPECT_EQ(CGLDestroyContext(ctx), kCGLNoError);
  }
  EXPECT_STRNE(cgl::PlatformName(), "none");
}

TEST(CglContext, LegacyFormatGivesCompatibilityProfile) {
  const CGLPixelFormatAttribute legacy[] = {
      kCGLPFAOpenGLProfile, static_cast<CGLPixelFormatAttribute>(kCGLOGLPVersion_Legacy),
      static_cast<CGLPixelFormatAttribute>(0)};
  CGLContextObj ctx = MakeContext(legacy);
  ASSERT_NE(ctx, nullptr);
  ASSERT_EQ(CGLSetCurrentContext(ctx), kCGLNoError);
  GLint profile = 0;
  glGetIntegerv(GL_CONTEXT_PROFILE_MASK, &profile);
  EXPECT_FALSE(profile & GL_CONTEXT_CORE_PROFILE_BIT) << profile;
  CGLSetCurrentContext(nullptr);
  CGLDestroyContext(ctx);
}

TEST(CglContext, ReferencesKeepContextAliveUntilLastIsGivenBack) {
  const int before = cgl::LiveContextCount();
  CGLContextObj ctx = MakeContext();
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(cgl::LiveContextCount(), before + 1);

  EXPECT_EQ(CGLRetainContext(ctx), ctx);
  EXPECT_EQ(CGLRetainContext(ctx), ctx);
  CGLReleaseContext(ctx);
  EXPECT_EQ(CGLDestroyContext(ctx), kCGLNoError);
  EXPECT_EQ(cgl::LiveContextCount(), before + 1);
  // Still usable with one reference left.
  ASSERT_EQ(CGLSetCurrentContext(ctx), kCGLNoError);
  EXPECT_NE(glGetString(GL_VERSION), nullptr);
  EXPECT_EQ(CGLSetCurrentContext(nullptr), kCGLNoError);

  CGLReleaseContext(ctx);
  EXPECT_EQ(cgl::LiveContextCount(), before);

  EXPECT_EQ(CGLRetainContext(nullptr), nullptr);
  CGLReleaseContext(nullptr);
  EXPECT_EQ(CGLDestroyContext(nullptr), kCGLBadContext);
  EXPECT_EQ(cgl::LiveContextCount(), before);
}

TEST(CglContext, DestroyingTheCurrentContextLeavesNoneCurrent) {
  CGLContextObj ctx = MakeContext();
  ASSERT_NE(ctx, nullptr);
  ASSERT_EQ(CGLSetCurrentContext(ctx), kCGLNoError);
  EXPECT_EQ(CGLDestroyContext(ctx), kCGLNoError);
  EXPECT_EQ(CGLGetCurrentContext(), nullptr);
  EXPECT_EQ(CurrentEglContext(), EGL_NO_CONTEXT);

  CGLContextObj next = MakeContext();
  ASSERT_EQ(CGLSetCurrentContext(next), kCGLNoError);
  EXPECT_EQ(CGLGetCurrentContext(), next);
  EXPECT_NE(glGetString(GL_VERSION), nullptr);
  CGLSetCurrentContext(nullptr);
  CGLDestroyContext(next);
}

TEST(CglContext, SharedContextSeesObjectsOfTheOther) {
  CGLPixelFormatObj pix = nullptr;
  GLint npix = 0;
  ASSERT_EQ(CGLChoosePixelFormat(kCoreAttribs, &pix, &npix), kCGLNoError);
  CGLContextObj first = nullptr;
  CGLContextObj second = nullptr;
  ASSERT_EQ(CGLCreateContext(pix, nullptr, &first), kCGLNoError);
  ASSERT_EQ(CGLCreateContext(pix, first, &second), kCGLNoError);
  CGLDestroyPixelFormat(pix);

  ASSERT_EQ(CGLSetCurrentContext(first), kCGLNoError);
  GLuint texture = 0;
  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);
  glFinish();
  ASSERT_EQ(CGLSetCurrentContext(second), kCGLNoError);
  EXPECT_TRUE(glIsTexture(texture));
  glDeleteTextures(1, &texture);
  CGLSetCurrentContext(nullptr);
  CGLDestroyContext(second);
  CGLDestroyContext(first);
}

TEST(CglPixelFormat, RejectsWhatItDoesNotUnderstand) {
  const auto attr = [](int value) { return static_cast<CGLPixelFormatAttribute>(value); };
  struct Case {
    const char* name;
    std::vector<CGLPixelFormatAttribute> attribs;
    CGLError expected;
    const char* detail;
  } cases[] = {
      {"unknown attribute", {attr(73), attr(0)}, kCGLBadAttribute, "73"},
      {"unknown attribute after a good one",
       {kCGLPFAOpenGLProfile, attr(kCGLOGLPVersion_3_2_Core), attr(5), attr(0)},
       kCGLBadAttribute,
       "5"},
      {"unknown profile", {kCGLPFAOpenGLProfile, attr(0x4242), attr(0)}, kCGLBadValue, "16962"},
      {"profile without value", {kCGLPFAOpenGLProfile, attr(0)}, kCGLBadValue, "profile"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CGLPixelFormatObj pix = reinterpret_cast<CGLPixelFormatObj>(&pix);
    GLint npix = 7;
    EXPECT_EQ(CGLChoosePixelFormat(c.attribs.data(), &pix, &npix), c.expected);
    EXPECT_EQ(pix, nullptr);
    EXPECT_EQ(npix, 0);
    EXPECT_THAT(CGLErrorString(c.expected), HasSubstr(c.detail));
  }

  CGLContextObj ctx = reinterpret_cast<CGLContextObj>(&ctx);
  EXPECT_EQ(CGLCreateContext(nullptr, nullptr, &ctx), kCGLBadPixelFormat);
  EXPECT_EQ(ctx, nullptr);
  EXPECT_EQ(CGLDestroyPixelFormat(nullptr), kCGLNoError);
}

TEST(CglErrors, EveryCodeHasItsOwnText) {
  std::set<std::string> seen;
  for (int code : {0,     10000, 10001, 10002, 10003, 10004, 10005, 10006, 10007, 10008, 10009,
                   10010, 10011, 10012, 10013, 10014, 10015, 10016, 10017, 4,     12345}) {
    const char* text = CGLErrorString(static_cast<CGLError>(code));
    ASSERT_NE(text, nullptr) << code;
    EXPECT_STRNE(text, "") << code;
    seen.insert(text);
  }
  // The two unknown codes share the generic text.
  EXPECT_EQ(seen.size(), 20u);
}

TEST(CglThreads, TwoThreadsRenderWithTheirOwnContextsAtOnce) {
  std::barrier sync(2);
  auto work = [&sync](float red) {
    CGLContextObj ctx = MakeContext();
    // No early return before the barriers: the other thread would wait forever.
    const bool current = ctx != nullptr && CGLSetCurrentContext(ctx) == kCGLNoError;
    EXPECT_TRUE(current);
    sync.arrive_and_wait();  // both current now
    if (current) glClearColor(red, 0, 0, 1);
    sync.arrive_and_wait();  // both have set their state
    if (!current) return;
    GLfloat clear[4] = {};
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    EXPECT_FLOAT_EQ(clear[0], red);
    EXPECT_EQ(CGLGetCurrentContext(), ctx);
    EXPECT_EQ(CGLSetCurrentContext(nullptr), kCGLNoError);
    EXPECT_EQ(CGLDestroyContext(ctx), kCGLNoError);
  };
  std::thread a(work, 0.25f);
  std::thread b(work, 0.75f);
  a.join();
  b.join();
}

TEST(CglThreads, ContextCurrentElsewhereIsRefusedWithEglDetailOnThatThreadOnly) {
  CGLContextObj ctx = MakeContext();
  ASSERT_NE(ctx, nullptr);
  ASSERT_EQ(CGLSetCurrentContext(ctx), kCGLNoError);
  std::thread([ctx] {
    EXPECT_EQ(CGLSetCurrentContext(ctx), kCGLBadState);
    EXPECT_THAT(CGLErrorString(kCGLBadState),
                HasSubstr("EGL_BAD_ACCESS (0x3002) from eglMakeCurrent"));
    EXPECT_EQ(CGLGetCurrentContext(), nullptr);
  }).join();
  EXPECT_THAT(CGLErrorString(kCGLBadState), ::testing::Not(HasSubstr("EGL")));
  CGLSetCurrentContext(nullptr);
  CGLDestroyContext(ctx);
}

TEST(CglThreads, ContextLeftCurrentByAnEndedThreadCanBeUsedAgain) {
  CGLContextObj ctx = MakeContext();
  ASSERT_NE(ctx, nullptr);
  std::thread([ctx] { ASSERT_EQ(CGLSetCurrentContext(ctx), kCGLNoError); }).join();
  const CGLError error = CGLSetCurrentContext(ctx);
  EXPECT_EQ(error, kCGLNoError) << CGLErrorString(error);
  CGLSetCurrentContext(nullptr);
  CGLDestroyContext(ctx);
}

TEST(CglThreads, LastReferenceGivenBackElsewhereHidesTheHandle) {
  const int before = cgl::LiveContextCount();
  CGLContextObj ctx = MakeContext();
  ASSERT_NE(ctx, nullptr);
  std::barrier sync(2);
  std::thread user([&] {
    EXPECT_EQ(CGLSetCurrentContext(ctx), kCGLNoError);
    sync.arrive_and_wait();  // current here
    sync.arrive_and_wait();  // released on the main thread
    EXPECT_EQ(CGLGetCurrentContext(), nullptr);
    EXPECT_EQ(CGLSetCurrentContext(nullptr), kCGLNoError);
  });
  sync.arrive_and_wait();
  CGLReleaseContext(ctx);
  EXPECT_EQ(cgl::LiveContextCount(), before);
  sync.arrive_and_wait();
  user.join();
}

// The display is opened once per process, so cases about how it is opened run in a fresh copy
// of this binary. `body` returns what went wrong, empty when nothing did.
void ExpectCleanRunInFreshProcess(std::string (*body)()) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        const std::string problems = body();
        std::fputs(problems.c_str(), stderr);
        std::exit(problems.empty() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// What must hold when no display can be opened; `reason` is expected in the error text.
std::string CheckEveryCallFailsCleanly(const char* reason) {
  std::string problems;
  auto expect = [&problems](bool ok, const std::string& what) {
    if (!ok) problems += what + "\n";
  };
  CGLPixelFormatObj pix = nullptr;
  GLint npix = 5;
  const CGLError chosen = CGLChoosePixelFormat(kCoreAttribs, &pix, &npix);
  const std::string text = CGLErrorString(chosen);
  expect(chosen == kCGLBadDisplay, "choose returned " + std::to_string(chosen));
  expect(pix == nullptr && npix == 0, "choose gave a pixel format");
  expect(text.find(reason) != std::string::npos, "error text: " + text);
  CGLContextObj ctx = reinterpret_cast<CGLContextObj>(&ctx);
  expect(CGLCreateContext(pix, nullptr, &ctx) != kCGLNoError, "create succeeded");
  expect(ctx == nullptr, "create gave a context");
  expect(CGLSetCurrentContext(nullptr) == kCGLNoError, "releasing nothing failed");
  expect(CGLGetCurrentContext() == nullptr, "a context is current");
  expect(cgl::LiveContextCount() == 0, "contexts are alive");
  expect(std::string(cgl::PlatformName()) == "none",
         std::string("platform ") + cgl::PlatformName());
  return problems;
}

TEST(CglFreshProcessDeathTest, WithoutEglDriverEveryCallFailsCleanly) {
  ScopedEnv no_vendor("__EGL_VENDOR_LIBRARY_FILENAMES", "/nonexistent.json");
  ExpectCleanRunInFreshProcess([] { return CheckEveryCallFailsCleanly("no EGL driver"); });
}

TEST(CglFreshProcessDeathTest, WithoutLoadableLibEglEveryCallFailsCleanly) {
  // A broken libEGL.so.1 first on the search path makes loading it fail as if it were absent;
  // epoxy aborts the process if an EGL function is called then.
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("cgl_test_noegl_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "libEGL.so.1") << "not a library\n";
  {
    ScopedEnv path("LD_LIBRARY_PATH", dir.string());
    ExpectCleanRunInFreshProcess([] { return CheckEveryCallFailsCleanly("libEGL"); });
  }
  std::filesystem::remove_all(dir);
}

TEST(CglFreshProcessDeathTest, ExitsCleanlyWhileOtherThreadsHoldCurrentContexts) {
  ExpectCleanRunInFreshProcess([]() -> std::string {
    CGLContextObj mine = MakeContext();
    if (mine == nullptr || CGLSetCurrentContext(mine) != kCGLNoError) return "no context\n";
    std::atomic<bool> ready{false};
    std::thread([&ready] {
      CGLContextObj ctx = MakeContext();
      CGLSetCurrentContext(ctx);
      glClear(GL_COLOR_BUFFER_BIT);
      ready = true;
      // Keep using the library while the process runs its exit handlers.
      for (;;) {
        CGLReleaseContext(CGLRetainContext(ctx));
        if (CGLGetCurrentContext() != ctx || cgl::LiveContextCount() != 2) std::_Exit(3);
      }
    }).detach();
    while (!ready) std::this_thread::yield();
    return {};
  });
}

}  // namespace
