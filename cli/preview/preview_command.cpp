#include "cli/preview/preview_command.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "cli/errors.h"
#include "cli/preview/events.h"
#include "cli/preview/page_opener.h"
#include "cli/preview/preview_session.h"
#include "cli/preview/render_worker.h"
#include "cli/preview/server.h"

namespace vcli {

namespace {

int PortOption(const std::optional<std::string>& text) {
  if (!text) return 0;
  size_t used = 0;
  int port = -1;
  try {
    port = std::stoi(*text, &used);
  } catch (const std::exception&) {
  }
  if (used != text->size() || port < 0 || port > 65535)
    throw InputError("--port " + *text + ": expected 0 to 65535");
  return port;
}

nlohmann::json FrameEvent(const PreviewPicture& p) {
  return {{"seq", p.seq},       {"draft", p.draft},         {"ms", p.ms},      {"width", p.width},
          {"height", p.height}, {"view", ViewName(p.view)}, {"frame", p.frame}};
}

}  // namespace

int RunPreview(const std::string& plugin, const RenderArgs& args, const PreviewArgs& preview) {
  const int port = PortOption(preview.port);
  ServerConfig config;
  config.listen = preview.listen.value_or("127.0.0.1");
  config.port = port;
  config.token = NewToken();

  // Every thread started from here on inherits the blocked signals; this one waits for them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stop_signals, s);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  // The plug-in writes its GL diagnostics on standard output; the address must be its only line.
  std::fflush(stdout);
  const int address_out = dup(STDOUT_FILENO);
  const int quiet_fd = args.verbose ? dup(STDERR_FILENO) : open("/dev/null", O_WRONLY);
  if (quiet_fd >= 0) {
    dup2(quiet_fd, STDOUT_FILENO);
    close(quiet_fd);
  }
  ClaimPageOpener();

  EventHub events;
  PreviewSession session(plugin, args,
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
  return kExitOk;
}

}  // namespace vcli
