#include "bench/Relay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/Clock.h"

namespace bench {

namespace {

struct Device {
  int fd = -1;
  int value = 0;
  bool hasDigits = false;
  int64_t nextPollNs = 0;
};

// Connects to 127.0.0.1:port, with TCP_NODELAY as the daemon sets it on its
// client's socket; -1 on failure.
int ConnectTo(int port) {
  int peer = socket(AF_INET, SOCK_STREAM, 0);
  struct sockaddr_in address;
  memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (peer >= 0 && connect(peer, reinterpret_cast<struct sockaddr*>(&address),
                           sizeof address) != 0) {
    close(peer);
    return -1;
  }
  int one = 1;
  if (peer >= 0) setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return peer;
}

// Opens a device raw at 9600 baud, 8 data bits, as the daemon does.
int OpenRaw(const char* path, int flags) {
  const int fd = open(path, O_RDWR | O_NOCTTY | flags);
  if (fd < 0) return -1;
  struct termios settings;
  memset(&settings, 0, sizeof settings);
  settings.c_cflag = CLOCAL | CREAD | CS8;
  settings.c_iflag = IGNPAR;
  cfsetispeed(&settings, B9600);
  cfsetospeed(&settings, B9600);
  tcsetattr(fd, TCSANOW, &settings);
  return fd;
}

}  // namespace

int RunCommandRelay(int argc, char** argv) {
  if (argc != 3) return 1;
  const int peer = ConnectTo(std::atoi(argv[1]));
  const int device = OpenRaw(argv[2], 0);
  if (peer < 0 || device < 0) return 1;
  int bearing = 0;  // the line's last number so far
  for (;;) {
    char buffer[1024];
    const ssize_t count = recv(peer, buffer, sizeof buffer, 0);
    if (count <= 0) return 0;  // peer gone
    for (ssize_t k = 0; k < count; ++k) {
      const char c = buffer[k];
      if (c >= '0' && c <= '9') {
        bearing = bearing * 10 + (c - '0');
      } else if (c == '\r') {
        char command[16];
        const int length =
            std::snprintf(command, sizeof command, "M%03d\r", bearing % 1000);
        ssize_t written = write(device, command, static_cast<size_t>(length));
        (void)written;
        bearing = 0;
      } else {
        bearing = 0;
      }
    }
  }
}

int RunRelay(int argc, char** argv) {
  if (argc < 4) return 1;
  const int port = std::atoi(argv[1]);
  const int64_t period = int64_t{std::atoi(argv[2])} * 1000000;

  const int peer = ConnectTo(port);
  if (peer < 0) return 1;

  // Opened one after the other like the daemon's rotators, each polled
  // from a quarter of a millisecond after the one before.
  std::vector<Device> devices;
  const int64_t start = NowNs();
  for (int i = 3; i < argc; ++i) {
    Device device;
    device.fd = OpenRaw(argv[i], O_NONBLOCK);
    if (device.fd < 0) return 1;
    device.nextPollNs = start + period + (i - 3) * 250000;
    devices.push_back(device);
  }

  std::vector<struct pollfd> fds(devices.size() + 1);
  for (;;) {
    int64_t due = LLONG_MAX;
    for (const Device& device : devices) due = std::min(due, device.nextPollNs);
    // Rounded up to whole milliseconds, so the loop never spins waiting.
    const int64_t wait = (due - NowNs() + 999999) / 1000000;
    fds[0] = {peer, POLLIN, 0};
    for (size_t i = 0; i < devices.size(); ++i)
      fds[i + 1] = {devices[i].fd, POLLIN, 0};
    poll(fds.data(), fds.size(), wait > 0 ? static_cast<int>(wait) : 0);
    if (fds[0].revents != 0) {
      char buffer[64];
      if (recv(peer, buffer, sizeof buffer, 0) <= 0) return 0;  // peer gone
    }
    for (size_t i = 0; i < devices.size(); ++i) {
      Device& device = devices[i];
      if (fds[i + 1].revents == 0) continue;
      char buffer[256];
      ssize_t count = read(device.fd, buffer, sizeof buffer);
      for (ssize_t k = 0; k < count; ++k) {
        const char c = buffer[k];
        if (c >= '0' && c <= '9') {
          device.value = device.value * 10 + (c - '0');
          device.hasDigits = true;
        } else if ((c == '\r' || c == '\n') && device.hasDigits) {
          char line[32];
          const int length = std::snprintf(line, sizeof line, "%d %03d\r",
                                           static_cast<int>(i) + 1, device.value);
          send(peer, line, static_cast<size_t>(length), MSG_NOSIGNAL);
          device.value = 0;
          device.hasDigits = false;
        }
      }
    }
    const int64_t now = NowNs();
    for (Device& device : devices) {
      if (device.nextPollNs > now) continue;
      ssize_t written = write(device.fd, "C\r", 2);
      (void)written;
      device.nextPollNs += period;
    }
  }
}

}  // namespace bench
