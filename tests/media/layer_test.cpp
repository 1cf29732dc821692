// Timeline layers: which source frame shows at a composition time, what shows outside the
// source's range, the cache of decoded frames and its threads, and one layer served through our
// host to the real effect.
#include "media/layer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "support/footage_support.h"
#include "support/host_fixture.h"

namespace {

using namespace foottest;
using vmedia::Outside;

// A source of numbered 4 x 2 frames that counts its decodes and notices overlapping calls.
class FakeSource : public vmedia::Source {
 public:
  FakeSource(vmedia::SourceKind kind, vmedia::FrameRange range, vmedia::Rational fps = {0, 1})
      : kind_(kind), range_(range), fps_(fps) {}

  vmedia::SourceKind kind() const override { return kind_; }
  const std::string& path() const override { return path_; }
  vmedia::FrameRange range() const override { return range_; }
  vmedia::Rational fps() const override { return fps_; }
  int width() const override { return 4; }
  int height() const override { return 2; }
  int depth() const override { return 8; }
  vhost::Image Frame(int n, int bpc) override {
    if (busy_.exchange(true)) overlapped_ = true;
    if (delay_.count()) std::this_thread::sleep_for(delay_);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++decodes_[n];
    }
    busy_ = false;
    if (n == failing_) throw std::runtime_error("the decoder gave up");
    vhost::Image image = vhost::Image::Make(width(), height(), bpc);
    for (int y = 0; y < height(); ++y) {
      for (int x = 0; x < width(); ++x) {
        image.Set(x, y, 0, 1.0f);
        image.Set(x, y, 1, static_cast<float>(n % 256) / 255.0f);
        image.Set(x, y, 2, static_cast<float>(n / 256) / 255.0f);
      }
    }
    return image;
  }

  int decodes(int n) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = decodes_.find(n);
    return it == decodes_.end() ? 0 : it->second;
  }
  int total_decodes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    int total = 0;
    for (const auto& entry : decodes_) total += entry.second;
    return total;
  }
  bool overlapped() const { return overlapped_; }
  void set_delay(std::chrono::milliseconds delay) { delay_ = delay; }
  void set_failing(int n) { failing_ = n; }

 private:
  vmedia::SourceKind kind_;
  vmedia::FrameRange range_;
  vmedia::Rational fps_;
  std::string path_ = "fake";
  std::chrono::milliseconds delay_{0};
  int failing_ = -1;
  std::atomic<bool> busy_{false};
  std::atomic<bool> overlapped_{false};
  mutable std::mutex mutex_;
  std::map<int, int> decodes_;
};

// A layer over a fake source, with the fake kept at hand for its counts.
struct FakeLayer {
  explicit FakeLayer(std::unique_ptr<FakeSource> fake, vmedia::LayerOptions options = {})
      : source(fake.get()), layer(std::move(fake), options) {}
  FakeSource* source;
  vmedia::TimelineLayer layer;
};

vmedia::LayerOptions Options(std::optional<int> start, Outside outside,
                             vmedia::Rational fps = {25, 1}) {
  vmedia::LayerOptions options;
  options.placement.start = start;
  options.placement.outside = outside;
  options.composition_fps = fps;
  return options;
}

std::unique_ptr<FakeSource> Sequence(int first, int last) {
  return std::make_unique<FakeSource>(vmedia::SourceKind::kSequence,
                                      vmedia::FrameRange{first, last});
}

// Composition frame k at 25 fps spans ticks [100k, 100k + 100) at a scale of 2500.
constexpr uint64_t kScale = 2500;
int64_t Start(int k) {
  return int64_t{k} * 100;
}

TEST(TimelineLayer, SequenceFramesShowAtTheirOwnNumbersOrFromTheirStart) {
  FakeLayer own(Sequence(10, 14), Options(std::nullopt, Outside::kHold));
  FakeLayer moved(Sequence(10, 14), Options(-2, Outside::kHold));
  for (int k = 10; k <= 14; ++k) {
    for (int64_t tick : {Start(k), Start(k) + 50, Start(k + 1) - 1}) {
      EXPECT_EQ(own.layer.SourceFrameAt(tick, kScale), k) << tick;
      EXPECT_EQ(moved.layer.SourceFrameAt(tick - Start(12), kScale), k) << tick;
    }
  }
  for (int k = 10; k <= 14; ++k) EXPECT_EQ(NumberIn(*own.layer.At(Start(k) + 1, kScale)), k);
}

