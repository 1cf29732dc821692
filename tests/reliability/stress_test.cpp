// Many host threads rendering at once, with settings that change every frame: each frame must come
// out byte for byte as the same frame rendered alone, and the finite input must give finite
// pixels. The effect is linked in, so the tests can see its per-thread state and contexts.
#include <algorithm>
#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "cgl.h"
#include "gl/context.h"
#include "reliability/reliability_support.h"
#include "shaders/sources.h"

namespace {

class StressTest : public rtest::RenderTest {
 protected:
  std::unique_ptr<vhost::Host> MakeHost() override {
    return std::make_unique<vhost::Host>(&EffectMain);
  }
};

// Frames alternate between 8 and 32 bits, and two of every three have a map layer smaller than
// the input and offset from it.
struct Layers {
  vhost::Image input8 = rtest::Pattern(32, 24, 8);
  vhost::Image input32 = rtest::Pattern(32, 24, 32);
  vhost::Image map8 = rtest::Pattern(20, 14, 8);
  vhost::Image map32 = rtest::Pattern(20, 14, 32);
  Layers() {
    for (vhost::Image* map : {&map8, &map32}) {
      map->origin_x = 7;
      map->origin_y = -3;
    }
  }
  vhost::RenderJob Job(int frame) const {
    vhost::RenderJob job;
    job.timing = reliability::FrameTiming(frame);
    job.bpc = frame % 2 ? 8 : 32;
    job.input = job.bpc == 8 ? &input8 : &input32;
    if (frame % 3 != 0) job.map = job.bpc == 8 ? &map8 : &map32;
    return job;
  }
};

TEST_F(StressTest, EightThreadsRenderEveryFrameExactlyAsOneThreadDoes) {
  constexpr int kThreads = 8;
  constexpr int kFrames = 25;
  std::mt19937 rng(8128);
  reliability::AnimateRandomly(host().controls(), rng, kFrames);
  const Layers layers;

  std::vector<vhost::Image> serial(kFrames);
  std::thread([&] {
    for (int f = 0; f < kFrames; ++f) {
      vhost::RenderResult r = host().Render(layers.Job(f));
      ASSERT_EQ(r.err, PF_Err_NONE) << "frame " << f;
      serial[f] = std::move(r.output);
    }
  }).join();
  for (int f = 0; f < kFrames; ++f) {
    ASSERT_EQ(serial[f].width, 32);
    EXPECT_TRUE(reliability::AllFinite(serial[f])) << "frame " << f;
  }

  // Each thread takes the frames in its own order, so different settings overlap in time.
  std::vector<std::vector<int>> orders(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    for (int f = 0; f < kFrames; ++f) orders[t].push_back(f);
    std::shuffle(orders[t].begin(), orders[t].end(), rng);
  }
  std::vector<std::vector<vhost::RenderResult>> results(kThreads,
                                                        std::vector<vhost::RenderResult>(kFrames));
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      // Start together, so the threads really contend from the first frame on.
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      for (int f : orders[t]) results[t][f] = host().Render(layers.Job(f));
    });
  for (auto& th : threads) th.join();

  int compared = 0;
  for (int t = 0; t < kThreads; ++t)
    for (int f = 0; f < kFrames; ++f) {
      EXPECT_EQ(results[t][f].err, PF_Err_NONE) << "thread " << t << " frame " << f;
      EXPECT_TRUE(rtest::SamePixels(results[t][f].output, serial[f]))
          << "thread " << t << " frame " << f;
      ++compared;
    }
  RecordProperty("frames_compared", compared);
  EXPECT_EQ(compared, kThreads * kFrames);
}

