#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace testing_support {

namespace {
using Clock = std::chrono::steady_clock;

std::string ReadFile(const std::string& path) {
  if (path.empty()) return "";
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool WaitFor(const std::string& path, const std::string& text, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (ReadFile(path).find(text) != std::string::npos) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

size_t Count(const std::string& all, const std::string& text) {
  size_t count = 0;
  for (size_t at = all.find(text); at != std::string::npos;
       at = all.find(text, at + text.size()))
    ++count;
  return count;
}
}  // namespace

ChildProcess::~ChildProcess() {
  Kill();
  RemoveFiles();
}

void ChildProcess::Kill() {
  if (pid <= 0) return;
  kill(pid, SIGKILL);
  int status;
  waitpid(pid, &status, 0);
  pid = -1;
}

void ChildProcess::RemoveFiles() {
  if (!outPath.empty()) unlink(outPath.c_str());
  if (!errPath.empty()) unlink(errPath.c_str());
  outPath.clear();
  errPath.clear();
}

std::string ChildProcess::FindInPath(const std::string& name) {
  const char* path = getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  std::stringstream split(dirs);
  std::string dir;
  while (std::getline(split, dir, ':')) {
    if (dir.empty()) continue;
    std::string candidate = dir + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

bool ChildProcess::Start(const std::vector<std::string>& argv,
                         Descriptors descriptors) {
  if (pid > 0 || argv.empty()) return false;
  RemoveFiles();
  char outTemplate[] = "/tmp/zeva-test-out-XXXXXX";
  char errTemplate[] = "/tmp/zeva-test-err-XXXXXX";
  int out = mkstemp(outTemplate);
  if (out < 0) return false;
  outPath = outTemplate;
  int err = mkstemp(errTemplate);
  if (err < 0) {
    close(out);
    return false;
  }
  errPath = errTemplate;

  std::vector<char*> cargs;
  for (const std::string& arg : argv)
    cargs.push_back(const_cast<char*>(arg.c_str()));
  cargs.push_back(nullptr);
  long maxFd = sysconf(_SC_OPEN_MAX);
  if (maxFd < 0 || maxFd > 65536) maxFd = 65536;

  pid = fork();
  if (pid == 0) {
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    int null = open("/dev/null", O_RDONLY);
    if (null >= 0) dup2(null, STDIN_FILENO);
    if (descriptors == Descriptors::kStdioOnly) {
      for (long fd = 3; fd < maxFd; ++fd) close(static_cast<int>(fd));
    }
    execvp(cargs[0], cargs.data());
    _exit(127);
  }
  close(out);
  close(err);
  return pid > 0;
}

bool ChildProcess::Signal(int signal) {
  return pid > 0 && kill(pid, signal) == 0;
}

int ChildProcess::Wait(int timeoutMs) {
  if (pid <= 0) return -1;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      pid = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
    }
    if (Clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

int ChildProcess::Stop(int graceMs) {
  if (pid <= 0) return -3;
  kill(pid, SIGTERM);
  int status = Wait(graceMs);
  Kill();
  return status;
}

bool ChildProcess::Ended() const {
  if (pid <= 0) return true;
  siginfo_t info;
  memset(&info, 0, sizeof info);
  return waitid(P_PID, static_cast<id_t>(pid), &info,
                WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == pid;
}

std::string ChildProcess::Stdout() const { return ReadFile(outPath); }
std::string ChildProcess::Stderr() const { return ReadFile(errPath); }

bool ChildProcess::WaitForStdout(const std::string& text,
                                 int timeoutMs) const {
  return WaitFor(outPath, text, timeoutMs);
}

bool ChildProcess::WaitForStderr(const std::string& text,
                                 int timeoutMs) const {
  return WaitFor(errPath, text, timeoutMs);
}

size_t ChildProcess::CountStdout(const std::string& text) const {
  return Count(Stdout(), text);
}

size_t ChildProcess::CountStderr(const std::string& text) const {
  return Count(Stderr(), text);
}

std::string ChildProcess::FirstStdoutLine(int timeoutMs) const {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    // Whether it had ended is asked before reading, so a line written just
    // before the end is still seen.
    bool ended = Ended();
    std::string all = Stdout();
    size_t end = all.find('\n');
    if (end != std::string::npos) return all.substr(0, end);
    if (ended || Clock::now() >= deadline) return "";
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

int ChildProcess::Run(const std::vector<std::string>& argv, int timeoutMs,
                      std::string& output) {
  ChildProcess child;
  if (!child.Start(argv)) return -1;
  int status = child.Wait(timeoutMs);
  output = child.Stdout() + child.Stderr();
  return status;
}

}  // namespace testing_support
