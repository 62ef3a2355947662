// Process entry: the version answer, the banner, the stop signals, and the
// life of the one RotatorController.
//
// Stopping: the signal handler only stores the stop flag and wakes a pipe
// (both async-signal-safe). The main thread waits on that pipe with no
// timeout and performs the stop itself, so the handler never takes a lock or
// joins a thread, the stop begins at once, and an idle daemon never wakes.
#include <poll.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cerrno>
#include <cstring>

#include "BuildDate.h"  // generated: ZEVA_BUILD_DATE, ZEVA_BUILD_TIME
#include "app/RotatorController.h"
#include "common/Common.h"
#include "common/WakePipe.h"

namespace {

std::atomic<bool> g_shutdownRequested{false};
zeva::WakePipe g_signalPipe;

void OnSignal(int) {
  g_shutdownRequested.store(true, std::memory_order_release);
  g_signalPipe.Wake();  // keeps errno as it was
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
  std::printf("Build: %s %s\n", ZEVA_BUILD_DATE, ZEVA_BUILD_TIME);
  std::printf("TCP port: %d\n\n", zeva::kTcpPort);
  std::fflush(stdout);
}

// Sleeps until the stop flag is set. The wait has no timeout: the signal
// handler sets the flag before it wakes the pipe, so the flag is seen as
// soon as it is set, with no periodic look at it (the pipe exists: main
// refuses to start without it).
void WaitForStop() {
  while (!g_shutdownRequested.load(std::memory_order_acquire)) {
    struct pollfd fd = {g_signalPipe.ReadFd(), POLLIN, 0};
    poll(&fd, 1, -1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("%s\n", zeva::kVersion);
    return 0;
  }

  // Made before the handler is installed, so a signal always finds it.
  const bool signalPipeMade = g_signalPipe.Open();
  const int pipeError = errno;
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);

  PrintBanner();

  if (!signalPipeMade) {
    // Nothing could wake the main thread for a stop: a failed start.
    LogError("Unable to create the stop signal pipe: %s",
             std::strerror(pipeError));
    LogError("Failed to start rotator controller");
    return 1;
  }

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
