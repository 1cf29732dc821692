#include "slurm_cluster.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace farmtest {

namespace fs = std::filesystem;

namespace {

// How long a daemon gets to exit after SIGTERM before SIGKILL.
constexpr auto kStopGrace = std::chrono::seconds(10);
constexpr auto kPoll = std::chrono::milliseconds(100);

std::string Trimmed(const std::string& text) {
  const size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

// `count` distinct free TCP ports on the loopback address. Each socket stays bound until all are
// picked, so the kernel cannot hand out one port twice; the daemons bind them moments later.
std::vector<int> FreeLoopbackPorts(int count) {
  std::vector<int> fds;
  std::vector<int> ports;
  for (int i = 0; i < count; ++i) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      if (fd >= 0) close(fd);
      break;
    }
    fds.push_back(fd);
    ports.push_back(ntohs(address.sin_port));
  }
  for (int fd : fds) close(fd);
  if (static_cast<int>(ports.size()) != count)
    throw std::runtime_error("cannot find free ports on 127.0.0.1");
  return ports;
}

// The node's hardware as slurmd itself sees it (`slurmd -C`), as NodeName=... fields.
std::string NodeHardware() {
  testsupport::ChildOptions options;
  options.capture = fs::temp_directory_path();
  const testsupport::ChildRun run = testsupport::RunChild(VARNEX_SLURMD, {"-C"}, options);
  if (run.status != 0) throw std::runtime_error("slurmd -C failed: " + run.err);
  const std::set<std::string> wanted = {"CPUs",           "Boards",         "SocketsPerBoard",
                                        "CoresPerSocket", "ThreadsPerCore", "RealMemory"};
  std::istringstream first_line(run.out.substr(0, run.out.find('\n')));
  std::string hardware;
  for (std::string field; first_line >> field;)
    if (wanted.count(field.substr(0, field.find('=')))) hardware += " " + field;
  if (hardware.find("CPUs=") == std::string::npos)
    throw std::runtime_error("slurmd -C printed no CPUs: " + run.out);
  return hardware;
}

std::string UserName() {
  const passwd* entry = getpwuid(geteuid());
  if (!entry) throw std::runtime_error("the current user has no name");
  return entry->pw_name;
}

std::string Tail(const fs::path& path, size_t lines) {
  std::ifstream file(path);
  std::vector<std::string> all;
  for (std::string line; std::getline(file, line);) all.push_back(line);
  std::string tail;
  for (size_t i = all.size() > lines ? all.size() - lines : 0; i < all.size(); ++i)
    tail += "  " + all[i] + "\n";
  return tail;
}

// Key=Value fields of one `scontrol -o` record. Values hold no blanks in this cluster's
// records (paths are the tests' own), except Reason's, which no check reads.
std::map<std::string, std::string> Fields(const std::string& record) {
  std::map<std::string, std::string> fields;
  std::istringstream in(record);
  for (std::string field; in >> field;) {
    const size_t equals = field.find('=');
    if (equals != std::string::npos) fields[field.substr(0, equals)] = field.substr(equals + 1);
  }
  return fields;
}

bool IsFinal(const std::string& state) {
  static const std::set<std::string> final_states = {"COMPLETED", "CANCELLED", "FAILED",
                                                     "TIMEOUT",   "NODE_FAIL", "OUT_OF_MEMORY",
                                                     "PREEMPTED", "BOOT_FAIL", "DEADLINE"};
  return final_states.count(state) > 0;
}

// The processes whose parent is this one: the daemons, and what the jobs left behind once their
// own parents are gone (this process is their subreaper).
std::vector<pid_t> OwnChildren() {
  std::vector<pid_t> children;
  const std::string me = std::to_string(getpid());
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream status(entry.path() / "status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("PPid:", 0) != 0) continue;
      if (Trimmed(line.substr(5)) == me) children.push_back(std::stoi(name));
      break;
    }
  }
  return children;
}

