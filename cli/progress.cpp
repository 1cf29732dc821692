#include "cli/progress.h"

#include <cstdio>

namespace vcli {

Progress::Progress(int total, bool enabled, std::FILE* to)
    : total_(total), enabled_(enabled), to_(to), start_(std::chrono::steady_clock::now()) {}

void Progress::FrameDone() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++done_;
  if (!enabled_) return;
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

void Progress::Finish() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (drawn_) std::fputc('\n', to_);
  drawn_ = false;
}

}  // namespace vcli