TEST(TimelineLayer, OutsideTheRangeHoldsLoopsOrIsTransparent) {
  // Frames 10..14 from composition frame 0; composition frames -7..12 around it.
  const int hold[] = {10, 10, 10, 10, 10, 10, 10, 10, 11, 12,
                      13, 14, 14, 14, 14, 14, 14, 14, 14, 14};
  const int loop[] = {13, 14, 10, 11, 12, 13, 14, 10, 11, 12,
                      13, 14, 10, 11, 12, 13, 14, 10, 11, 12};
  FakeLayer held(Sequence(10, 14), Options(0, Outside::kHold));
  FakeLayer looped(Sequence(10, 14), Options(0, Outside::kLoop));
  FakeLayer clear(Sequence(10, 14), Options(0, Outside::kTransparent));
  for (int k = -7; k <= 12; ++k) {
    SCOPED_TRACE(k);
    // The last tick of a frame, so negative times must round down, not toward zero.
    const int64_t tick = Start(k + 1) - 1;
    EXPECT_EQ(held.layer.SourceFrameAt(tick, kScale), hold[k + 7]);
    EXPECT_EQ(looped.layer.SourceFrameAt(tick, kScale), loop[k + 7]);
    EXPECT_EQ(clear.layer.SourceFrameAt(tick, kScale),
              k >= 0 && k <= 4 ? std::optional<int>(10 + k) : std::nullopt);
  }
  const auto outside = clear.layer.At(Start(-1), kScale);
  ASSERT_EQ(outside->width, 4);
  ASSERT_EQ(outside->height, 2);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(outside->Get(3, 1, c), 0.0f);
  EXPECT_EQ(clear.source->total_decodes(), 0);
}

TEST(TimelineLayer, FractionalCompositionRatesStayExact) {
  // 24000/1001 fps in its own time scale: frame k starts at tick 1001 k, far out and below zero.
  FakeLayer layer(Sequence(-5000000, 5000000),
                  Options(std::nullopt, Outside::kHold, {24000, 1001}));
  for (int k : {-3000000, -1, 0, 1, 1001, 2999999}) {
    EXPECT_EQ(layer.layer.SourceFrameAt(int64_t{k} * 1001, 24000), k);
    EXPECT_EQ(layer.layer.SourceFrameAt(int64_t{k} * 1001 - 1, 24000), k - 1);
    // The same instants in a scale of a thousand ticks a second, rounded down to a tick.
    EXPECT_EQ(layer.layer.SourceFrameAt(int64_t{k} * 1001 / 24 + 1, 1000), k) << k;
  }
}

TEST(TimelineLayer, SourcesAtTheirOwnRatePickTheFrameShownAtThatTime) {
  // 24 fps under 25: at a scale of 600 ticks a second, source frame k spans [25 k, 25 k + 25).
  auto at24 = [] {
    return std::make_unique<FakeSource>(vmedia::SourceKind::kMovie, vmedia::FrameRange{0, 47},
                                        vmedia::Rational{24, 1});
  };
  FakeLayer from_zero(at24(), Options(std::nullopt, Outside::kTransparent));
  // Placed at composition frame 5 (a fifth of a second, tick 120).
  FakeLayer placed(at24(), Options(5, Outside::kTransparent));
  for (int64_t tick = 0; tick < 48 * 25; ++tick) {
    ASSERT_EQ(from_zero.layer.SourceFrameAt(tick, 600), tick / 25) << tick;
    ASSERT_EQ(placed.layer.SourceFrameAt(tick + 120, 600), tick / 25) << tick;
  }
  EXPECT_EQ(from_zero.layer.SourceFrameAt(48 * 25, 600), std::nullopt);
  EXPECT_EQ(placed.layer.SourceFrameAt(119, 600), std::nullopt);
  // Composition frames at 25 fps: frame 24 (0.96 s) still shows source frame 23, 25 shows 24.
  EXPECT_EQ(from_zero.layer.SourceFrameAt(Start(24), kScale), 23);
  EXPECT_EQ(from_zero.layer.SourceFrameAt(Start(25), kScale), 24);

  // A still shows its one frame wherever it is placed and whatever the rule outside.
  FakeLayer still(
      std::make_unique<FakeSource>(vmedia::SourceKind::kStill, vmedia::FrameRange{0, 0}),
      Options(100, Outside::kTransparent));
  for (int k : {-50, 0, 99, 100, 1000}) EXPECT_EQ(still.layer.SourceFrameAt(Start(k), kScale), 0);
}

TEST(TimelineLayer, CacheDecodesEachFrameOnceAndStaysWithinItsBytes) {
  const size_t frame_bytes = vhost::Image::Make(4, 2, 8).storage.size();
  vmedia::LayerOptions options = Options(0, Outside::kHold);
  options.cache_bytes = 2 * frame_bytes;
  FakeLayer layer(Sequence(0, 9), options);
  std::weak_ptr<const vhost::Image> first = layer.layer.At(Start(0), kScale);
  EXPECT_EQ(layer.layer.At(Start(0) + 99, kScale).get(), first.lock().get());
  const auto kept = layer.layer.At(Start(1), kScale);
  EXPECT_EQ(layer.source->decodes(0), 1);
  EXPECT_EQ(layer.source->decodes(1), 1);

  // A third frame pushes out the least recently used; one a render still holds stays whole.
  layer.layer.At(Start(2), kScale);
  layer.layer.At(Start(1), kScale);
  layer.layer.At(Start(3), kScale);
  EXPECT_TRUE(first.expired());
  EXPECT_EQ(NumberIn(*kept), 1);
  EXPECT_EQ(layer.source->decodes(1), 1);
  layer.layer.At(Start(0), kScale);
  EXPECT_EQ(layer.source->decodes(0), 2);
}

