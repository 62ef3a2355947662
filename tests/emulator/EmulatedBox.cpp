#include "tests/emulator/EmulatedBox.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#ifndef ZEVA_BOXSIM_PATH
#error "ZEVA_BOXSIM_PATH must name the zeva-boxsim binary"
#endif

namespace emulator_test {

namespace {

using Clock = std::chrono::steady_clock;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Reads the first line (without its newline) from `fd`; false on end of
// file or timeout.
bool ReadFirstLine(int fd, int timeoutMs, std::string& line) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  line.clear();
  for (;;) {
    struct pollfd wait;
    wait.fd = fd;
    wait.events = POLLIN;
    wait.revents = 0;
    int ready = poll(&wait, 1, RemainingMs(deadline));
    if (ready == 0) return false;
    if (ready < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    char c;
    ssize_t count = read(fd, &c, 1);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    if (c == '\n') return true;
    line += c;
  }
}

}  // namespace

std::string EmulatedBox::BinaryPath() { return ZEVA_BOXSIM_PATH; }

EmulatedBox::~EmulatedBox() {
  Stop();
  if (!logPath.empty()) unlink(logPath.c_str());
}

bool EmulatedBox::Start(const std::string& model,
                        const std::vector<std::string>& options,
                        int timeoutMs) {
  if (pid > 0) return false;
  char logTemplate[] = "/tmp/zeva-boxsim-log-XXXXXX";
  int log = mkstemp(logTemplate);
  if (log < 0) return false;
  if (!logPath.empty()) unlink(logPath.c_str());
  logPath = logTemplate;

  int out[2];
  if (pipe(out) != 0) {
    close(log);
    return false;
  }

  std::vector<std::string> argv = {BinaryPath(), "--model", model, "-v"};
  argv.insert(argv.end(), options.begin(), options.end());
  std::vector<char*> cargs;
  for (auto& a : argv) cargs.push_back(const_cast<char*>(a.c_str()));
  cargs.push_back(nullptr);
  long maxFd = sysconf(_SC_OPEN_MAX);
  if (maxFd < 0 || maxFd > 65536) maxFd = 65536;

  pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    dup2(log, STDERR_FILENO);
    int null = open("/dev/null", O_RDONLY);
    if (null >= 0) dup2(null, STDIN_FILENO);
    // The box must not keep the test's sockets or the daemon's pipes open.
    for (long fd = 3; fd < maxFd; ++fd) close(static_cast<int>(fd));
    execv(cargs[0], cargs.data());
    _exit(127);
  }
  close(out[1]);
  close(log);
  if (pid < 0) {
    close(out[0]);
    return false;
  }
  // Nothing but the path is ever written to standard output.
  bool gotPath = ReadFirstLine(out[0], timeoutMs, device);
  close(out[0]);
  return gotPath && device.compare(0, 5, "/dev/") == 0;
}

std::string EmulatedBox::Log() const {
  return logPath.empty() ? std::string() : ReadFile(logPath);
}

bool EmulatedBox::WaitForLog(const std::string& text, int timeoutMs) const {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (Log().find(text) != std::string::npos) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

size_t EmulatedBox::CountLog(const std::string& text) const {
  std::string all = Log();
  size_t count = 0;
  for (size_t at = all.find(text); at != std::string::npos;
       at = all.find(text, at + text.size()))
    ++count;
  return count;
}

int EmulatedBox::WaitExit(int timeoutMs) {
  if (pid <= 0) return -1;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int status = 0;
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      pid = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
    }
    if (Clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

int EmulatedBox::Stop() {
  if (pid <= 0) return -3;
  kill(pid, SIGTERM);
  int status = WaitExit(2000);
  if (status == -1 && pid > 0) {
    kill(pid, SIGKILL);
    int ignored;
    waitpid(pid, &ignored, 0);
    pid = -1;
  }
  return status;
}

}  // namespace emulator_test
