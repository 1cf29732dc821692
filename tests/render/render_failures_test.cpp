// The render's failure paths and its mended faults, driven through our host with the effect linked
// into the test, so that the messages reaching the effect's (silent) sink can be observed.
#include <epoxy/gl.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cgl.h"
#include "gl/context.h"
#include "gl/program.h"
#include "hostkit/checkout_ids.h"
#include "params/message_observer.h"
#include "render/render_support.h"
#include "support/effect_main.h"
#include "support/message_capture.h"
#include "support/test_images.h"

namespace {

using Strings = std::vector<std::string>;

class RenderFailureTest : public rtest::RenderTest {
 protected:
  std::unique_ptr<vhost::Host> MakeHost() override {
    return std::make_unique<vhost::Host>(&EffectMain);
  }
  void SetUp() override {
    messages_.emplace();
    rtest::RenderTest::SetUp();
    input_ = rtest::Pattern(16, 12, 8);
    map_ = rtest::Uniform(16, 12, 8, 1, 1, 0, 0);
  }
  void TearDown() override {
    rtest::RenderTest::TearDown();
    messages_.reset();
  }
  Strings TakeMessages() { return messages_->Take(); }
  // An 8-bit render into an output of `size`, whatever the pre-render's rectangle.
  vhost::RenderResult RenderSized(const vhost::Image* input, std::pair<int, int> size) {
    vhost::RenderJob job;
    job.timing = DefaultTiming();
    job.bpc = 8;
    job.input = input;
    job.output_size = size;
    return host().Render(job);
  }
  // An input that has no pixels to displace gives a cleared output and no message.
  void ExpectClearedQuietly(const vhost::Image* input, std::pair<int, int> size) {
    const vhost::RenderResult r = RenderSized(input, size);
    EXPECT_EQ(r.err, PF_Err_NONE);
    EXPECT_TRUE(testimg::IsCleared(r.output));
    EXPECT_EQ(TakeMessages(), Strings{});
  }
  // After a failure the next render on the same thread must work: no lock held, no stale state.
  void ExpectRecovered() {
    probe().ClearFaults();
    vhost::RenderResult r = Render(input_, &map_);
    EXPECT_EQ(r.err, PF_Err_NONE);
    EXPECT_FALSE(testimg::IsCleared(r.output));
    TakeMessages();
  }
  // Renders a row `width_of(limit)` pixels wide, with a fractional displacement, at two
  // "Anti-Aliasing" values; both must succeed, write pixels and agree byte for byte.
  void ExpectSameAtBothFactors(int (*width_of)(GLint limit), int first, int second) {
    GLint max_size = 0;
    std::thread([&] {
      ASSERT_EQ(Render(input_).err, PF_Err_NONE);
      glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_size);
    }).join();
    vhost::Image wide = rtest::Pattern(width_of(max_size), 2, 8);
    UseFullAmount();
    Set(PARAM_SCALE_X, 130);
    Set(PARAM_TRANSLATE_X, 0.37);
    Set(PARAM_ANTI_ALIASING, first);
    vhost::RenderResult a = Render(wide);
    Set(PARAM_ANTI_ALIASING, second);
    vhost::RenderResult b = Render(wide);
    ASSERT_EQ(a.err, PF_Err_NONE);
    ASSERT_EQ(b.err, PF_Err_NONE);
    EXPECT_FALSE(testimg::IsCleared(b.output));
    EXPECT_TRUE(rtest::SamePixels(a.output, b.output));
  }
  vhost::Image input_, map_;
  std::optional<MessageCapture> messages_;
};

TEST_F(RenderFailureTest, LayerCheckoutFailuresReturnTheirCodeSilently) {
  for (int nth : {1, 2}) {  // the input, then the map
    probe().FailCall("checkout_layer_pixels", nth, PF_Err_OUT_OF_MEMORY);
    vhost::RenderResult r = Render(input_, &map_);
    EXPECT_EQ(r.err, PF_Err_OUT_OF_MEMORY) << nth;
    EXPECT_TRUE(testimg::IsUnwritten(r.output)) << "no output was checked out, nothing written";
    EXPECT_EQ(TakeMessages(), Strings{});
    ExpectRecovered();
  }
}

