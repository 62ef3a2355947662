// A program the benchmark starts (the daemon, rotctld): started with its
// output in a log file, signalled and reaped by its process id only, and
// measured through /proc (Linux).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// Makes SIGINT and SIGTERM to the benchmark end every child still running
// (by its process id) before the benchmark exits.
void StopChildrenOnSignal();

class Child {
 public:
  Child() = default;
  ~Child();  // a child still running gets SIGKILL and is reaped
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Starts argv[0] (a path) with standard output and error appended to
  // logPath and standard input from /dev/null.
  bool Start(const std::vector<std::string>& argv, const std::string& logPath);
  pid_t Pid() const { return pid; }
  bool Running() const { return pid > 0; }

  bool Signal(int signal) const;
  // Waits up to timeoutMs for the exit and reaps the child. Returns true
  // with its wait status and the time the exit was seen; false if it is
  // still running.
  bool Wait(int timeoutMs, int* status = nullptr, int64_t* exitNs = nullptr);
  // SIGTERM, then SIGKILL if it has not gone after timeoutMs.
  void Stop(int timeoutMs = 3000);

  // CPU time used so far by every thread of the process (also threads that
  // have ended), in seconds, with nanosecond resolution.
  double CpuSeconds() const;
  // Fields of /proc/<pid>/status: resident set and its peak in kB, threads.
  long ResidentKb() const { return StatusField("VmRSS:"); }
  long PeakResidentKb() const { return StatusField("VmHWM:"); }
  long Threads() const { return StatusField("Threads:"); }
  // Context switches so far of the threads alive now (voluntary: the thread
  // waited; involuntary: it was preempted), from /proc/<pid>/task/*/status.
  bool ContextSwitches(long* voluntary, long* involuntary) const;

 private:
  long StatusField(const char* name) const;
  static long FieldOf(const std::string& path, const char* name);

  pid_t pid = -1;
  int pidFd = -1;  // for waiting with a time-out; -1 where unsupported
};

}  // namespace bench
