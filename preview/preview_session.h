// What `varnex preview` works on: the plug-in in our host with the render's layers and settings,
// the current frame, the undo history, and the API's operations on them. Every operation checks
// its whole request before it changes anything: a refusal (ApiError) leaves the state as it was.
//
// Renders go through the same host, layers and frame render as `varnex render`; the Render action
// runs the session's request, with the controls as they are, through the pipeline's Render.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "hostapp/undo.h"
#include "pipeline/host_session.h"
#include "pipeline/layers.h"
#include "pipeline/plan.h"
#include "preview/render_worker.h"

namespace vpreview {

// A request the API refuses: HTTP `status` with the message as {"error": ...}.
struct ApiError : std::runtime_error {
  ApiError(int status_code, const std::string& message)
      : std::runtime_error(message), status(status_code) {}
  int status;
};

class PreviewSession {
 public:
  // Called with an event name and its JSON data (progress and the end of a Render).
  using Notify = std::function<void(const std::string& event, const nlohmann::json& data)>;

  // Resolves the arguments as `varnex render` does (the output may be left out), opens the layers
  // and starts the plug-in. Throws InputError or RenderError as render does.
  // `project_path` is where Save writes unless told otherwise.
  PreviewSession(std::string plugin, vpipe::RenderRequest request,
                 std::optional<std::string> project_path, Notify notify);
  // Waits for a Render in progress.
  ~PreviewSession();

  nlohmann::json State() const;

  // The API's changes; each returns the state after it. `body` is the request's JSON object.
  nlohmann::json SetControl(const nlohmann::json& body);
  nlohmann::json PressButton(const nlohmann::json& body);
  nlohmann::json Undo();
  nlohmann::json Redo();
  nlohmann::json SetFrame(const nlohmann::json& body);
  nlohmann::json ToggleKeyframe(const nlohmann::json& body);
  // Writes the project; returns the path written.
  std::string Save(const nlohmann::json& body);
  // Starts rendering the project's output on a thread of its own.
  void StartRender();

  // Renders the current frame as `request` asks; on the render thread.
  PreviewPicture Render(const PreviewRequest& request);

  bool has_map() const { return layers_.map != nullptr; }
  // The resolution divisor of drafts.
  int draft_downsample() const { return draft_downsample_; }

 private:
  // The caller holds mutex_.
  nlohmann::json StateLocked() const;
  double CurrentSeconds() const;
  // An undo or a redo of the history, refused with `none` when there is no step to take.
  nlohmann::json Step(bool (vhost::UndoHistory::*step)(vhost::ControlStore*), const char* none);
  const vpipe::ControlInfo& Settable(const nlohmann::json& body);
  // The controls as project settings: every one moved from its default or keyed.
  std::vector<vpipe::ControlSetting> ControlSettings() const;
  // The request the session shows: its footage and options, and the controls as they are now.
  vpipe::RenderRequest RequestNow() const;

  std::string plugin_;
  vpipe::RenderSettings settings_;
  vpipe::RenderLayers layers_;
  vpipe::Session session_;
  bool output_given_ = false;
  std::optional<std::string> project_path_;
  int draft_downsample_ = 2;
  Notify notify_;

  mutable std::mutex mutex_;  // the state below and the calls that change controls
  int frame_ = 0;
  vhost::UndoHistory history_;
  std::atomic<uint64_t> newest_seq_{0};

  std::mutex render_mutex_;
  std::thread render_thread_;
  std::atomic<bool> rendering_{false};

 public:
  // The newest preview seq asked for, shown in the state so that a page loaded later continues.
  void set_newest_seq(uint64_t seq) { newest_seq_.store(seq); }
};

}  // namespace vpreview
