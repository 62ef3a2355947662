#include "bench/Child.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/Clock.h"

namespace bench {

namespace {

// The children running now, for the signal handler: a fixed table of
// atomics, so the handler reads it without a lock.
constexpr int kMaxChildren = 16;
std::atomic<pid_t> g_children[kMaxChildren];

void Remember(pid_t pid) {
  for (auto& slot : g_children) {
    pid_t empty = 0;
    if (slot.compare_exchange_strong(empty, pid)) return;
  }
}

void Forget(pid_t pid) {
  for (auto& slot : g_children) {
    pid_t expected = pid;
    if (slot.compare_exchange_strong(expected, 0)) return;
  }
}

void OnStopSignal(int signal) {
  for (auto& slot : g_children) {
    const pid_t pid = slot.load();
    if (pid > 0) kill(pid, SIGTERM);
  }
  _exit(128 + signal);
}

}  // namespace

void StopChildrenOnSignal() {
  signal(SIGINT, OnStopSignal);
  signal(SIGTERM, OnStopSignal);
}

Child::~Child() {
  if (pid > 0) {
    kill(pid, SIGKILL);
    Wait(5000);
  }
  if (pidFd >= 0) close(pidFd);
}

bool Child::Start(const std::vector<std::string>& argv,
                  const std::string& logPath) {
  if (pid > 0 || argv.empty()) return false;
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC,
                 0644);
  if (log < 0) return false;
  pid_t child = fork();
  if (child < 0) {
    close(log);
    return false;
  }
  if (child == 0) {
    int input = open("/dev/null", O_RDONLY);
    if (input >= 0) dup2(input, 0);
    dup2(log, 1);
    dup2(log, 2);
    execv(args[0], args.data());
    _exit(127);
  }
  close(log);
  pid = child;
  Remember(pid);
#if defined(SYS_pidfd_open)
  pidFd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#endif
  return true;
}

bool Child::Signal(int signal) const { return pid > 0 && kill(pid, signal) == 0; }

bool Child::Wait(int timeoutMs, int* status, int64_t* exitNs) {
  if (pid <= 0) return false;
  const int64_t deadline = NowNs() + int64_t{timeoutMs} * 1000000;
  int waitStatus = 0;
  for (;;) {
    if (pidFd >= 0) {
      int64_t left = (deadline - NowNs()) / 1000000;
      struct pollfd wait = {pidFd, POLLIN, 0};
      if (left >= 0) poll(&wait, 1, static_cast<int>(left) + 1);
    }
    const int64_t seen = NowNs();
    pid_t done = waitpid(pid, &waitStatus, WNOHANG);
    if (done == pid) {
      Forget(pid);
      if (status) *status = waitStatus;
      if (exitNs) *exitNs = seen;
      pid = -1;
      if (pidFd >= 0) close(pidFd);
      pidFd = -1;
      return true;
    }
    if (done < 0 && errno != EINTR) return false;
    if (NowNs() > deadline) return false;
    if (pidFd < 0) SleepMs(0.1);  // no pidfd: look again shortly
  }
}

void Child::Stop(int timeoutMs) {
  if (pid <= 0) return;
  Signal(SIGTERM);
  if (Wait(timeoutMs)) return;
  Signal(SIGKILL);
  Wait(5000);
}

double Child::CpuSeconds() const {
  clockid_t clock;
  struct timespec used;
  if (pid <= 0 || clock_getcpuclockid(pid, &clock) != 0 ||
      clock_gettime(clock, &used) != 0)
    return -1;
  return static_cast<double>(used.tv_sec) +
         static_cast<double>(used.tv_nsec) / 1e9;
}

bool Child::ContextSwitches(long* voluntary, long* involuntary) const {
  *voluntary = 0;
  *involuntary = 0;
  if (pid <= 0) return false;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* directory = opendir(tasks.c_str());
  if (!directory) return false;
  while (struct dirent* entry = readdir(directory)) {
    if (entry->d_name[0] == '.') continue;
    const std::string status = tasks + "/" + entry->d_name + "/status";
    const long v = FieldOf(status, "voluntary_ctxt_switches:");
    const long n = FieldOf(status, "nonvoluntary_ctxt_switches:");
    if (v > 0) *voluntary += v;
    if (n > 0) *involuntary += n;
  }
  closedir(directory);
  return true;
}

long Child::StatusField(const char* name) const {
  if (pid <= 0) return -1;
  return FieldOf("/proc/" + std::to_string(pid) + "/status", name);
}

long Child::FieldOf(const std::string& path, const char* name) {
  FILE* file = fopen(path.c_str(), "r");
  if (!file) return -1;
  char text[256];
  long value = -1;
  const size_t length = strlen(name);
  while (fgets(text, sizeof text, file)) {
    if (strncmp(text, name, length) == 0) {
      value = strtol(text + length, nullptr, 10);
      break;
    }
  }
  fclose(file);
  return value;
}

}  // namespace bench
