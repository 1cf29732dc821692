#include "media/layer.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <list>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace vmedia {

namespace {

// Products of a time, a scale and two rates overflow 64 bits; GCC and Clang have 128.
__extension__ typedef __int128 Int128;

// Rounds toward negative infinity; `den` is positive.
int64_t FloorDiv(Int128 num, Int128 den) {
  Int128 q = num / den;
  if (num % den != 0 && num < 0) --q;
  return static_cast<int64_t>(q);
}

int64_t FloorMod(int64_t a, int64_t n) {
  const int64_t m = a % n;
  return m < 0 ? m + n : m;
}

}  // namespace

// Decoded frames are kept in `frames` by source frame number, with the order of their last use in
// `recent` (most recent first). A frame being decoded has an entry without a picture; askers of it
// wait on `changed` for the one decode. The source itself is not thread-safe, so decodes take
// `source_mutex`, and never while `mutex` is held: a render finding its frame in the cache does
// not wait behind another frame's decode.
struct TimelineLayer::State {
  struct Entry {
    std::shared_ptr<const vhost::Image> image;  // null while decoding
    std::list<int>::iterator recent;
    size_t bytes = 0;
    bool read_ahead = false;  // decoded ahead and not yet asked for
  };

  std::unique_ptr<Source> source;
  LayerOptions options;
  std::shared_ptr<const vhost::Image> transparent;

  std::mutex source_mutex;

  std::mutex mutex;
  std::condition_variable changed;
  std::map<int, Entry> frames;
  std::list<int> recent;
  size_t cached_bytes = 0;
  // Of the frames decoded ahead that no render has asked for yet; read-ahead pauses at half the
  // cache (past one frame) so that it does not evict what it decoded before that is used.
  size_t ahead_bytes = 0;
  std::deque<int> ahead_queue;
  bool stopping = false;
  std::thread worker;

  std::shared_ptr<const vhost::Image> Get(int frame, bool ahead);
  std::shared_ptr<const vhost::Image> Decode(int frame);
  void Store(int frame, std::shared_ptr<const vhost::Image> image, bool ahead);
  void Evict(int keep);
  void ReadAheadLoop();
};

std::shared_ptr<const vhost::Image> TimelineLayer::State::Decode(int frame) {
  std::lock_guard<std::mutex> lock(source_mutex);
  try {
    vhost::Image image = source->Frame(frame, options.bpc);
    image.origin_x = options.origin_x;
    image.origin_y = options.origin_y;
    return std::make_shared<const vhost::Image>(std::move(image));
  } catch (const FootageError&) {
    throw;
  } catch (const std::exception& e) {
    throw FootageError(source->path() + ": frame " + std::to_string(frame) + ": " + e.what(),
                       frame);
  }
}

std::shared_ptr<const vhost::Image> TimelineLayer::State::Get(int frame, bool ahead) {
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    auto it = frames.find(frame);
    if (it == frames.end()) break;
    Entry& entry = it->second;
    if (entry.image) {
      recent.splice(recent.begin(), recent, entry.recent);
      if (!ahead && entry.read_ahead) {
        entry.read_ahead = false;
        ahead_bytes -= entry.bytes;
        changed.notify_all();
      }
      return entry.image;
    }
    if (ahead) return nullptr;  // a render is decoding it already
    changed.wait(lock);
  }
  recent.push_front(frame);
  frames[frame].recent = recent.begin();
  lock.unlock();
  std::shared_ptr<const vhost::Image> image;
  try {
    image = Decode(frame);
  } catch (...) {
    // The frame is left for the next asker to try again; waiters wake to find it gone.
    lock.lock();
    recent.erase(frames[frame].recent);
    frames.erase(frame);
    changed.notify_all();
    throw;
  }
  lock.lock();
  Store(frame, image, ahead);
  return image;
}

void TimelineLayer::State::Store(int frame, std::shared_ptr<const vhost::Image> image, bool ahead) {
  Entry& entry = frames[frame];
  entry.bytes = image->storage.size();
  entry.image = std::move(image);
  entry.read_ahead = ahead;
  cached_bytes += entry.bytes;
  if (ahead) ahead_bytes += entry.bytes;
  Evict(frame);
  changed.notify_all();
}

// Drops the least recently used pictures until the cache fits, never `keep` (the frame just
// stored, which its asker holds anyway) nor a frame still being decoded. Renders holding a
// dropped picture keep it alive through their own reference.
void TimelineLayer::State::Evict(int keep) {
  for (auto it = recent.end(); cached_bytes > options.cache_bytes && it != recent.begin();) {
    --it;
    const int frame = *it;
    auto found = frames.find(frame);
    if (frame == keep || !found->second.image) continue;
    cached_bytes -= found->second.bytes;
    if (found->second.read_ahead) ahead_bytes -= found->second.bytes;
    frames.erase(found);
    it = recent.erase(it);
  }
}

