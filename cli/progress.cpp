#include "cli/progress.h"

namespace vcli {

Progress::Progress(ProgressStyle style, std::FILE* to, bool warnings)
    : style_(style), to_(to), warnings_(warnings), start_(std::chrono::steady_clock::now()) {}

void Progress::FrameDone(int frame, int done, int total, double frame_seconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (style_ == ProgressStyle::kLog) {
    std::fprintf(to_, "varnex: frame %d done in %.2f s (%d/%d, %d%%)\n", frame, frame_seconds, done,
                 total, total > 0 ? done * 100 / total : 100);
    std::fflush(to_);
    return;
  }
  if (style_ != ProgressStyle::kTerminal) return;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const double rate = seconds > 0 ? done / seconds : 0;
  const long left = rate > 0 ? static_cast<long>((total - done) / rate + 0.5) : 0;
  // "\033[K" clears what a longer earlier line left behind.
  std::fprintf(to_, "\rvarnex: %d/%d frames, %.1f fps, %ld:%02ld left\033[K", done, total, rate,
               left / 60, left % 60);
  std::fflush(to_);
  drawn_ = true;
}

void Progress::FrameFailed(const std::string& message, int done, int total) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (style_ == ProgressStyle::kNone) return;
  std::fprintf(to_, "%svarnex: %s (%d/%d)\n", drawn_ ? "\n" : "", message.c_str(), done, total);
  std::fflush(to_);
  drawn_ = false;
}

void Progress::FramesEnded() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (drawn_) std::fputc('\n', to_);
  drawn_ = false;
}

void Progress::Warning(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!warnings_) return;
  std::fprintf(to_, "%svarnex: warning: %s\n", drawn_ ? "\n" : "", line.c_str());
  std::fflush(to_);
  drawn_ = false;
}

}  // namespace vcli
