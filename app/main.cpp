// Process entry: the version answer, the banner, the stop signals, and the
// life of the one RotatorController.
//
// Stopping: the signal handler only stores the stop flag and writes a byte
// to a pipe (both async-signal-safe). The main thread waits on that pipe in
// 100 ms steps and performs the stop itself, so the handler never takes a
// lock or joins a thread, and the stop still begins at once.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cerrno>
#include <cstring>

#include "app/RotatorController.h"
#include "common/Common.h"

namespace {

std::atomic<bool> g_shutdownRequested{false};
int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
  const int savedErrno = errno;
  g_shutdownRequested.store(true, std::memory_order_release);
  if (g_signalPipe[1] >= 0) {
    char byte = 1;
    ssize_t ignored = write(g_signalPipe[1], &byte, 1);
    (void)ignored;
  }
  errno = savedErrno;
}

void PrintBanner() {
  std::fputs(
      "\n"
      " _____  _______     ___    \n"
      "|__  / | ____\\ \\   / / \\   \n"
      "  / /  |  _|  \\ \\ / / _ \\  \n"
      " / /_  | |___  \\ V / ___ \\ \n"
      "/____| |_____|  \\_/_/   \\_\\\n"
      "\n"
      " ____   ___ _____  _  _____ ___  ____  \n"
      "|  _ \\ / _ \\_   _|/ \\|_   _/ _ \\|  _ \\ \n"
      "| |_) | | | || | / _ \\ | || | | | |_) |\n"
      "|  _ <| |_| || |/ ___ \\| || |_| |  _ < \n"
      "|_| \\_\\\\___/ |_/_/   \\_\\_| \\___/|_| \\_\\\n"
      "\n"
      "Zevatron (ZEVA) Rotator\n"
      "Written by the ZEVA Rotator developers\n",
      stdout);
  std::printf("Version: v%s\n", zeva::kVersion);
  std::printf("Build: %s %s\n", __DATE__, __TIME__);
  std::printf("TCP port: %d\n\n", zeva::kTcpPort);
  std::fflush(stdout);
}

// Sleeps in steps of at most 100 ms until the stop flag is set; a signal
// ends the current step at once through the pipe.
void WaitForStop() {
  while (!g_shutdownRequested.load(std::memory_order_acquire)) {
    if (g_signalPipe[0] < 0) {
      usleep(100 * 1000);
      continue;
    }
    struct pollfd fd;
    fd.fd = g_signalPipe[0];
    fd.events = POLLIN;
    fd.revents = 0;
    poll(&fd, 1, 100);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("%s\n", zeva::kVersion);
    return 0;
  }

  if (pipe(g_signalPipe) == 0) {
    for (int fd : g_signalPipe) {
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
      fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
    }
  } else {
    g_signalPipe[0] = g_signalPipe[1] = -1;
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);

  PrintBanner();

  {
    RotatorController controller;
    g_controller = &controller;
    if (!controller.Start()) {
      LogError("Failed to start rotator controller");
      g_controller = nullptr;
      return 1;
    }
    LogMessage("ZEVA Rotator CLI running. Press Ctrl+C to stop.");

    WaitForStop();

    controller.Stop();
    g_controller = nullptr;
  }
  return 0;
}