TEST(TimelineLayer, ConcurrentRendersShareOneDecodePerFrame) {
  FakeLayer layer(Sequence(0, 11), Options(0, Outside::kHold));
  layer.source->set_delay(std::chrono::milliseconds(2));
  std::atomic<int> wrong{0};
  std::vector<std::thread> renders;
  for (int t = 0; t < 6; ++t) {
    renders.emplace_back([&, t] {
      for (int i = 0; i < 12; ++i) {
        const int k = (i * 5 + t) % 12;
        if (NumberIn(*layer.layer.AsLayer()(static_cast<A_long>(Start(k)), kScale)) != k) ++wrong;
      }
    });
  }
  for (auto& render : renders) render.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_FALSE(layer.source->overlapped());
  for (int k = 0; k < 12; ++k) EXPECT_EQ(layer.source->decodes(k), 1) << k;
}

// Waits, up to a generous limit, until `source` has decoded `count` frames in all.
void WaitForDecodes(const FakeSource& source, int count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (source.total_decodes() < count && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST(TimelineLayer, ReadAheadDecodesTheComingFramesOnceAndStopsWithTheLayer) {
  {
    FakeLayer layer(Sequence(0, 9), Options(0, Outside::kHold));
    layer.layer.ReadAhead(2, 6);
    WaitForDecodes(*layer.source, 5);
    for (int k = 2; k <= 6; ++k) EXPECT_EQ(NumberIn(*layer.layer.At(Start(k), kScale)), k);
    for (int k = 0; k <= 9; ++k) EXPECT_EQ(layer.source->decodes(k), k >= 2 && k <= 6 ? 1 : 0) << k;
  }
  // Read-ahead fills half the cache and goes on as renders take its frames.
  {
    vmedia::LayerOptions options = Options(0, Outside::kHold);
    options.cache_bytes = 4 * vhost::Image::Make(4, 2, 8).storage.size();
    FakeLayer layer(Sequence(0, 99), options);
    layer.layer.ReadAhead(0, 99);
    WaitForDecodes(*layer.source, 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(layer.source->total_decodes(), 2);
    layer.layer.At(Start(0), kScale);
    layer.layer.At(Start(1), kScale);
    WaitForDecodes(*layer.source, 4);
    for (int k = 0; k <= 3; ++k) EXPECT_EQ(layer.source->decodes(k), 1) << k;
  }
  // A long read-ahead on a slow source ends with the layer, not with its last frame.
  const auto begin = std::chrono::steady_clock::now();
  int decoded = 0;
  {
    FakeLayer slow(Sequence(0, 999), Options(0, Outside::kHold));
    slow.source->set_delay(std::chrono::milliseconds(5));
    slow.layer.ReadAhead(0, 999);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    decoded = slow.source->total_decodes();
  }
  EXPECT_LT(decoded, 100);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
}

TEST(TimelineLayer, AFailedDecodeNamesTheFrameAndIsTriedAgain) {
  FakeLayer layer(Sequence(0, 4), Options(0, Outside::kHold));
  layer.source->set_failing(3);
  for (int attempt = 1; attempt <= 2; ++attempt) {
    try {
      layer.layer.At(Start(3), kScale);
      ADD_FAILURE() << "frame 3 decoded";
    } catch (const vmedia::FootageError& e) {
      EXPECT_EQ(e.frame, 3);
      EXPECT_EQ(std::string(e.what()), "fake: frame 3: the decoder gave up");
    }
    EXPECT_EQ(layer.source->decodes(3), attempt);
  }
  EXPECT_EQ(NumberIn(*layer.layer.At(Start(4), kScale)), 4);
}

// The effect at its defaults passes its input through; served from a sequence on the timeline,
// each render time gets that time's file back.
class TimelineLayerThroughHost : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    ASSERT_EQ(host().GlobalSetup(), PF_Err_NONE);
    ASSERT_EQ(host().ParamsSetup(), PF_Err_NONE);
  }
};

TEST_F(TimelineLayerThroughHost, EachRenderTimeShowsItsOwnFile) {
  TempDir dir;
  for (int n = 1; n <= 3; ++n)
    WriteNumberedFrame((dir / ("shot." + std::to_string(n) + ".png")).string(), n, 16, 8);
  vmedia::LayerOptions options = Options(0, Outside::kHold, {24, 1});
  vmedia::TimelineLayer layer(vmedia::OpenSource((dir / "shot.#.png").string()), options);
  for (int k : {2, 0}) {
    SCOPED_TRACE(k);
    vhost::RenderJob job;
    job.timing.current_time = k * 100;
    job.timing.time_step = 100;
    job.timing.time_scale = 2400;
    job.bpc = 8;
    job.input_at = layer.AsLayer();
    const vhost::RenderResult result = host().Render(job);
    ASSERT_EQ(result.err, PF_Err_NONE);
    ASSERT_EQ(result.output.width, 16);
    ASSERT_EQ(result.output.height, 8);
    EXPECT_EQ(NumberIn(result.output), k + 1);
  }
}

}  // namespace
