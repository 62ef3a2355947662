#include "tests/support/Pty.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "tests/support/Time.h"
#include "tools/pty/OpenPty.h"

namespace testing_support {

Pty::Pty() : master(zeva::OpenPtyMaster(slavePath)) {}

Pty::~Pty() { Vanish(); }

void Pty::Vanish() {
  if (master >= 0) close(master);
  master = -1;
}

bool Pty::Send(const std::string& bytes) {
  size_t done = 0;
  auto deadline = Clock::now() + std::chrono::seconds(5);
  while (master >= 0 && done < bytes.size()) {
    ssize_t n = write(master, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EAGAIN && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } else {
      return false;
    }
  }
  return done == bytes.size();
}

std::string Pty::Read(int timeoutMs, size_t want) {
  std::string out;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (master >= 0) {
    if (want > 0 && out.size() >= want) break;
    int left = MsLeft(deadline);
    struct pollfd fd = {master, POLLIN, 0};
    int ready = poll(&fd, 1, left);
    if (ready > 0 && (fd.revents & POLLIN)) {
      char buffer[512];
      ssize_t n = read(master, buffer, sizeof buffer);
      if (n > 0) {
        out.append(buffer, static_cast<size_t>(n));
        continue;
      }
    }
    // No slave open (EIO / hang-up): wait a little and look again.
    if (left == 0) break;
    if (ready > 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return out;
}

bool Pty::SlaveSettings(struct termios* settings) const {
  int fd = open(slavePath.c_str(), O_RDWR | O_NOCTTY);
  bool ok = fd >= 0 && tcgetattr(fd, settings) == 0;
  if (fd >= 0) close(fd);
  return ok;
}

bool Pty::SetSlaveSettings(const struct termios& settings) const {
  int fd = open(slavePath.c_str(), O_RDWR | O_NOCTTY);
  bool ok = fd >= 0 && tcsetattr(fd, TCSANOW, &settings) == 0;
  if (fd >= 0) close(fd);
  return ok;
}

}  // namespace testing_support
