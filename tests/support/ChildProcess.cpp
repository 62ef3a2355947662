#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "tests/support/Time.h"

#ifndef ZEVA_DAEMON_PATH
#error "ZEVA_DAEMON_PATH must name the zeva-rotator binary"
#endif

namespace testing_support {

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  if (!path.empty()) text << in.rdbuf();
  return text.str();
}

}  // namespace

size_t Count(const std::string& all, const std::string& text) {
  size_t count = 0;
  for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + text.size()))
    ++count;
  return count;
}

ChildProcess::~ChildProcess() {
  Kill();
  RemoveFiles();
}

int ChildProcess::OpenDescriptors() const {
  DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
  if (dir == nullptr) return -1;
  int count = 0;
  while (struct dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
  closedir(dir);
  return count;
}

int ChildProcess::Stop(int graceMs) {
  if (pid <= 0) return -3;
  kill(pid, SIGTERM);
  int status = Wait(graceMs);
  Kill();
  return status;
}

void ChildProcess::Kill() {
  if (pid <= 0) return;
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  pid = -1;
}

void ChildProcess::RemoveFiles() {
  for (std::string* path : {&outPath, &errPath}) {
    if (!path->empty()) unlink(path->c_str());
    path->clear();
  }
}

bool ChildProcess::Start(const std::vector<std::string>& argv, Descriptors descriptors) {
  if (pid > 0 || argv.empty()) return false;
  RemoveFiles();
  char outTemplate[] = "/tmp/zeva-test-out-XXXXXX";
  char errTemplate[] = "/tmp/zeva-test-err-XXXXXX";
  const int out = mkstemp(outTemplate), err = mkstemp(errTemplate);
  if (out >= 0) outPath = outTemplate;
  if (err >= 0) errPath = errTemplate;
  if (out < 0 || err < 0) {
    for (int fd : {out, err}) if (fd >= 0) close(fd);
    return false;
  }
  std::vector<char*> cargs;
  for (const std::string& arg : argv) cargs.push_back(const_cast<char*>(arg.c_str()));
  cargs.push_back(nullptr);
  const std::string failed = argv[0] + ": cannot be run\n";
  long maxFd = sysconf(_SC_OPEN_MAX);
  if (maxFd < 0 || maxFd > 65536) maxFd = 65536;

  pid = fork();
  if (pid == 0) {
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    int null = open("/dev/null", O_RDONLY);
    if (null >= 0) dup2(null, STDIN_FILENO);
    if (descriptors == Descriptors::kStdioOnly)
      for (long fd = 3; fd < maxFd; ++fd) close(static_cast<int>(fd));
    execvp(cargs[0], cargs.data());
    ssize_t ignored = write(STDERR_FILENO, failed.data(), failed.size());
    (void)ignored;
    _exit(127);
  }
  close(out);
  close(err);
  return pid > 0;
}

bool ChildProcess::Signal(int signal) { return pid > 0 && kill(pid, signal) == 0; }

int ChildProcess::Wait(int timeoutMs) {
  int status = 0;
  if (pid <= 0 ||
      !WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, timeoutMs))
    return -1;
  pid = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
}

bool ChildProcess::Ended() const {
  siginfo_t info;
  memset(&info, 0, sizeof info);
  return pid <= 0 || (waitid(P_PID, static_cast<id_t>(pid), &info,
                             WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid);
}

std::string ChildProcess::Stdout() const { return ReadFile(outPath); }
std::string ChildProcess::Stderr() const { return ReadFile(errPath); }

bool ChildProcess::WaitForStdout(const std::string& text, int timeoutMs) const {
  return WaitUntil([&] { return Stdout().find(text) != std::string::npos; }, timeoutMs);
}

bool ChildProcess::WaitForStderr(const std::string& text, int timeoutMs) const {
  return WaitUntil([&] { return Stderr().find(text) != std::string::npos; }, timeoutMs);
}

std::string ChildProcess::FirstStdoutLine(int timeoutMs) const {
  std::string line;
  WaitUntil([&] {
    // Whether it had ended is asked before reading, so a line written just
    // before the end is still seen.
    bool ended = Ended();
    std::string all = Stdout();
    if (all.find('\n') != std::string::npos) line = all.substr(0, all.find('\n'));
    return ended || !line.empty();
  }, timeoutMs);
  return line;
}

std::string Daemon::BinaryPath() { return ZEVA_DAEMON_PATH; }

bool Daemon::Start(const std::vector<std::string>& args, bool waitRunning) {
  std::vector<std::string> argv = {BinaryPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  return ChildProcess::Start(argv) &&
         (!waitRunning || WaitForStdout("ZEVA Rotator CLI running. Press Ctrl+C to stop.", 5000));
}

}  // namespace testing_support
