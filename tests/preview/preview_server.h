// A `varnex preview` started for one test as a child process on a free loopback port (port 0,
// the address read from its one line of output), with an HTTP client holding its token and a
// reader of its event stream. The child is stopped by its process id when the test ends, also
// when it fails; a child that does not stop in time is killed.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

using nlohmann::json;

// How long the server may take to start (a sanitizer build starts slowly) and to answer.
constexpr int kStartSeconds = 90;
constexpr int kWaitSeconds = 60;

struct Answer {
  int status = 0;
  json body;         // the JSON answer, or null
  std::string text;  // the raw answer
};

class PreviewServer {
 public:
  // Starts `varnex preview` with `args` in `cwd`; check started() before using it.
  PreviewServer(const std::vector<std::string>& args, const std::filesystem::path& cwd) {
    int out[2];
    if (pipe(out) != 0) return;
    std::vector<std::string> argv_text = {VARNEX_CLI, "preview"};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string dir = cwd.string();
    pid_ = fork();
    if (pid_ == 0) {
      // Only async-signal-safe calls between fork and exec.
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      close(out[1]);
      if (chdir(dir.c_str()) != 0) _exit(126);
      execv(argv_text[0].c_str(), argv.data());
      _exit(127);
    }
    close(out[1]);
    out_fd_ = out[0];
    if (pid_ < 0) return;
    const std::string line = ReadLine(kStartSeconds);
    const std::string prefix = "varnex: preview at http://127.0.0.1:";
    if (line.rfind(prefix, 0) != 0) {
      ADD_FAILURE() << "the server did not print its address; it printed: " << line;
      return;
    }
    first_line_ = line;
    const std::string rest = line.substr(prefix.size());
    port_ = std::stoi(rest);
    token_ = rest.substr(rest.find("token=") + 6);
    client_ = std::make_unique<httplib::Client>("127.0.0.1", port_);
    client_->set_read_timeout(kWaitSeconds, 0);
  }

  // A server that ends otherwise than with status 0 (a sanitizer's report, say) fails the test.
  ~PreviewServer() {
    if (pid_ > 0 && Stop() != 0)
      ADD_FAILURE() << "varnex preview ended with status " << exit_status_;
  }
  PreviewServer(const PreviewServer&) = delete;
  PreviewServer& operator=(const PreviewServer&) = delete;

  bool started() const { return client_ != nullptr; }
  int port() const { return port_; }
  const std::string& token() const { return token_; }
  const std::string& first_line() const { return first_line_; }

  // Sends SIGTERM and waits; returns the exit status (-1 when killed or not running).
  int Stop() {
    if (pid_ <= 0) return exit_status_;
    kill(pid_, SIGTERM);
    int raw = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kWaitSeconds);
    pid_t done = 0;
    while ((done = waitpid(pid_, &raw, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (done != pid_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &raw, 0);
      ADD_FAILURE() << "the server did not stop on SIGTERM";
    }
    exit_status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    pid_ = -1;
    if (out_fd_ >= 0) close(out_fd_);
    out_fd_ = -1;
    return exit_status_;
  }

  // What else the server wrote on standard output after its address, once it has stopped.
  std::string RestOfOutput() {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while (out_fd_ >= 0 && (n = read(out_fd_, buffer, sizeof buffer)) > 0) text.append(buffer, n);
    return text;
  }

  Answer Get(const std::string& path, const httplib::Headers& headers = {}) {
    return Take(client_->Get(path, WithToken(headers)));
  }
  Answer Post(const std::string& path, const json& body, const httplib::Headers& headers = {}) {
    return PostText(path, body.dump(), headers);
  }
  Answer PostText(const std::string& path, const std::string& body,
                  const httplib::Headers& headers = {}) {
    return Take(client_->Post(path, WithToken(headers), body, "application/json"));
  }
  // Without the token.
  httplib::Client& raw_client() { return *client_; }

  json State() { return Get("/api/state").body; }

 private:
  httplib::Headers WithToken(httplib::Headers headers) const {
    if (!headers.count("X-Varnex-Token")) headers.emplace("X-Varnex-Token", token_);
    return headers;
  }

  static Answer Take(const httplib::Result& result) {
    Answer answer;
    if (!result) {
      ADD_FAILURE() << "no answer: " << httplib::to_string(result.error());
      return answer;
    }
    answer.status = result->status;
    answer.text = result->body;
    answer.body = json::parse(result->body, nullptr, false);
    if (answer.body.is_discarded()) answer.body = nullptr;
    return answer;
  }

  std::string ReadLine(int seconds) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p{out_fd_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char c;
      if (read(out_fd_, &c, 1) != 1) break;
      if (c == '\n') return line;
      line += c;
    }
    return line;
  }

  pid_t pid_ = -1;
  int out_fd_ = -1;
  int port_ = 0;
  int exit_status_ = -1;
  std::string token_;
  std::string first_line_;
  std::unique_ptr<httplib::Client> client_;
};

// One server-sent event.
struct Event {
  std::string name;
  json data;
};

// Reads the server's event stream on a thread of its own from construction on.
class EventReader {
 public:
  explicit EventReader(PreviewServer& server) : client_("127.0.0.1", server.port()) {
    client_.set_read_timeout(kWaitSeconds, 0);
    const std::string path = "/api/events?token=" + server.token();
    thread_ = std::thread([this, path] {
      client_.Get(path, [this](const char* data, size_t size) {
        std::lock_guard<std::mutex> lock(mutex_);
        buffer_.append(data, size);
        for (size_t end; (end = buffer_.find("\n\n")) != std::string::npos;) {
          Parse(buffer_.substr(0, end));
          buffer_.erase(0, end + 2);
        }
        connected_ = true;
        changed_.notify_all();
        return !stopping_;
      });
    });
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(kWaitSeconds), [&] { return connected_; });
  }
  ~EventReader() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    client_.stop();
    thread_.join();
  }

  // Waits until an event satisfies `want`; returns it, or nullopt after the wait.
  template <typename Want>
  std::optional<Event> WaitFor(Want want, int seconds = kWaitSeconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    std::optional<Event> found;
    changed_.wait_for(lock, std::chrono::seconds(seconds), [&] {
      for (const Event& e : events_) {
        if (!want(e)) continue;
        found = e;
        return true;
      }
      return false;
    });
    return found;
  }
  std::vector<Event> Events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }

 private:
  void Parse(const std::string& block) {
    Event event;
    std::string data;
    size_t start = 0;
    while (start < block.size()) {
      size_t end = block.find('\n', start);
      if (end == std::string::npos) end = block.size();
      const std::string line = block.substr(start, end - start);
      if (line.rfind("event: ", 0) == 0) event.name = line.substr(7);
      if (line.rfind("data: ", 0) == 0) data += line.substr(6);
      start = end + 1;
    }
    if (event.name.empty()) return;
    event.data = json::parse(data, nullptr, false);
    events_.push_back(std::move(event));
  }

  httplib::Client client_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string buffer_;
  std::vector<Event> events_;
  bool connected_ = false;
  bool stopping_ = false;
};

// The control of that identifier in a state.
inline const json& ControlIn(const json& state, const std::string& identifier) {
  for (const json& c : state["controls"])
    if (c["identifier"] == identifier) return c;
  static const json none;
  ADD_FAILURE() << "no control " << identifier;
  return none;
}

}  // namespace testsupport
