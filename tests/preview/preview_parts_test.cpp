// The preview's parts on their own: the render thread's choice of what to render and deliver,
// and the undo history over the host's controls.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "hostapp/undo.h"
#include "preview/render_worker.h"

namespace {

using vpreview::PreviewPicture;
using vpreview::PreviewRequest;
using vpreview::RenderWorker;

// A render that waits, for each request, until the test lets it finish.
class HeldRenders {
 public:
  PreviewPicture Render(const PreviewRequest& request) {
    std::unique_lock<std::mutex> lock(mutex_);
    started_.push_back(request.seq);
    changed_.notify_all();
    changed_.wait(lock, [&] { return released_ >= started_.size(); });
    PreviewPicture picture;
    picture.bytes = "picture " + std::to_string(request.seq);
    return picture;
  }
  void Deliver(const PreviewPicture& picture) {
    std::lock_guard<std::mutex> lock(mutex_);
    delivered_.push_back(picture.seq);
    changed_.notify_all();
  }
  // Waits until `count` renders have started.
  bool WaitStarted(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(30),
                             [&] { return started_.size() >= count; });
  }
  bool WaitDelivered(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(30),
                             [&] { return delivered_.size() >= count; });
  }
  void ReleaseOne() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++released_;
    changed_.notify_all();
  }
  std::vector<uint64_t> started() {
    std::lock_guard<std::mutex> lock(mutex_);
    return started_;
  }
  std::vector<uint64_t> delivered() {
    std::lock_guard<std::mutex> lock(mutex_);
    return delivered_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<uint64_t> started_;
  std::vector<uint64_t> delivered_;
  size_t released_ = 0;
};

TEST(RenderWorkerTest, TakesTheNewestRequestAndDropsARenderItSuperseded) {
  HeldRenders renders;
  RenderWorker worker([&](const PreviewRequest& r) { return renders.Render(r); },
                      [&](const PreviewPicture& p) { renders.Deliver(p); });
  ASSERT_EQ(worker.Submit({.seq = 1}), 1u);
  ASSERT_TRUE(renders.WaitStarted(1));
  // While 1 renders, 2 and then 3 arrive: 2 is never started, and 1 finishes into a newer wait.
  ASSERT_EQ(worker.Submit({.seq = 2}), 2u);
  ASSERT_EQ(worker.Submit({.seq = 3, .draft = true}), 3u);
  renders.ReleaseOne();
  ASSERT_TRUE(renders.WaitStarted(2));
  renders.ReleaseOne();
  ASSERT_TRUE(renders.WaitDelivered(1));
  EXPECT_EQ(renders.started(), (std::vector<uint64_t>{1, 3}));
  EXPECT_EQ(renders.delivered(), (std::vector<uint64_t>{3}));
  const auto picture = worker.Delivered(3);
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->bytes, "picture 3");
  EXPECT_TRUE(picture->draft);
  EXPECT_FALSE(worker.Delivered(1));
  // Numbers only rise; a request without one takes the next.
  EXPECT_FALSE(worker.Submit({.seq = 3}));
  EXPECT_FALSE(worker.Submit({.seq = 2}));
  EXPECT_EQ(worker.newest_requested(), 3u);
  EXPECT_EQ(worker.Submit({}), 4u);
  renders.ReleaseOne();
  ASSERT_TRUE(renders.WaitDelivered(2));
  EXPECT_EQ(renders.delivered(), (std::vector<uint64_t>{3, 4}));
  EXPECT_FALSE(worker.Delivered(3));
}

TEST(RenderWorkerTest, AFailedRenderIsReportedAndKeepsTheLastPicture) {
  std::vector<std::string> errors;
  std::mutex mutex;
  std::condition_variable done;
  RenderWorker worker(
      [](const PreviewRequest& r) -> PreviewPicture {
        if (r.seq == 2) throw std::runtime_error("frame 0: the render failed");
        return {};
      },
      [&](const PreviewPicture& p) {
        std::lock_guard<std::mutex> lock(mutex);
        errors.push_back(p.error);
        done.notify_all();
      });
  auto wait = [&](size_t n) {
    std::unique_lock<std::mutex> lock(mutex);
    return done.wait_for(lock, std::chrono::seconds(30), [&] { return errors.size() >= n; });
  };
  worker.Submit({.seq = 1});
  ASSERT_TRUE(wait(1));
  worker.Submit({.seq = 2});
  ASSERT_TRUE(wait(2));
  EXPECT_EQ(errors, (std::vector<std::string>{"", "frame 0: the render failed"}));
  EXPECT_TRUE(worker.Delivered(1));
  EXPECT_FALSE(worker.Delivered(2));
}

// Three controls of the host's store, written as a panel would.
class UndoHistoryTest : public testing::Test {
 protected:
  void SetUp() override {
    PF_ParamDef slider{};
    slider.param_type = PF_Param_FLOAT_SLIDER;
    store_.Reset();
    for (int i = 0; i < 3; ++i) store_.Add(slider);
  }
  vhost::ControlStore store_;
  vhost::UndoHistory history_;
};

TEST_F(UndoHistoryTest, AStepPutsBackEveryControlItChangedAndRedoAgain) {
  auto before = vhost::UndoHistory::Capture(store_);
  store_.SetValue(1, 5);
  store_.SetKeyframes(2, {{0, 1}, {1, 3}});
  ASSERT_TRUE(history_.Record("Reset", before, store_));
  before = vhost::UndoHistory::Capture(store_);
  store_.SetValue(1, 7);
  ASSERT_TRUE(history_.Record("Set One", before, store_));
  EXPECT_EQ(history_.undo_name(), "Set One");

  ASSERT_TRUE(history_.Undo(&store_));
  EXPECT_EQ(store_.ValueAt(1, 0), 5);
  EXPECT_EQ(history_.redo_name(), "Set One");
  ASSERT_TRUE(history_.Undo(&store_));
  EXPECT_EQ(store_.ValueAt(1, 0), 0);
  EXPECT_EQ(store_.NumKeyframes(2), 0);
  EXPECT_FALSE(history_.Undo(&store_));
  ASSERT_TRUE(history_.Redo(&store_));
  EXPECT_EQ(store_.NumKeyframes(2), 2);
  EXPECT_EQ(store_.ValueAt(2, 0.5), 2);
  EXPECT_EQ(store_.ValueAt(1, 0), 5);
  // A new step forgets what was undone.
  before = vhost::UndoHistory::Capture(store_);
  store_.SetValue(3, 1);
  ASSERT_TRUE(history_.Record("Set Three", before, store_));
  EXPECT_FALSE(history_.can_redo());
  EXPECT_FALSE(history_.Redo(&store_));
}

TEST_F(UndoHistoryTest, AnActionThatChangesNothingIsNoStep) {
  const auto before = vhost::UndoHistory::Capture(store_);
  store_.SetValue(1, 0);
  EXPECT_FALSE(history_.Record("Set One", before, store_));
  EXPECT_FALSE(history_.can_undo());
  EXPECT_EQ(history_.undo_name(), "");
}

}  // namespace