void TimelineLayer::State::ReadAheadLoop() {
  const size_t frame_bytes = transparent->storage.size();
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    changed.wait(lock, [&] {
      return stopping ||
             (!ahead_queue.empty() &&
              (ahead_bytes == 0 || ahead_bytes + frame_bytes <= options.cache_bytes / 2));
    });
    if (stopping) return;
    const int frame = ahead_queue.front();
    ahead_queue.pop_front();
    lock.unlock();
    try {
      Get(frame, /*ahead=*/true);
    } catch (const FootageError&) {
      // The render that asks for this frame gets the error itself.
    }
    lock.lock();
  }
}

TimelineLayer::TimelineLayer(std::unique_ptr<Source> source, const LayerOptions& options)
    : state_(std::make_unique<State>()) {
  state_->source = std::move(source);
  state_->options = options;
  state_->transparent = std::make_shared<const vhost::Image>(
      vhost::Image::Make(state_->source->width(), state_->source->height(), options.bpc,
                         options.origin_x, options.origin_y));
}

TimelineLayer::~TimelineLayer() {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->stopping = true;
  }
  state_->changed.notify_all();
  if (state_->worker.joinable()) state_->worker.join();
}

const Source& TimelineLayer::source() const {
  return *state_->source;
}

std::optional<int> TimelineLayer::SourceFrameAt(int64_t time, uint64_t time_scale) const {
  const Source& source = *state_->source;
  const FrameRange range = source.range();
  if (source.kind() == SourceKind::kStill) return range.first;
  const Placement& placement = state_->options.placement;
  const Rational comp = state_->options.composition_fps;
  // Sequences show one file per composition frame; movies play at their own rate.
  const Rational rate = source.fps().valid() ? source.fps() : comp;
  const int64_t start =
      placement.start.value_or(source.kind() == SourceKind::kSequence ? range.first : 0);
  // The layer begins at start × comp.den / comp.num seconds; source frame k shows from k / rate
  // after that. All in one exact fraction:
  //   k = floor((time / scale − start × comp.den / comp.num) × rate.num / rate.den).
  const Int128 scale = static_cast<Int128>(time_scale);
  const Int128 num =
      (static_cast<Int128>(time) * comp.num - Int128{start} * comp.den * scale) * rate.num;
  const Int128 den = scale * comp.num * rate.den;
  const int64_t k = range.first + FloorDiv(num, den);
  if (k >= range.first && k <= range.last) return static_cast<int>(k);
  switch (placement.outside) {
    case Outside::kHold:
      return k < range.first ? range.first : range.last;
    case Outside::kLoop:
      return static_cast<int>(range.first + FloorMod(k - range.first, range.count()));
    case Outside::kTransparent:
      break;
  }
  return std::nullopt;
}

std::shared_ptr<const vhost::Image> TimelineLayer::At(int64_t time, uint64_t time_scale) {
  const std::optional<int> frame = SourceFrameAt(time, time_scale);
  if (!frame) return state_->transparent;
  return state_->Get(*frame, /*ahead=*/false);
}

void TimelineLayer::ReadAhead(int first_composition_frame, int last_composition_frame) {
  const Rational comp = state_->options.composition_fps;
  std::vector<int> wanted;
  for (int64_t c = first_composition_frame; c <= last_composition_frame; ++c) {
    // The start of composition frame c, in a time scale of comp.num ticks per comp.den seconds.
    const std::optional<int> frame = SourceFrameAt(c * comp.den, static_cast<uint64_t>(comp.num));
    if (frame && (wanted.empty() || wanted.back() != *frame)) wanted.push_back(*frame);
  }
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->ahead_queue.assign(wanted.begin(), wanted.end());
    // Frames an earlier read-ahead decoded that no render asked for no longer hold it back.
    for (auto& entry : state_->frames) entry.second.read_ahead = false;
    state_->ahead_bytes = 0;
    if (!state_->worker.joinable())
      state_->worker = std::thread([state = state_.get()] { state->ReadAheadLoop(); });
  }
  state_->changed.notify_all();
}

vhost::LayerOverTime TimelineLayer::AsLayer() {
  return [this](A_long time, A_u_long time_scale) { return At(time, time_scale); };
}

}  // namespace vmedia
