// The preview's HTTP server (cpp-httplib, on its own threads): the page's assets, the JSON API,
// the pictures and the event stream. Every request must carry the session's token and name the
// address served in its Host (and Origin) header, so that another web page cannot drive it
// through the browser; request bodies are limited in size.
#pragma once

#include <memory>
#include <string>

#include "preview/events.h"
#include "preview/preview_session.h"
#include "preview/render_worker.h"

namespace vpreview {

struct ServerConfig {
  std::string listen = "127.0.0.1";
  int port = 0;  // 0: any free port
  std::string token;
};

// The largest request body taken.
constexpr size_t kMaxBodyBytes = 64 * 1024;

// 32 hexadecimal digits from the system's random source.
std::string NewToken();

class PreviewServer {
 public:
  PreviewServer(PreviewSession& session, EventHub& events, RenderWorker& worker,
                ServerConfig config);
  ~PreviewServer();
  PreviewServer(const PreviewServer&) = delete;
  PreviewServer& operator=(const PreviewServer&) = delete;

  // Binds the address; returns the port. Throws InputError when it cannot.
  int Bind();
  // Serves on a thread of its own until Stop.
  void Start();
  // Stops serving and waits for the connections being served.
  void Stop();
  // The address to open: http://HOST:PORT/?token=TOKEN.
  std::string Url() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vpreview
