#include "media/temp_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace vmedia {

namespace {

// The signal handler may only touch plain memory, so live temporary names are kept in fixed
// slots. A slot is published (state kReady) only after its name is complete, and withdrawn
// before its name changes.
constexpr int kSlots = 512;
constexpr int kFree = 0, kWriting = 1, kReady = 2;
constexpr size_t kMaxPath = 4096;

struct Slot {
  std::atomic<int> state{kFree};
  char path[kMaxPath];
};
Slot slots[kSlots];

int Publish(const std::string& path) {
  if (path.size() >= kMaxPath) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (!slots[i].state.compare_exchange_strong(expected, kWriting)) continue;
    std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
    slots[i].state.store(kReady);
    return i;
  }
  return -1;  // all in use: the file is still removed on normal paths, just not on a signal
}

void Withdraw(int slot) {
  if (slot >= 0) slots[slot].state.store(kFree);
}

std::atomic<unsigned> counter{0};

}  // namespace

TempFile::TempFile(const std::string& target) : target_(target) {
  const std::filesystem::path p(target);
  const std::string folder = p.parent_path().empty() ? "." : p.parent_path().string();
  // The name stays hidden and unique per process and call; O_EXCL makes sure it is ours.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = folder + "/." + p.filename().string() + ".varnex-" +
                                  std::to_string(getpid()) + "-" +
                                  std::to_string(counter.fetch_add(1));
    const int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      close(fd);
      path_ = candidate;
      slot_ = Publish(path_);
      return;
    }
    if (errno != EEXIST) break;
  }
  throw std::runtime_error("cannot create a file in " + folder + ": " + std::strerror(errno));
}

TempFile::~TempFile() {
  if (!committed_ && !path_.empty()) unlink(path_.c_str());
  Withdraw(slot_);
}

bool TempFile::Commit(std::string* error) {
  if (std::rename(path_.c_str(), target_.c_str()) != 0) {
    if (error) *error = std::strerror(errno);
    return false;
  }
  committed_ = true;
  Withdraw(slot_);
  slot_ = -1;
  return true;
}

void RemoveLiveTemporaryFiles() {
  for (Slot& slot : slots) {
    if (slot.state.load() == kReady) unlink(slot.path);
  }
}

}  // namespace vmedia
