// The sequence's pipeline through the real module: frames are handed to the sink on a writer
// thread while the next ones render, an in-order sink gets every frame once and in order, and a
// frame the sink refuses stops the sequence naming that frame.

#include "pipeline/sequence.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "media/layer.h"
#include "pipeline/errors.h"
#include "pipeline/host_session.h"

namespace clitest {
namespace {

// A tiny image sequence of frames 1 to `last` that records which frames were decoded.
class CountingSource : public vmedia::Source {
 public:
  explicit CountingSource(int last) : last_(last) {}
  vmedia::SourceKind kind() const override { return vmedia::SourceKind::kSequence; }
  const std::string& path() const override { return path_; }
  vmedia::FrameRange range() const override { return {1, last_}; }
  vmedia::Rational fps() const override { return {0, 1}; }
  int width() const override { return 16; }
  int height() const override { return 8; }
  int depth() const override { return 8; }
  vhost::Image Frame(int n, int bpc) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      decoded_.insert(n);
    }
    changed_.notify_all();
    vhost::Image image = vhost::Image::Make(16, 8, bpc);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 16; ++x) {
        image.Set(x, y, 0, 1.0f);
        image.Set(x, y, 1, static_cast<float>(n) / 100.0f);
      }
    return image;
  }
  // Waits (at most ten seconds) until frame `n` has been decoded; false if it never was.
  bool WaitForDecode(int n) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return decoded_.count(n) > 0; });
  }

 private:
  int last_;
  std::string path_ = "counting.####.png";
  std::mutex mutex_;
  std::condition_variable changed_;
  std::set<int> decoded_;
};

struct Rig {
  explicit Rig(int frames) {
    auto owned = std::make_unique<CountingSource>(frames);
    source = owned.get();
    layer = std::make_unique<vmedia::TimelineLayer>(std::move(owned), vmedia::LayerOptions{});
    for (int f = 1; f <= frames; ++f) plan.frames.push_back(f);
    plan.input = layer.get();
  }
  vpipe::Session session = vpipe::StartSession(VARNEX_MODULE);
  CountingSource* source = nullptr;
  std::unique_ptr<vmedia::TimelineLayer> layer;
  vpipe::SequencePlan plan;
};

class RecordingSink : public vpipe::FrameSink {
 public:
  explicit RecordingSink(bool ordered) : ordered_(ordered) {}
  bool in_order() const override { return ordered_; }
  void Take(int frame, const vhost::Image& image) override {
    if (on_take) on_take(frame);
    std::lock_guard<std::mutex> lock(mutex);
    taken.push_back(frame);
    red.push_back(image.Get(0, 0, 1));
  }
  std::function<void(int)> on_take;
  std::mutex mutex;
  std::vector<int> taken;
  std::vector<float> red;  // of each frame taken, at its first pixel

 private:
  bool ordered_;
};

TEST(CliSequence, AFrameIsWrittenWhileTheNextOneRenders) {
  // One render thread, no read-ahead: frame 2 is decoded only when its render starts. A sink
  // that writes frame 1 on the render thread itself would never see that happen.
  for (bool ordered : {false, true}) {
    SCOPED_TRACE(ordered ? "in order" : "as they finish");
    Rig rig(3);
    RecordingSink sink(ordered);
    bool saw_next_render = false;
    sink.on_take = [&](int frame) {
      if (frame == 1) saw_next_render = rig.source->WaitForDecode(2);
    };
    const vpipe::SequenceResult result = vpipe::RenderSequence(*rig.session.host, rig.plan, sink);
    EXPECT_FALSE(result.stopped) << *result.stopped;
    EXPECT_TRUE(saw_next_render);
    EXPECT_EQ(sink.taken.size(), 3u);
  }
}

TEST(CliSequence, AnOrderedSinkTakesEveryFrameOnceInOrderWhateverTheThreads) {
  Rig rig(12);
  rig.plan.threads = 3;
  RecordingSink sink(true);
  const vpipe::SequenceResult result = vpipe::RenderSequence(*rig.session.host, rig.plan, sink);
  ASSERT_FALSE(result.stopped) << *result.stopped;
  EXPECT_EQ(sink.taken, rig.plan.frames);
  // Each frame is its own render: the input's red follows the frame number.
  for (size_t i = 0; i < sink.red.size(); ++i)
    EXPECT_NEAR(sink.red[i], static_cast<float>(i + 1) / 100.0f, 1.0f / 255.0f) << i;
  for (const vpipe::FrameOutcome& outcome : result.frames) EXPECT_TRUE(outcome.done);
}

TEST(CliSequence, AFrameTheSinkRefusesStopsTheSequenceNamingIt) {
  for (bool ordered : {false, true}) {
    SCOPED_TRACE(ordered ? "in order" : "as they finish");
    Rig rig(8);
    rig.plan.threads = 2;
    RecordingSink sink(ordered);
    sink.on_take = [](int frame) {
      if (frame == 4) throw std::runtime_error("disk full");
    };
    const vpipe::SequenceResult result = vpipe::RenderSequence(*rig.session.host, rig.plan, sink);
    ASSERT_TRUE(result.stopped);
    EXPECT_EQ(*result.stopped, "frame 4: disk full");
    EXPECT_FALSE(result.frames[3].done);
    EXPECT_EQ(result.frames[3].failure, "frame 4: disk full");
    for (int frame : sink.taken) EXPECT_NE(frame, 4);
    if (ordered) {
      EXPECT_EQ(sink.taken, (std::vector<int>{1, 2, 3}));
    }
  }
}

TEST(CliSequence, GoingOnPastAFailedWriteWritesTheOthers) {
  Rig rig(6);
  rig.plan.threads = 2;
  rig.plan.continue_on_error = true;
  RecordingSink sink(false);
  sink.on_take = [](int frame) {
    if (frame == 2) throw vpipe::RenderError("frame 2: cannot write");
  };
  const vpipe::SequenceResult result = vpipe::RenderSequence(*rig.session.host, rig.plan, sink);
  EXPECT_FALSE(result.stopped);
  std::set<int> taken(sink.taken.begin(), sink.taken.end());
  EXPECT_EQ(taken, (std::set<int>{1, 3, 4, 5, 6}));
  EXPECT_EQ(result.frames[1].failure, "frame 2: cannot write");
}

}  // namespace
}  // namespace clitest
