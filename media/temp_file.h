// Writing a file so that readers only ever see a complete one: the data goes to a hidden
// temporary name in the same folder, which is renamed over the target when complete. Until then
// an existing target is untouched. Temporary files are removed when the writer gives up, and
// also by a program's signal handler, through RemoveLiveTemporaryFiles.
#pragma once

#include <string>

namespace vmedia {

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

// Removes every live temporary file. Async-signal-safe: for a program's handler of SIGINT and its
// kind, before the process dies; the library installs no handler of its own.
void RemoveLiveTemporaryFiles();

}  // namespace vmedia
