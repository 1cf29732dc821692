// A single-node Slurm cluster of a test's own on this machine: a munge daemon with a fresh key
// and a socket in a temporary folder, slurmctld and slurmd in the foreground with a slurm.conf
// written there, their state and logs there too, ports picked free on the loopback address.
// Slurm's commands find it through SLURM_CONF, which the cluster sets while it lives, so
// `varnex submit` and the jobs it starts reach it as they would a real one.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/scoped_env.h"

namespace farmtest {

// One array task as scontrol reports it once the job is over.
struct TaskRecord {
  int task = -1;
  std::string state;                          // COMPLETED, CANCELLED, FAILED, ...
  std::map<std::string, std::string> fields;  // every Key=Value of its record
};

class SlurmCluster {
 public:
  // Starts the daemons and waits, bounded, until the node takes jobs. Throws std::runtime_error
  // with the daemons' log tails when one does not start; what had started is stopped.
  SlurmCluster();
  // Cancels what is still queued, stops every daemon by its process id (SIGTERM, then SIGKILL)
  // and every process the jobs left behind, then removes the folder.
  ~SlurmCluster();
  SlurmCluster(const SlurmCluster&) = delete;
  SlurmCluster& operator=(const SlurmCluster&) = delete;

  // Runs one of Slurm's commands (squeue, scontrol, scancel, sbatch) against this cluster.
  testsupport::ChildRun Command(const std::string& tool, const std::vector<std::string>& args,
                                int timeout_s = 60) const;

  // Waits, bounded, until `job` has no task left queued or running, and returns its tasks in
  // order. Throws std::runtime_error when the bound passes first.
  std::vector<TaskRecord> WaitForJob(const std::string& job, int timeout_s) const;

  const std::string& partition() const { return partition_; }
  // The last lines of each daemon's log, for a failure message.
  std::string LogTails() const;

 private:
  struct Daemon {
    std::string name;
    pid_t pid = -1;
    std::filesystem::path log;
  };

  void WriteMungeKey() const;
  void WriteConfig(int ctld_port, int slurmd_port) const;
  void StartDaemon(const std::string& name, const std::string& binary,
                   const std::vector<std::string>& args);
  // Polls `ready` until it holds, failing early when a daemon has exited.
  void WaitUntil(const std::string& what, int timeout_s, bool (SlurmCluster::*ready)() const);
  bool MungeReady() const;
  bool ControllerReady() const;
  bool NodeIdle() const;
  void CancelJobs() const;
  void Stop();

  std::filesystem::path dir_;
  std::string partition_ = "farm";
  std::vector<Daemon> daemons_;  // in the order started
  std::optional<ScopedEnv> conf_env_;
};

}  // namespace farmtest
