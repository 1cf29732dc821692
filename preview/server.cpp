#include "preview/server.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <set>
#include <thread>
#include <utility>

#include "pipeline/errors.h"
#include "preview/page_assets.h"

namespace vpreview {

using namespace vpipe;  // a front end of the pipeline

namespace {

using nlohmann::json;

// Connections served at once: the event stream holds one for as long as a page is open, and a
// browser opens several more for its requests.
constexpr size_t kServerThreads = 32;

// How often an idle event stream is checked for the hub closing, and how many checks pass before
// a comment line keeps the connection from looking dead.
constexpr auto kEventPoll = std::chrono::milliseconds(250);
constexpr int kPollsPerKeepAlive = 60;

void SendJson(httplib::Response& res, int status, const json& body) {
  res.status = status;
  res.set_header("Cache-Control", "no-store");
  res.set_content(body.dump(), "application/json");
}

void SendError(httplib::Response& res, int status, const std::string& message) {
  SendJson(res, status, {{"error", message}});
}

// Equal strings, taking the same time wherever they differ.
bool SameSecret(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

// The request's body as a JSON object; an empty body is an empty object.
json BodyOf(const httplib::Request& req) {
  if (req.body.empty()) return json::object();
  json body = json::parse(req.body, nullptr, false);
  if (body.is_discarded()) throw ApiError(400, "malformed JSON in the request body");
  if (!body.is_object()) throw ApiError(400, "the request body must be a JSON object");
  return body;
}

std::string HostName(const std::string& address) {
  return address.find(':') != std::string::npos ? "[" + address + "]" : address;
}

}  // namespace

std::string NewToken() {
  std::random_device random;
  std::string token;
  char digit[3];
  for (int i = 0; i < 16; ++i) {
    std::snprintf(digit, sizeof digit, "%02x", static_cast<unsigned>(random() & 0xff));
    token += digit;
  }
  return token;
}

struct PreviewServer::Impl {
  PreviewSession& session;
  EventHub& events;
  RenderWorker& worker;
  ServerConfig config;
  httplib::Server server;
  std::atomic<bool> serving{false};  // Start has been called and the server has not ended
  std::thread thread;
  int port = 0;
  std::set<std::string> hosts;  // what the Host header may say

  Impl(PreviewSession& s, EventHub& e, RenderWorker& w, ServerConfig c)
      : session(s), events(e), worker(w), config(std::move(c)) {}

  // Refuses a request without the token or from another site: 403.
  bool Allowed(const httplib::Request& req, httplib::Response& res) const {
    const std::string host = req.get_header_value("Host");
    if (!hosts.count(host)) {
      SendError(res, 403, "the Host header must name the address served");
      return false;
    }
    if (req.has_header("Origin") && req.get_header_value("Origin") != "http://" + host) {
      SendError(res, 403, "requests from another origin are refused");
      return false;
    }
    const std::string token = req.has_param("token") ? req.get_param_value("token")
                                                     : req.get_header_value("X-Varnex-Token");
    if (!SameSecret(token, config.token)) {
      SendError(res, 403, "the request lacks this session's token");
      return false;
    }
    return true;
  }

  // Runs an API call: its answer, or its refusal as JSON.
  template <typename Call>
  void Answer(httplib::Response& res, Call&& call) {
    try {
      SendJson(res, 200, call());
    } catch (const ApiError& e) {
      SendError(res, e.status, e.what());
    } catch (const InputError& e) {
      SendError(res, 400, e.what());
    } catch (const std::exception& e) {
      SendError(res, 500, e.what());
    }
  }

  // A change made through the API: answered with the state, and told to every open page.
  template <typename Call>
  void Change(httplib::Response& res, Call&& call) {
    Answer(res, [&] {
      json state = call();
      json shared = state;
      shared.erase("open_url");
      events.Publish("state", shared.dump());
      return state;
    });
  }

  void ServeAsset(const std::string& name, httplib::Response& res) {
    const PageAsset* asset = FindPageAsset(name);
    if (!asset) {
      SendError(res, 404, "no such file");
      return;
    }
    std::string body(reinterpret_cast<const char*>(asset->data), asset->size);
    // The page's own requests carry the token it was opened with.
    if (name == "index.html") {
      const std::string mark = "__TOKEN__";
      for (size_t at = body.find(mark); at != std::string::npos; at = body.find(mark, at))
        body.replace(at, mark.size(), config.token);
    }
    res.set_header("Cache-Control", "no-store");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_content(body, AssetType(name));
  }

  void Routes() {
    Guard();
    for (const char* asset : {"index.html", "app.js", "style.css"})
      server.Get(std::string(asset) == "index.html" ? "/" : "/" + std::string(asset),
                 [this, asset](const httplib::Request&, httplib::Response& res) {
                   ServeAsset(asset, res);
                 });
    server.Get("/api/state", [this](const httplib::Request&, httplib::Response& res) {
      Answer(res, [&] { return session.State(); });
    });
    ApiCalls();
    server.Get(R"(/api/image/(\d{1,19}))",
               [this](const httplib::Request& req, httplib::Response& res) {
                 const auto picture = worker.Delivered(std::stoull(req.matches[1].str()));
                 if (!picture) {
                   SendError(res, 404, "that picture is not the newest delivered");
                   return;
                 }
                 res.set_header("Cache-Control", "no-store");
                 res.set_content(picture->bytes, picture->mime.c_str());
               });
    server.Get("/api/events",
               [this](const httplib::Request&, httplib::Response& res) { Stream(res); });
  }

