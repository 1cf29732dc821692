// The link buttons' pages. The plug-in opens a page by running the system's page opener through
// the C library's system(); this program defines system() itself (exported, so the loaded module
// binds to it) and, once preview has claimed it, runs no command at all: an address the plug-in
// asked to open is handed to whoever is waiting for it on that thread, and the page opens it.
// Without the claim every command goes to the C library's system() as before.
#pragma once

#include <optional>
#include <string>

namespace vpreview {

// From now on system() runs nothing in this process.
void ClaimPageOpener();

// Collects the address a page opener is asked to show on this thread while it lives.
class PageCapture {
 public:
  PageCapture();
  ~PageCapture();
  PageCapture(const PageCapture&) = delete;
  PageCapture& operator=(const PageCapture&) = delete;

  // The last http(s) address asked for, if any.
  const std::optional<std::string>& url() const { return url_; }

  // For system(): takes a command "xdg-open ADDRESS" or "open ADDRESS"; false when it is not one.
  static bool Offer(const char* command);

 private:
  std::optional<std::string> url_;
  PageCapture* outer_;
};

}  // namespace vpreview
