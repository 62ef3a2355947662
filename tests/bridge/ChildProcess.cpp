#include "tests/bridge/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace bridge_test {

namespace {
using Clock = std::chrono::steady_clock;

std::string ReadFile(const std::string& path) {
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
}  // namespace

ChildProcess::~ChildProcess() {
  if (pid > 0) {
    kill(pid, SIGKILL);
    int status;
    waitpid(pid, &status, 0);
  }
  if (!outPath.empty()) unlink(outPath.c_str());
  if (!errPath.empty()) unlink(errPath.c_str());
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

bool ChildProcess::Start(const std::vector<std::string>& argv) {
  char outTemplate[] = "/tmp/zeva-bridge-test-out-XXXXXX";
  char errTemplate[] = "/tmp/zeva-bridge-test-err-XXXXXX";
  int out = mkstemp(outTemplate);
  int err = mkstemp(errTemplate);
  if (out < 0 || err < 0) return false;
  outPath = outTemplate;
  errPath = errTemplate;

  std::vector<char*> cargs;
  for (const std::string& arg : argv) cargs.push_back(const_cast<char*>(arg.c_str()));
  cargs.push_back(nullptr);

  pid = fork();
  if (pid == 0) {
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    int null = open("/dev/null", O_RDONLY);
    if (null >= 0) dup2(null, STDIN_FILENO);
    execvp(cargs[0], cargs.data());
    _exit(127);
  }
  close(out);
  close(err);
  return pid > 0;
}

bool ChildProcess::Signal(int signal) { return pid > 0 && kill(pid, signal) == 0; }

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

std::string ChildProcess::Stdout() const { return ReadFile(outPath); }
std::string ChildProcess::Stderr() const { return ReadFile(errPath); }

bool ChildProcess::WaitForStdout(const std::string& text, int timeoutMs) const {
  return WaitFor(outPath, text, timeoutMs);
}

bool ChildProcess::WaitForStderr(const std::string& text, int timeoutMs) const {
  return WaitFor(errPath, text, timeoutMs);
}

size_t ChildProcess::CountStderr(const std::string& text) const {
  std::string all = Stderr();
  size_t count = 0;
  for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + text.size()))
    ++count;
  return count;
}

std::string ChildProcess::FirstStdoutLine(int timeoutMs) const {
  if (!WaitForStdout("\n", timeoutMs)) return "";
  std::string all = Stdout();
  return all.substr(0, all.find('\n'));
}

int ChildProcess::Run(const std::vector<std::string>& argv, int timeoutMs, std::string& output) {
  ChildProcess child;
  if (!child.Start(argv)) return -1;
  int status = child.Wait(timeoutMs);
  output = child.Stdout() + child.Stderr();
  return status;
}

}  // namespace bridge_test