// Waits for `pid` to exit, up to `grace`; true when it did (and is reaped).
bool Reaped(pid_t pid, std::chrono::steady_clock::duration grace) {
  const auto end = std::chrono::steady_clock::now() + grace;
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno == ECHILD)) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(kPoll);
  }
}

}  // namespace

SlurmCluster::SlurmCluster() {
  std::string name = (fs::temp_directory_path() / "vxfarm-XXXXXX").string();
  if (!mkdtemp(name.data())) throw std::runtime_error("cannot make the cluster's folder");
  dir_ = name;
  // The batch steps outlive slurmd's forks; as their subreaper this process can stop them.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  try {
    for (const char* sub : {"munge", "state", "spool", "log"}) fs::create_directories(dir_ / sub);
    // munged refuses a socket folder others may write into.
    fs::permissions(dir_ / "munge",
                    fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    WriteMungeKey();
    const std::vector<int> ports = FreeLoopbackPorts(2);
    WriteConfig(ports[0], ports[1]);
    conf_env_.emplace("SLURM_CONF", (dir_ / "slurm.conf").string());

    // --force: munged otherwise refuses to run as root, as the tests may.
    StartDaemon("munged", VARNEX_MUNGED,
                {"--foreground", "--force", "--key-file=" + (dir_ / "munge/munge.key").string(),
                 "--socket=" + (dir_ / "munge/munge.socket").string(),
                 "--pid-file=" + (dir_ / "munge/munged.pid").string(),
                 "--seed-file=" + (dir_ / "munge/munged.seed").string(),
                 "--log-file=" + (dir_ / "log/munged.log").string()});
    WaitUntil("munged's socket", 30, &SlurmCluster::MungeReady);
    StartDaemon("slurmctld", VARNEX_SLURMCTLD, {"-D"});
    WaitUntil("slurmctld to answer", 60, &SlurmCluster::ControllerReady);
    StartDaemon("slurmd", VARNEX_SLURMD, {"-D", "-N", "localhost"});
    WaitUntil("the node to be idle", 60, &SlurmCluster::NodeIdle);
  } catch (const std::exception& e) {
    const std::string logs = LogTails();
    Stop();
    throw std::runtime_error(std::string(e.what()) + "\n" + logs);
  }
}

SlurmCluster::~SlurmCluster() {
  if (testing::Test::HasFailure()) std::fprintf(stderr, "%s", LogTails().c_str());
  Stop();
}

void SlurmCluster::WriteMungeKey() const {
  // munged takes any key of 32 bytes or more; a fresh one per cluster keeps clusters apart.
  std::ifstream random("/dev/urandom", std::ios::binary);
  std::string key(1024, '\0');
  random.read(key.data(), static_cast<std::streamsize>(key.size()));
  if (!random) throw std::runtime_error("cannot read /dev/urandom for the munge key");
  const fs::path path = dir_ / "munge/munge.key";
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  const bool written =
      fd >= 0 && write(fd, key.data(), key.size()) == static_cast<ssize_t>(key.size());
  if (fd >= 0) close(fd);
  if (!written) throw std::runtime_error("cannot write the munge key");
}

