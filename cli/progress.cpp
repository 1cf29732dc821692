#include "cli/progress.h"

#include <cstdio>
#include <utility>

namespace vcli {

Progress::Progress(int total, ProgressStyle style, std::FILE* to, ProgressObserver observer)
    : total_(total),
      style_(style),
      to_(to),
      observer_(std::move(observer)),
      start_(std::chrono::steady_clock::now()) {}

void Progress::FrameDone(int frame, double frame_seconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++done_;
  if (observer_) observer_(frame, done_, total_);
  if (style_ == ProgressStyle::kLog) {
    std::fprintf(to_, "varnex: frame %d done in %.2f s (%d/%d, %d%%)\n", frame, frame_seconds,
                 done_, total_, total_ > 0 ? done_ * 100 / total_ : 100);
    std::fflush(to_);
    return;
  }
  if (style_ != ProgressStyle::kTerminal) return;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const double rate = seconds > 0 ? done_ / seconds : 0;
  const long left = rate > 0 ? static_cast<long>((total_ - done_) / rate + 0.5) : 0;
  // "\033[K" clears what a longer earlier line left behind.
  std::fprintf(to_, "\rvarnex: %d/%d frames, %.1f fps, %ld:%02ld left\033[K", done_, total_, rate,
               left / 60, left % 60);
  std::fflush(to_);
  drawn_ = true;
}

void Progress::FrameFailed(const std::string& message) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++done_;
  if (style_ == ProgressStyle::kNone) return;
  std::fprintf(to_, "%svarnex: %s (%d/%d)\n", drawn_ ? "\n" : "", message.c_str(), done_, total_);
  std::fflush(to_);
  drawn_ = false;
}

void Progress::Finish() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (drawn_) std::fputc('\n', to_);
  drawn_ = false;
}

}  // namespace vcli
