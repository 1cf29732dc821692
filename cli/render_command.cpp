#include "cli/render_command.h"

#include <unistd.h>

#include <cstdio>
#include <memory>

#include "cli/exit_status.h"
#include "cli/interrupt.h"
#include "cli/progress.h"
#include "cli/silence.h"
#include "pipeline/errors.h"
#include "pipeline/render.h"

namespace vcli {

namespace {

// The progress line or log, chosen once the plan says how many frames there are: a sequence
// reports each frame; one still renders quietly unless the render was asked to account for its
// frames.
class CommandProgress : public vpipe::RenderObserver {
 public:
  CommandProgress(std::FILE* to, bool quiet) : to_(to), quiet_(quiet) {}

  void Planned(const vpipe::RenderSettings& s) override {
    accounting_ =
        s.frames.size() > 1 || s.skip_existing || s.continue_on_error || s.report.has_value();
    ProgressStyle style = ProgressStyle::kNone;
    if (!quiet_ && accounting_)
      style = isatty(fileno(to_)) ? ProgressStyle::kTerminal : ProgressStyle::kLog;
    progress_ = std::make_unique<Progress>(style, to_, !quiet_);
  }
  void FrameDone(int frame, int done, int total, double seconds) override {
    progress_->FrameDone(frame, done, total, seconds);
  }
  void FrameFailed(const std::string& message, int done, int total) override {
    progress_->FrameFailed(message, done, total);
  }
  void FramesEnded() override { progress_->FramesEnded(); }
  void Warning(const std::string& line) override {
    if (!quiet_) std::fprintf(to_, "varnex: warning: %s\n", line.c_str());
  }
  bool accounting() const { return accounting_; }

 private:
  std::FILE* to_;
  bool quiet_;
  bool accounting_ = false;
  std::unique_ptr<Progress> progress_;
};

}  // namespace

int RunRender(const std::string& plugin, const vpipe::RenderRequest& request) {
  InstallInterruptCleanup();
  const bool verbose = request.verbose && !request.quiet;
  // The decoders complain on standard error about damaged files, from any thread; a frame that
  // cannot be decoded fails in our words, once. Our own lines go where standard error was.
  std::fflush(stderr);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> terminal(fdopen(dup(STDERR_FILENO), "w"),
                                                           &std::fclose);
  std::FILE* to = terminal ? terminal.get() : stderr;
  CommandProgress observer(to, request.quiet);
  vpipe::RenderResult result;
  {
    SilenceFd decoders(STDERR_FILENO, !verbose && terminal);
    // The plug-in writes its GL diagnostics (a few lines per render) to standard output. They
    // are for whoever debugs the plug-in: dropped unless asked for, and then kept off standard
    // output.
    SilenceFd plugin_stdout(STDOUT_FILENO, !verbose);
    RedirectFd plugin_to_stderr(STDOUT_FILENO, STDERR_FILENO, verbose);
    result = vpipe::Render(plugin, request, observer);
  }
  if (!result.dry_run.is_null()) {
    std::printf("%s\n", result.dry_run.dump(2).c_str());
    return kExitOk;
  }
  if (!request.quiet && observer.accounting() && !result.settings.dry_run)
    for (const std::string& line : vpipe::SummaryLines(result.outcome))
      std::fprintf(to, "%s\n", line.c_str());
  if (result.stopped) throw vpipe::RenderError(*result.stopped);
  return result.all_done() ? kExitOk : kExitRenderFailed;
}

}  // namespace vcli
