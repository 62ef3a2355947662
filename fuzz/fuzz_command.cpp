// Fuzzes the command language: the input is cut into lines and each goes to
// the controller's command handler, as from a client. A CONFIGURE's device
// token is replaced, by the input's choice, with a path that does not exist
// or with a real pseudo-terminal (never a path from the input: the fuzzer
// must not open arbitrary files). The controller is not started, so the
// version reply goes nowhere. Each input ends with the registry cleared.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <thread>

#include "app/RotatorController.h"
#include "common/Common.h"
#include "tools/pty/OpenPty.h"

namespace {

int g_master = -1;
std::string g_slavePath;

// Reads and drops what the drivers write, so the pty never fills up.
void DrainMaster() {
  char buffer[4096];
  for (;;) {
    struct pollfd fd = {g_master, POLLIN, 0};
    if (poll(&fd, 1, 100) > 0 && read(g_master, buffer, sizeof buffer) <= 0)
      usleep(1000);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  int null = open("/dev/null", O_WRONLY);
  if (null >= 0) dup2(null, STDOUT_FILENO);
  g_master = zeva::OpenPtyMaster(g_slavePath);
  if (g_master < 0) abort();
  std::thread(DrainMaster).detach();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static RotatorController controller;  // never started: no socket
  g_controller = &controller;
  std::string text(reinterpret_cast<const char*>(data), size);
  int lines = 0;
  for (const std::string& raw : Split(text, '\n')) {
    if (++lines > 16) break;
    std::string line = raw;
    std::vector<std::string> tokens = Split(line, ' ');
    if (tokens.size() == 5 && tokens[0] == "CONFIGURE") {
      // Device choice: a pty when the path token starts with 'p'.
      tokens[2] = (!tokens[2].empty() && tokens[2][0] == 'p')
                      ? g_slavePath
                      : "/nonexistent/zeva-fuzz";
      line = tokens[0] + " " + tokens[1] + " " + tokens[2] + " " + tokens[3] +
             " " + tokens[4];
    }
    controller.HandleCommand(line);
  }
  controller.HandleDisconnect();
  return 0;
}