TEST_F(RenderFailureTest, OutputCheckoutWithoutBufferReturnsSilently) {
  probe().FailCall("checkout_output", 1, PF_Err_INTERNAL_STRUCT_DAMAGED);
  vhost::RenderResult r = Render(input_, &map_);
  EXPECT_EQ(r.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_TRUE(testimg::IsUnwritten(r.output));
  EXPECT_EQ(TakeMessages(), Strings{});
  ExpectRecovered();
}

TEST_F(RenderFailureTest, OutputCheckoutWithBufferAndErrorClearsAndReports) {
  probe().FailCallAfterRunning("checkout_output", 1, 7);
  vhost::RenderResult r = Render(input_, &map_);
  EXPECT_EQ(r.err, 7);
  EXPECT_TRUE(testimg::IsCleared(r.output));
  EXPECT_EQ(TakeMessages(), Strings{"error on buffer checkout err 7 err2 0"});
  ExpectRecovered();
}

TEST_F(RenderFailureTest, MissingInputLayerLeavesTheOutputCleared) {
  ExpectClearedQuietly(nullptr, {16, 12});
}

TEST_F(RenderFailureTest, ControlCheckoutAndCheckinFailures) {
  // The 5th control read is index 6; later indices must not be read.
  probe().FailCall("checkout_param", 5, 9);
  vhost::RenderResult r = Render(input_, &map_);
  EXPECT_EQ(r.err, 9);
  EXPECT_TRUE(testimg::IsCleared(r.output));
  EXPECT_EQ(TakeMessages(), (Strings{"error on param checkout err 9 err2 0",
                                     "error on param initialisation err 9 err2 0"}));
  int checkouts = 0;
  for (const auto& call : probe().last_calls()) checkouts += call.function == "checkout_param";
  EXPECT_EQ(checkouts, 5);
  ExpectRecovered();

  probe().FailCall("checkin_param", 3, 11);
  r = Render(input_, &map_);
  EXPECT_EQ(r.err, 11);
  EXPECT_EQ(TakeMessages(), (Strings{"error on param checkout err 11 err2 11",
                                     "error on param initialisation err 11 err2 0"}));
  ExpectRecovered();
}

TEST_F(RenderFailureTest, TransformAndAnimationQueryFailuresReleaseWhatWasObtained) {
  // 68 controls are read first; the 70th checkout is a transform control at the earlier time.
  const struct {
    const char* function;
    int nth;
  } faults[] = {{"checkout_param", 70},
                {"checkin_param", 75},
                {"AEGP_GetNewEffectForEffect", 1},
                {"AEGP_GetNewEffectStreamByIndex", 3},
                {"AEGP_GetStreamNumKFs", 2},
                {"AEGP_DisposeStream", 4},
                {"AEGP_DisposeEffect", 1}};
  for (const auto& fault : faults) {
    probe().FailCall(fault.function, fault.nth, 13);
    vhost::RenderResult r = Render(input_, &map_);
    EXPECT_EQ(r.err, 13) << fault.function;
    EXPECT_TRUE(testimg::IsCleared(r.output)) << fault.function;
    EXPECT_EQ(TakeMessages(), Strings{"error on param initialisation err 13 err2 0"})
        << fault.function;
    ExpectRecovered();
  }
  // The host fails the test (TearDown) if any stream or effect reference was left undisposed.
}

TEST_F(RenderFailureTest, RefusedSuiteFailsWith516AndReleasesTheRest) {
  for (const char* suite : {"AEGP PF Interface Suite", "AEGP Stream Suite", "AEGP Keyframe Suite",
                            "AEGP Effect Suite"}) {
    probe().RefuseSuite(suite);
    vhost::RenderResult r = Render(input_, &map_);
    EXPECT_EQ(r.err, PF_Err_BAD_CALLBACK_PARAM) << suite;
    EXPECT_TRUE(testimg::IsCleared(r.output)) << suite;
    EXPECT_EQ(TakeMessages(), Strings{}) << suite;
    ExpectRecovered();
  }
}

TEST_F(RenderFailureTest, NoGLStateIsReportedAndTheLockReleased) {
  // A host whose global setup made no context: the render thread must not make one either.
  vhost::Host bare(&EffectMain);
  bare.probe();
  ASSERT_EQ(bare.ParamsSetup(), PF_Err_NONE);
  std::thread([&] {
    vhost::RenderJob job;
    job.timing = DefaultTiming();
    job.bpc = 8;
    job.input = &input_;
    vhost::RenderResult r = bare.Render(job);
    EXPECT_EQ(r.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_TRUE(testimg::IsCleared(r.output));
    EXPECT_EQ(local_render_data.get(), nullptr);
  }).join();
  EXPECT_EQ(TakeMessages(), Strings{"error on local_render_data.get() err 0 err2 0"});
  EXPECT_TRUE(bare.probe().leaks().empty());
  ExpectRecovered();
}

// ---- Mended faults ---------------------------------------------------------------------------

TEST_F(RenderFailureTest, MissingProgramIsAFailureNotABlackFrame) {
  std::thread([&] {
    ASSERT_EQ(Render(input_).err, PF_Err_NONE);
    ASSERT_NE(local_render_data.get(), nullptr);
    DeleteProgram(&local_render_data->programs.displaceProgram);
    vhost::RenderResult r = Render(input_);
    EXPECT_EQ(r.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_TRUE(testimg::IsCleared(r.output));
  }).join();
  EXPECT_EQ(TakeMessages(), Strings{"error on program err 512 err2 0"});
  ExpectRecovered();
}

TEST_F(RenderFailureTest, UnallocatableFramebufferIsAFailure) {
  GLint max_size = 0;
  std::thread([&] {
    ASSERT_EQ(Render(input_).err, PF_Err_NONE);  // makes this thread's context current
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_size);
    vhost::Image too_wide = rtest::Uniform(max_size + 1, 1, 8, 1, 1, 1, 1);
    vhost::RenderResult r = Render(too_wide);
    EXPECT_EQ(r.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_TRUE(testimg::IsCleared(r.output));
  }).join();
  Strings seen = TakeMessages();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], "error on framebuffer err 512 err2 0");
  ExpectRecovered();
}

// A row a quarter of the limit wide: 8x does not fit, 4x exactly does.
TEST_F(RenderFailureTest, AntiAliasingFallsBackToTheLargestFactorThatFits) {
  ExpectSameAtBothFactors([](GLint limit) { return limit / 4; }, kAntiAliasing4x, kAntiAliasing8x);
}

// Too wide for even 2x: the fallback to one pass must filter the input as "None" does, not sample
// it as nearest as the supersampled upscale would.
TEST_F(RenderFailureTest, AFallbackToOnePassEqualsNoAntiAliasing) {
  ExpectSameAtBothFactors([](GLint limit) { return limit / 2 + 1; }, kAntiAliasingNone,
                          kAntiAliasing2x);
}

// Counts the clears the effect issues, by taking the place of the GL entry point it calls through.
// The entry point must have been resolved already (by a render that clears), or the resolver
// would put the real one back on the first call.
class ClearCounter {
 public:
  ClearCounter() {
    original_ = epoxy_glClear;
    count_ = 0;
    epoxy_glClear = &Count;
  }
  ~ClearCounter() { epoxy_glClear = original_; }
  ClearCounter(const ClearCounter&) = delete;
  ClearCounter& operator=(const ClearCounter&) = delete;
  int Take() { return count_.exchange(0); }

 private:
  static void EPOXY_CALLSPEC Count(GLbitfield mask) {
    ++count_;
    original_(mask);
  }
  static inline std::atomic<int> count_{0};
  static inline decltype(epoxy_glClear) original_ = nullptr;
};

// A buffer the upload refuses must not let the driver's leftover memory through: its target reads
// as transparent black, as a layer of no pixels would. New texture memory reads as zero on a
// software renderer whatever the effect does, so the test also sees that the clear is issued,
// once, and only when the upload did not happen.
TEST_F(RenderFailureTest, ARefusedUploadReadsAsTransparentBlack) {
  const vhost::Image bright = rtest::Uniform(16, 12, 32, 1, 1, 1, 1);
  const vhost::Image transparent = rtest::Uniform(16, 12, 32, 0, 0, 0, 0);
  Set(PARAM_CHANNEL, kChannelRed);
  Set(PARAM_TRANSLATE_X, 25);
  const vhost::RenderResult without_input = Render(transparent, &bright);
  const vhost::RenderResult without_map = Render(bright, &transparent);
  ASSERT_FALSE(rtest::SamePixels(without_input.output, without_map.output));

  const struct {
    const char* what;
    vhost::Probe::Damage damage;
  } kRefused[] = {
      {"null data", [](PF_EffectWorld& w) { w.data = nullptr; }},
      {"rowbytes not whole pixels", [](PF_EffectWorld& w) { w.rowbytes += 1; }},
      {"rowbytes shorter than a row", [](PF_EffectWorld& w) { w.rowbytes = (w.width - 1) * 16; }},
  };
  ClearCounter clears;
  ASSERT_EQ(Render(bright, &bright).err, PF_Err_NONE);
  const int clears_of_a_render = clears.Take();
  for (const auto& refused : kRefused) {
    for (const A_long layer : {kInputCheckoutId, kMapCheckoutId}) {
      probe().DamageLayer(layer, refused.damage);
      const vhost::RenderResult r = Render(bright, &bright);
      probe().ClearFaults();
      ASSERT_EQ(r.err, PF_Err_NONE);
      EXPECT_EQ(clears.Take(), clears_of_a_render + 1)
          << refused.what << (layer == kInputCheckoutId ? " (input)" : " (map)");
      const vhost::Image& expected =
          layer == kInputCheckoutId ? without_input.output : without_map.output;
      EXPECT_TRUE(rtest::SamePixels(r.output, expected))
          << refused.what << (layer == kInputCheckoutId ? " (input)" : " (map)");
    }
  }

  // A depth the effect does not declare refuses the read-back too: the output keeps its clear.
  const vhost::Image input8 = rtest::Pattern(16, 12, 8);
  vhost::RenderJob job;
  job.timing = DefaultTiming();
  job.bpc = 16;
  job.input = &input8;
  const vhost::RenderResult r = host().Render(job);
  EXPECT_EQ(r.err, PF_Err_NONE);
  EXPECT_FALSE(testimg::IsUnwritten(r.output));
  EXPECT_TRUE(testimg::IsCleared(r.output));
  TakeMessages();
}

TEST_F(RenderFailureTest, EmptyLayersNeitherCrashNorDivideByZero) {
  vhost::Image empty_map = vhost::Image::Make(0, 0, 8);
  vhost::Image transparent_map = rtest::Uniform(16, 12, 8, 0, 0, 0, 0);
  Set(PARAM_CHANNEL, kChannelRed);
  Set(PARAM_TRANSLATE_X, 25);
  vhost::RenderResult with_empty = Render(input_, &empty_map);
  vhost::RenderResult with_transparent = Render(input_, &transparent_map);
  ASSERT_EQ(with_empty.err, PF_Err_NONE);
  ASSERT_EQ(with_transparent.err, PF_Err_NONE);
  // An empty map places nothing: the map reads transparent black everywhere.
  EXPECT_TRUE(rtest::SamePixels(with_empty.output, with_transparent.output));

  const vhost::Image empty_input = vhost::Image::Make(0, 0, 8);
  ExpectClearedQuietly(&empty_input, {4, 4});
}

TEST_F(RenderFailureTest, OutputOfAnotherSizeGetsOnlyTheSharedArea) {
  vhost::RenderResult same = Render(input_);
  for (auto size : {std::make_pair(21, 15), std::make_pair(9, 7)}) {
    const vhost::RenderResult r = RenderSized(&input_, size);
    ASSERT_EQ(r.err, PF_Err_NONE);
    for (int y = 0; y < size.second; ++y)
      for (int x = 0; x < size.first; ++x)
        for (int c = 0; c < 4; ++c) {
          const bool shared = x < input_.width && y < input_.height;
          ASSERT_EQ(r.output.Get(x, y, c), shared ? same.output.Get(x, y, c) : 0.0f)
              << size.first << "x" << size.second << " at " << x << "," << y;
        }
  }
}

// ---- Threads ---------------------------------------------------------------------------------

TEST_F(RenderFailureTest, ConcurrentRendersMatchSerialOnesAndKeepOneContextPerThread) {
  vhost::Image input = rtest::Pattern(24, 16, 32);
  UseFullAmount();
  Set(PARAM_ROTATE, 30);
  Set(PARAM_ITERATIONS, 3);
  Set(PARAM_CA_RED, 1.2);
  host().controls().SetKeyframes(PARAM_TRANSLATE_X, {{0.0, 0.0}, {1.0, 20.0}});
  const int kFrames = 6;
  auto timing_of = [](int frame) {
    vhost::Timing t = DefaultTiming();
    t.current_time = frame * 100;
    return t;
  };
  std::vector<vhost::Image> serial(kFrames);
  std::thread([&] {
    for (int f = 0; f < kFrames; ++f) serial[f] = Render(input, nullptr, 32, timing_of(f)).output;
  }).join();

  const int contexts_before = cgl::LiveContextCount();
  std::vector<vhost::Image> parallel(4 * kFrames);
  std::vector<int> contexts_seen(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      LocalGLStruct* first = nullptr;
      for (int f = 0; f < kFrames; ++f) {
        vhost::RenderResult r = Render(input, nullptr, 32, timing_of(f));
        EXPECT_EQ(r.err, PF_Err_NONE);
        parallel[t * kFrames + f] = std::move(r.output);
        if (!first) first = local_render_data.get();
        EXPECT_EQ(local_render_data.get(), first) << "a thread keeps its one record";
      }
      contexts_seen[t] = cgl::LiveContextCount();
    });
  for (auto& th : threads) th.join();
  for (int t = 0; t < 4; ++t) {
    EXPECT_LE(contexts_seen[t], contexts_before + 4);
    for (int f = 0; f < kFrames; ++f)
      EXPECT_TRUE(rtest::SamePixels(parallel[t * kFrames + f], serial[f]))
          << "thread " << t << " frame " << f;
  }
  // Joined threads took their contexts with them.
  EXPECT_EQ(cgl::LiveContextCount(), contexts_before);
}

}  // namespace
