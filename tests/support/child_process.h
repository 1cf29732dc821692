// Runs a program as a child process the way a user runs it: standard input empty, both output
// streams captured through files, a bound on its run time, and its exit, signal, time and peak
// memory measured. fork and exec rather than a shell, so nothing is quoted and the child that
// overruns is killed by its own process id.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

struct ChildRun {
  int status = -1;  // exit status; -1 when it did not exit normally
  int signal = 0;
  bool timed_out = false;
  double seconds = 0;
  long peak_kib = 0;  // peak resident memory of the child
  std::string out;
  std::string err;
};

struct ChildOptions {
  std::filesystem::path cwd;      // where the child runs; empty: where the test runs
  std::filesystem::path capture;  // the folder of the capture files (removed afterwards)
  int timeout_s = 120;
};

inline ChildRun RunChild(const std::string& binary, const std::vector<std::string>& args,
                         const ChildOptions& options) {
  std::vector<std::string> argv_text = {binary};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string stem = (options.capture / ("child-" + std::to_string(getpid()))).string();
  const std::string out_path = stem + ".stdout";
  const std::string err_path = stem + ".stderr";
  const std::string cwd = options.cwd.string();

  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    // Only async-signal-safe calls between fork and exec: the test process has threads.
    const int null_fd = open("/dev/null", O_RDONLY);
    const int out_fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err_fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (null_fd < 0 || out_fd < 0 || err_fd < 0) _exit(126);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    dup2(null_fd, STDIN_FILENO);
    dup2(out_fd, STDOUT_FILENO);
    dup2(err_fd, STDERR_FILENO);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  ChildRun run;
  if (pid < 0) return run;
  int raw = 0;
  rusage usage{};
  for (;;) {
    const pid_t done = wait4(pid, &raw, WNOHANG, &usage);
    if (done == pid) break;
    if (std::chrono::steady_clock::now() - start > std::chrono::seconds(options.timeout_s)) {
      run.timed_out = true;
      kill(pid, SIGKILL);
      wait4(pid, &raw, 0, &usage);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (WIFEXITED(raw)) run.status = WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) run.signal = WTERMSIG(raw);
  run.peak_kib = usage.ru_maxrss;
  run.out = ReadFile(out_path);
  run.err = ReadFile(err_path);
  std::filesystem::remove(out_path);
  std::filesystem::remove(err_path);
  return run;
}

}  // namespace testsupport
