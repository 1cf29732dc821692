#include "preview/preview_command.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "preview/events.h"
#include "preview/page_opener.h"
#include "preview/preview_session.h"
#include "preview/render_worker.h"
#include "preview/server.h"

namespace vpreview {

using namespace vpipe;  // a front end of the pipeline

namespace {

nlohmann::json FrameEvent(const PreviewPicture& p) {
  return {{"seq", p.seq},       {"draft", p.draft},         {"ms", p.ms},      {"width", p.width},
          {"height", p.height}, {"view", ViewName(p.view)}, {"frame", p.frame}};
}

}  // namespace

void RunPreview(const std::string& plugin, const vpipe::RenderRequest& request,
                const ServeOptions& options) {
  ServerConfig config;
  config.listen = options.listen;
  config.port = options.port;
  config.token = NewToken();

  // Every thread started from here on inherits the blocked signals; this one waits for them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stop_signals, s);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  // The plug-in writes its GL diagnostics on standard output; the address must be its only line.
  std::fflush(stdout);
  const int address_out = dup(STDOUT_FILENO);
  const int quiet_fd = request.verbose ? dup(STDERR_FILENO) : open("/dev/null", O_WRONLY);
  if (quiet_fd >= 0) {
    dup2(quiet_fd, STDOUT_FILENO);
    close(quiet_fd);
  }
  ClaimPageOpener();

  EventHub events;
  PreviewSession session(plugin, request, options.project,
                         [&events](const std::string& event, const nlohmann::json& data) {
                           events.Publish(event, data.dump());
                         });
  RenderWorker worker(
      [&session](const PreviewRequest& r) { return session.Render(r); },
      [&events](const PreviewPicture& p) {
        if (p.error.empty())
          events.Publish("frame", FrameEvent(p).dump());
        else
          events.Publish("failed", nlohmann::json{{"seq", p.seq}, {"message", p.error}}.dump());
      });
  PreviewServer server(session, events, worker, config);
  server.Bind();
  const std::string line = "varnex: preview at " + server.Url() + "\n";
  if (address_out >= 0) {
    [[maybe_unused]] const ssize_t written = write(address_out, line.data(), line.size());
    close(address_out);
  }

  server.Start();
  int received = 0;
  sigwait(&stop_signals, &received);
  events.Close();
  server.Stop();
}

}  // namespace vpreview