// Threads come and go between batches, as a host's render pool does. Each thread's context goes
// with it, and the global tear-down takes the last one.
TEST_F(StressTest, ContextsEndWithTheirThreadsAndTheGlobalTearDown) {
  host_.reset();
  const int before = cgl::LiveContextCount();
  Adopt(MakeHost());
  ASSERT_EQ(host().GlobalSetup(), PF_Err_NONE);
  ASSERT_EQ(host().ParamsSetup(), PF_Err_NONE);
  host().controls().SetValue(PARAM_CHANNEL, 4);
  host().controls().SetValue(PARAM_ROTATE, 20);
  host().controls().SetValue(PARAM_ANTI_ALIASING, 3);
  EXPECT_EQ(cgl::LiveContextCount(), before + 1) << "global setup makes one context";
  const Layers layers;

  vhost::Image reference;
  for (int batch = 0; batch < 3; ++batch) {
    const int threads_in_batch = 2 + batch;
    std::vector<vhost::Image> out(threads_in_batch);
    std::vector<int> seen(threads_in_batch, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < threads_in_batch; ++t)
      threads.emplace_back([&, t] {
        for (int f = 0; f < 2; ++f) {
          vhost::RenderResult r = host().Render(layers.Job(1));
          EXPECT_EQ(r.err, PF_Err_NONE);
          out[t] = std::move(r.output);
        }
        seen[t] = cgl::LiveContextCount();
      });
    for (auto& th : threads) th.join();
    if (batch == 0) reference = out[0];
    for (int t = 0; t < threads_in_batch; ++t) {
      EXPECT_TRUE(rtest::SamePixels(out[t], reference)) << "batch " << batch << " thread " << t;
      EXPECT_GE(seen[t], before + 2) << "a rendering thread holds its own context";
      EXPECT_LE(seen[t], before + 1 + threads_in_batch);
    }
    EXPECT_EQ(cgl::LiveContextCount(), before + 1) << "after batch " << batch;
  }
  ASSERT_EQ(host().GlobalSetdown(), PF_Err_NONE);
  EXPECT_EQ(cgl::LiveContextCount(), before);
  for (const std::string& leak : probe().leaks()) ADD_FAILURE() << "host reports: " << leak;
  host_.reset();
  EXPECT_EQ(cgl::LiveContextCount(), before);
}

// A thread whose render failed keeps no stale state: its next render is the right picture.
TEST_F(StressTest, RenderAfterAFailedRenderOnTheSameThreadSucceeds) {
  reliability::MessageLog::Install();
  host().controls().SetValue(PARAM_CHANNEL, 1);
  host().controls().SetValue(PARAM_TRANSLATE_X, 15);
  const Layers layers;
  vhost::Image good;
  std::thread([&] { good = host().Render(layers.Job(1)).output; }).join();

  // Failures before, at and after the point where the thread's GL state is first created.
  const struct {
    const char* function;
    int nth;
    bool first_render_on_thread;
  } faults[] = {{"checkout_layer_pixels", 1, true},
                {"checkout_param", 30, true},
                {"AEGP_GetStreamNumKFs", 3, true},
                {"checkout_output", 1, false},
                {"AEGP_DisposeEffect", 1, false}};
  for (const auto& fault : faults) {
    std::thread([&] {
      if (!fault.first_render_on_thread) {
        ASSERT_EQ(host().Render(layers.Job(1)).err, PF_Err_NONE);
        ASSERT_NE(local_render_data.get(), nullptr);
      }
      LocalGLStruct* record = local_render_data.get();
      probe().FailCall(fault.function, fault.nth, 77);
      EXPECT_EQ(host().Render(layers.Job(1)).err, 77) << fault.function;
      EXPECT_EQ(local_render_data.get(), record) << fault.function;
      probe().ClearFaults();
      vhost::RenderResult r = host().Render(layers.Job(1));
      EXPECT_EQ(r.err, PF_Err_NONE) << fault.function;
      EXPECT_TRUE(rtest::SamePixels(r.output, good)) << fault.function;
    }).join();
    // No lock may be left behind: another thread can take the render lock at once.
    std::thread([] {
      EXPECT_TRUE(globalMutex.try_lock());
      globalMutex.unlock();
    }).join();
  }
  reliability::MessageLog::Take();
  reliability::MessageLog::Remove();
}

}  // namespace
