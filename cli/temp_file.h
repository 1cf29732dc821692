// Writing a file so that readers only ever see a complete one: the data goes to a hidden
// temporary name in the same folder, which is renamed over the target when complete. Until then
// an existing target is untouched. Temporary files are removed when the writer gives up, and
// also when the process is interrupted by SIGINT, SIGTERM or SIGHUP (InstallInterruptCleanup).
#pragma once

#include <string>

namespace vcli {

class TempFile {
 public:
  // Reserves a fresh temporary name beside `target`. Throws std::runtime_error when the folder
  // cannot take a new file.
  explicit TempFile(const std::string& target);
  // Removes the temporary file unless Commit succeeded.
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const std::string& path() const { return path_; }
  // Renames the temporary file over the target; false with `error` set when that fails.
  bool Commit(std::string* error);

 private:
  std::string target_;
  std::string path_;
  int slot_ = -1;  // its entry in the interrupt clean-up list, or -1
  bool committed_ = false;
};

// Has an interrupt remove `path`, a temporary file written by someone else (a library), for as
// long as this lives. The owner still removes it on its normal paths.
class InterruptRemoval {
 public:
  explicit InterruptRemoval(const std::string& path);
  ~InterruptRemoval();
  InterruptRemoval(const InterruptRemoval&) = delete;
  InterruptRemoval& operator=(const InterruptRemoval&) = delete;

 private:
  int slot_ = -1;
};

// Makes SIGINT, SIGTERM and SIGHUP remove every live temporary file before the process dies with
// the signal's default action. Safe to call more than once.
void InstallInterruptCleanup();

}  // namespace vcli
