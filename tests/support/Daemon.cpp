#include "tests/support/Daemon.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#ifndef ZEVA_DAEMON_PATH
#error "ZEVA_DAEMON_PATH must name the zeva-rotator binary"
#endif

namespace testing_support {

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

std::string Daemon::BinaryPath() { return ZEVA_DAEMON_PATH; }

Daemon::~Daemon() {
  if (pid > 0) {
    kill(pid, SIGKILL);
    int status;
    waitpid(pid, &status, 0);
  }
  if (!outPath.empty()) unlink(outPath.c_str());
  if (!errPath.empty()) unlink(errPath.c_str());
}

bool Daemon::Start(const std::vector<std::string>& args, bool waitRunning,
                   int timeoutMs) {
  char outTemplate[] = "/tmp/zeva-test-out-XXXXXX";
  char errTemplate[] = "/tmp/zeva-test-err-XXXXXX";
  int out = mkstemp(outTemplate);
  int err = mkstemp(errTemplate);
  if (out < 0 || err < 0) return false;
  outPath = outTemplate;
  errPath = errTemplate;

  std::vector<std::string> argv = {BinaryPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargs;
  for (auto& a : argv) cargs.push_back(const_cast<char*>(a.c_str()));
  cargs.push_back(nullptr);

  pid = fork();
  if (pid == 0) {
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    int null = open("/dev/null", O_RDONLY);
    if (null >= 0) dup2(null, STDIN_FILENO);
    execv(cargs[0], cargs.data());
    _exit(127);
  }
  close(out);
  close(err);
  if (pid < 0) return false;
  if (!waitRunning) return true;
  return WaitForStdout("ZEVA Rotator CLI running. Press Ctrl+C to stop.",
                       timeoutMs);
}

bool Daemon::Signal(int signal) { return pid > 0 && kill(pid, signal) == 0; }

int Daemon::Wait(int timeoutMs) {
  if (pid <= 0) return -1;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int status = 0;
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      pid = -1;
      if (WIFEXITED(status)) return WEXITSTATUS(status);
      return -2;
    }
    if (Clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::string Daemon::Stdout() const { return ReadFile(outPath); }
std::string Daemon::Stderr() const { return ReadFile(errPath); }

bool Daemon::WaitForStdout(const std::string& text, int timeoutMs) const {
  return WaitFor(outPath, text, timeoutMs);
}
bool Daemon::WaitForStderr(const std::string& text, int timeoutMs) const {
  return WaitFor(errPath, text, timeoutMs);
}

size_t Daemon::CountStdout(const std::string& text) const {
  std::string all = Stdout();
  size_t count = 0;
  for (size_t at = all.find(text); at != std::string::npos;
       at = all.find(text, at + text.size()))
    ++count;
  return count;
}

}  // namespace testing_support