void SlurmCluster::WriteConfig(int ctld_port, int slurmd_port) const {
  const std::string user = UserName();
  const std::string d = dir_.string();
  std::ofstream conf(dir_ / "slurm.conf");
  // The daemons run as this user, not as a service account, and track a job's processes by
  // their parents (proctrack/linuxproc) with no task plugin: a container has no cgroups to
  // give them. Both daemons listen on the loopback address only.
  conf << "ClusterName=varnexfarm\n"
       << "SlurmctldHost=localhost(127.0.0.1)\n"
       << "SlurmctldPort=" << ctld_port << "\n"
       << "SlurmdPort=" << slurmd_port << "\n"
       << "CommunicationParameters=NoCtldInAddrAny,NoInAddrAny\n"
       << "SlurmUser=" << user << "\n"
       << "SlurmdUser=" << user << "\n"
       << "AuthType=auth/munge\n"
       << "AuthInfo=socket=" << d << "/munge/munge.socket\n"
       << "CredType=cred/munge\n"
       << "StateSaveLocation=" << d << "/state\n"
       << "SlurmdSpoolDir=" << d << "/spool\n"
       << "SlurmctldPidFile=" << d << "/slurmctld.pid\n"
       << "SlurmdPidFile=" << d << "/slurmd.pid\n"
       << "SlurmctldLogFile=" << d << "/log/slurmctld.log\n"
       << "SlurmdLogFile=" << d << "/log/slurmd.log\n"
       << "ProctrackType=proctrack/linuxproc\n"
       << "TaskPlugin=task/none\n"
       << "MpiDefault=none\n"
       << "JobAcctGatherType=jobacct_gather/none\n"
       << "AccountingStorageType=accounting_storage/none\n"
       << "JobCompType=jobcomp/none\n"
       << "MailProg=/bin/true\n"
       << "SchedulerType=sched/backfill\n"
       << "SelectType=select/cons_tres\n"
       << "SelectTypeParameters=CR_CPU\n"
       << "ReturnToService=2\n"
       // Finished jobs stay visible to scontrol for the tests' checks; a cancelled task gets
       // a short while between SIGTERM and SIGKILL.
       << "MinJobAge=600\n"
       << "KillWait=5\n"
       << "NodeName=localhost NodeAddr=127.0.0.1" << NodeHardware() << " State=UNKNOWN\n"
       << "PartitionName=" << partition_
       << " Nodes=localhost Default=YES MaxTime=INFINITE State=UP\n";
  if (!conf.flush()) throw std::runtime_error("cannot write slurm.conf");
}