  // Every request passes the token and origin checks; bodies are bounded; errors are JSON.
  void Guard() {
    server.set_payload_max_length(kMaxBodyBytes);
    server.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
    server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
      return Allowed(req, res) ? httplib::Server::HandlerResponse::Unhandled
                               : httplib::Server::HandlerResponse::Handled;
    });
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
      if (!res.body.empty()) return;
      const char* what = res.status == 413   ? "the request body is too large"
                         : res.status == 404 ? "no such file"
                                             : "the request was refused";
      SendError(res, res.status, what);
    });
  }

  // The API's POST calls: a change is answered with the state and told to every open page.
  void ApiCalls() {
    struct Call {
      const char* path;
      bool change;
      std::function<json(const json&)> run;
    };
    const Call calls[] = {
        {"/api/control", true, [this](const json& b) { return session.SetControl(b); }},
        {"/api/button", true, [this](const json& b) { return session.PressButton(b); }},
        {"/api/undo", true, [this](const json&) { return session.Undo(); }},
        {"/api/redo", true, [this](const json&) { return session.Redo(); }},
        {"/api/frame", true, [this](const json& b) { return session.SetFrame(b); }},
        {"/api/keyframe", true, [this](const json& b) { return session.ToggleKeyframe(b); }},
        {"/api/save", false,
         [this](const json& b) {
           json answer = {{"path", session.Save(b)}};
           // The state names the project now.
           events.Publish("state", session.State().dump());
           return answer;
         }},
        {"/api/render", false,
         [this](const json&) {
           session.StartRender();
           return json{{"started", true}};
         }},
        {"/api/preview", false, [this](const json& b) { return Preview(b); }},
    };
    for (const Call& call : calls)
      server.Post(call.path, [this, call](const httplib::Request& req, httplib::Response& res) {
        auto run = [&] { return call.run(BodyOf(req)); };
        if (call.change)
          Change(res, run);
        else
          Answer(res, run);
      });
  }

  // Server-Sent Events until the hub closes; a comment now and then keeps proxies from timing
  // the stream out.
  void Stream(httplib::Response& res) {
    auto subscription = events.Subscribe("retry: 1000\n\n");
    res.set_header("Cache-Control", "no-store");
    res.set_chunked_content_provider(
        "text/event-stream",
        [subscription, polls = 0](size_t, httplib::DataSink& sink) mutable {
          std::optional<std::string> message = subscription->Next(kEventPoll);
          if (subscription->closed()) {
            sink.done();
            return true;
          }
          if (!message && ++polls >= kPollsPerKeepAlive) message = ": keep-alive\n\n";
          if (!message) return sink.is_writable();
          polls = 0;
          return sink.write(message->data(), message->size());
        },
        [this, subscription](bool) { events.Unsubscribe(subscription); });
  }

  json Preview(const json& body) {
    PreviewRequest request;
    if (body.contains("draft")) {
      if (!body["draft"].is_boolean()) throw ApiError(400, "\"draft\" must be true or false");
      request.draft = body["draft"].get<bool>();
    }
    if (body.contains("view")) {
      const json& view = body["view"];
      if (view == "result")
        request.view = View::kResult;
      else if (view == "input")
        request.view = View::kInput;
      else if (view == "map")
        request.view = View::kMap;
      else
        throw ApiError(400, "\"view\" must be \"result\", \"input\" or \"map\"");
      if (request.view == View::kMap && !session.has_map())
        throw ApiError(400, "there is no map layer to view");
    }
    if (body.contains("seq")) {
      if (!body["seq"].is_number_unsigned() || body["seq"].get<uint64_t>() == 0)
        throw ApiError(400, "\"seq\" must be a whole number above 0");
      request.seq = body["seq"].get<uint64_t>();
    }
    const std::optional<uint64_t> seq = worker.Submit(request);
    if (!seq)
      throw ApiError(400, "\"seq\" " + std::to_string(request.seq) +
                              " is not above the newest asked for, " +
                              std::to_string(worker.newest_requested()));
    session.set_newest_seq(*seq);
    return json{{"seq", *seq}};
  }
};

PreviewServer::PreviewServer(PreviewSession& session, EventHub& events, RenderWorker& worker,
                             ServerConfig config)
    : impl_(std::make_unique<Impl>(session, events, worker, std::move(config))) {
  impl_->Routes();
}

PreviewServer::~PreviewServer() {
  Stop();
}

int PreviewServer::Bind() {
  Impl& i = *impl_;
  i.port = i.config.port == 0
               ? i.server.bind_to_any_port(i.config.listen)
               : (i.server.bind_to_port(i.config.listen, i.config.port) ? i.config.port : -1);
  if (i.port <= 0)
    throw InputError("cannot listen on " + i.config.listen +
                     (i.config.port ? ":" + std::to_string(i.config.port) : ""));
  const std::string port = ":" + std::to_string(i.port);
  i.hosts = {"127.0.0.1" + port, "localhost" + port, HostName(i.config.listen) + port};
  return i.port;
}

void PreviewServer::Start() {
  impl_->serving.store(true);
  impl_->thread = std::thread([this] {
    impl_->server.listen_after_bind();
    impl_->serving.store(false);
  });
}

void PreviewServer::Stop() {
  // A stop before the serving thread is listening would be lost, and Run would never return.
  while (impl_->serving.load() && !impl_->server.is_running())
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  impl_->server.stop();
  if (impl_->thread.joinable()) impl_->thread.join();
}

std::string PreviewServer::Url() const {
  return "http://" + HostName(impl_->config.listen) + ":" + std::to_string(impl_->port) +
         "/?token=" + impl_->config.token;
}

}  // namespace vpreview