void SlurmCluster::StartDaemon(const std::string& name, const std::string& binary,
                               const std::vector<std::string>& args) {
  Daemon daemon{name, -1, dir_ / "log" / (name + ".out")};
  std::vector<std::string> argv_text = {binary};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int out_fd = open(daemon.log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const std::string cwd = dir_.string();
  const pid_t parent = getpid();
  const pid_t pid = null_fd >= 0 && out_fd >= 0 ? fork() : -1;
  if (pid == 0) {
    // Only async-signal-safe calls until exec. A test killed outright (a CTest timeout) takes
    // its daemons with it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(126);
    dup2(null_fd, STDIN_FILENO);
    dup2(out_fd, STDOUT_FILENO);
    dup2(out_fd, STDERR_FILENO);
    if (chdir(cwd.c_str()) != 0) _exit(126);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  if (null_fd >= 0) close(null_fd);
  if (out_fd >= 0) close(out_fd);
  if (pid < 0) throw std::runtime_error("cannot start " + name);
  daemon.pid = pid;
  daemons_.push_back(daemon);
}

void SlurmCluster::WaitUntil(const std::string& what, int timeout_s,
                             bool (SlurmCluster::*ready)() const) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
  while (!(this->*ready)()) {
    for (Daemon& daemon : daemons_) {
      int status = 0;
      if (daemon.pid > 0 && waitpid(daemon.pid, &status, WNOHANG) == daemon.pid) {
        daemon.pid = -1;
        throw std::runtime_error(daemon.name + " exited while waiting for " + what);
      }
    }
    if (std::chrono::steady_clock::now() > end)
      throw std::runtime_error("gave up waiting for " + what + " after " +
                               std::to_string(timeout_s) + " s");
    std::this_thread::sleep_for(kPoll);
  }
}

bool SlurmCluster::MungeReady() const {
  return fs::exists(dir_ / "munge/munge.socket");
}

bool SlurmCluster::ControllerReady() const {
  const testsupport::ChildRun ping = Command("scontrol", {"ping"}, 20);
  return ping.status == 0 && ping.out.find("is UP") != std::string::npos;
}

bool SlurmCluster::NodeIdle() const {
  const testsupport::ChildRun node = Command("sinfo", {"-h", "-N", "-n", "localhost", "-o", "%T"});
  return node.status == 0 && Trimmed(node.out) == "idle";
}

testsupport::ChildRun SlurmCluster::Command(const std::string& tool,
                                            const std::vector<std::string>& args,
                                            int timeout_s) const {
  testsupport::ChildOptions options;
  options.capture = dir_;
  options.timeout_s = timeout_s;
  return testsupport::RunChild(std::string(VARNEX_SLURM_BIN_DIR) + "/" + tool, args, options);
}

std::vector<TaskRecord> SlurmCluster::WaitForJob(const std::string& job, int timeout_s) const {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
  for (;;) {
    const testsupport::ChildRun show = Command("scontrol", {"-o", "show", "job", job});
    std::vector<TaskRecord> tasks;
    bool over = show.status == 0;
    std::istringstream lines(show.out);
    for (std::string line; over && std::getline(lines, line);) {
      if (Trimmed(line).empty()) continue;
      TaskRecord record;
      record.fields = Fields(line);
      record.state = record.fields["JobState"];
      // A pending remainder of the array is one record with a range of task ids.
      const std::string id = record.fields["ArrayTaskId"];
      over = IsFinal(record.state) && !id.empty() &&
             id.find_first_not_of("0123456789") == std::string::npos;
      if (over) record.task = std::stoi(id);
      tasks.push_back(record);
    }
    if (over && !tasks.empty()) {
      std::sort(tasks.begin(), tasks.end(),
                [](const TaskRecord& a, const TaskRecord& b) { return a.task < b.task; });
      return tasks;
    }
    if (std::chrono::steady_clock::now() > end)
      throw std::runtime_error("job " + job + " still had tasks after " +
                               std::to_string(timeout_s) + " s:\n" + show.out + show.err);
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
}

std::string SlurmCluster::LogTails() const {
  std::string tails;
  for (const char* log :
       {"munged.log", "slurmctld.log", "slurmd.log", "munged.out", "slurmctld.out", "slurmd.out"}) {
    const fs::path path = dir_ / "log" / log;
    if (fs::exists(path)) tails += std::string(log) + ":\n" + Tail(path, 15);
  }
  return tails;
}

void SlurmCluster::CancelJobs() const {
  Command("scancel", {"--partition=" + partition_}, 20);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < end) {
    const testsupport::ChildRun queue = Command("squeue", {"-h", "-o", "%i"}, 20);
    if (queue.status != 0 || Trimmed(queue.out).empty()) return;
    std::this_thread::sleep_for(kPoll);
  }
}

void SlurmCluster::Stop() {
  const bool controller_up = daemons_.size() >= 2 && daemons_[1].pid > 0;
  if (controller_up) CancelJobs();
  for (auto daemon = daemons_.rbegin(); daemon != daemons_.rend(); ++daemon) {
    if (daemon->pid <= 0) continue;
    kill(daemon->pid, SIGTERM);
    if (!Reaped(daemon->pid, kStopGrace)) {
      kill(daemon->pid, SIGKILL);
      Reaped(daemon->pid, std::chrono::seconds(10));
    }
    daemon->pid = -1;
  }
  // Whatever the jobs left behind (batch steps and their renders, when a test ended early) has
  // come to this process as its subreaper; a killed step's own children follow it here.
  for (int round = 0; round < 50; ++round) {
    const std::vector<pid_t> left = OwnChildren();
    if (left.empty()) break;
    for (pid_t pid : left) {
      kill(pid, SIGKILL);
      Reaped(pid, std::chrono::seconds(5));
    }
  }
  prctl(PR_SET_CHILD_SUBREAPER, 0);
  conf_env_.reset();
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

}  // namespace farmtest
