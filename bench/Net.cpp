#include "bench/Net.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "bench/Clock.h"

namespace bench {

namespace {

struct sockaddr_in Loopback(int port) {
  struct sockaddr_in address;
  memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  return address;
}

}  // namespace

bool LineClient::Connect(int port, int timeoutMs) {
  Close();
  const int64_t deadline = NowNs() + int64_t{timeoutMs} * 1000000;
  for (;;) {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return false;
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    struct sockaddr_in address = Loopback(port);
    if (connect(s, reinterpret_cast<struct sockaddr*>(&address),
                sizeof address) == 0) {
      fd = s;
      pending.clear();
      return true;
    }
    close(s);
    if (NowNs() > deadline) return false;
    SleepMs(5);
  }
}

void LineClient::Adopt(int socket) {
  Close();
  int one = 1;
  setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  fd = socket;
  pending.clear();
}

bool LineClient::Send(const std::string& bytes) {
  size_t done = 0;
  while (fd >= 0 && done < bytes.size()) {
    ssize_t sent =
        send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    done += static_cast<size_t>(sent);
  }
  return fd >= 0;
}

bool LineClient::ReadLine(char eol, int timeoutMs, std::string* line,
                          int64_t* atNs) {
  const int64_t deadline = NowNs() + int64_t{timeoutMs} * 1000000;
  for (;;) {
    size_t end = pending.find(eol);
    if (end != std::string::npos) {
      *line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (atNs) *atNs = lastReceiveNs;
      return true;
    }
    const int64_t left = (deadline - NowNs()) / 1000000;
    if (fd < 0 || left < 0) return false;
    struct pollfd wait = {fd, POLLIN, 0};
    if (poll(&wait, 1, static_cast<int>(left) + 1) <= 0) continue;
    char buffer[1024];
    ssize_t count = recv(fd, buffer, sizeof buffer, 0);
    lastReceiveNs = NowNs();
    if (count <= 0) return false;
    pending.append(buffer, static_cast<size_t>(count));
  }
}

void LineClient::StartReader(
    char eol, std::function<void(const std::string&, int64_t)> onLine) {
  if (fd < 0) return;
  const int socket = fd;
  reader = std::thread([socket, eol, onLine] {
    std::string text;
    char buffer[4096];
    for (;;) {
      ssize_t count = recv(socket, buffer, sizeof buffer, 0);
      const int64_t now = NowNs();
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) return;
      text.append(buffer, static_cast<size_t>(count));
      size_t start = 0;
      for (size_t end; (end = text.find(eol, start)) != std::string::npos;
           start = end + 1)
        onLine(text.substr(start, end - start), now);
      text.erase(0, start);
    }
  });
}

void LineClient::Close() {
  if (fd < 0) return;
  // shutdown wakes a reader blocked in recv; the peer sees the end at once.
  shutdown(fd, SHUT_RDWR);
  if (reader.joinable()) reader.join();
  close(fd);
  fd = -1;
}

bool EnterPrivateNetwork(std::string* error) {
#if defined(__linux__)
  if (unshare(CLONE_NEWNET) != 0) {
    *error = std::string("unshare(CLONE_NEWNET): ") + strerror(errno);
    return false;
  }
  int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  struct ifreq request;
  memset(&request, 0, sizeof request);
  strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool up = s >= 0 && ioctl(s, SIOCGIFFLAGS, &request) == 0;
  if (up) {
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    up = ioctl(s, SIOCSIFFLAGS, &request) == 0;
  }
  if (!up) *error = std::string("loopback up: ") + strerror(errno);
  if (s >= 0) close(s);
  return up;
#else
  *error = "not supported on this system";
  return false;
#endif
}

bool PortIsFree(int port) {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return false;
  int one = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  struct sockaddr_in address;
  memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(static_cast<uint16_t>(port));
  bool free = bind(s, reinterpret_cast<struct sockaddr*>(&address),
                   sizeof address) == 0;
  close(s);
  return free;
}

int ListenOnLoopback(int* port) {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return -1;
  struct sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  if (bind(s, reinterpret_cast<struct sockaddr*>(&address), sizeof address) !=
          0 ||
      listen(s, 4) != 0 ||
      getsockname(s, reinterpret_cast<struct sockaddr*>(&address), &length) !=
          0) {
    close(s);
    return -1;
  }
  *port = ntohs(address.sin_port);
  return s;
}

int AcceptWithin(int listener, int timeoutMs) {
  struct pollfd wait = {listener, POLLIN, 0};
  if (poll(&wait, 1, timeoutMs) <= 0) return -1;
  return accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

int PickFreePort() {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return -1;
  struct sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  int port = -1;
  if (bind(s, reinterpret_cast<struct sockaddr*>(&address), sizeof address) ==
          0 &&
      getsockname(s, reinterpret_cast<struct sockaddr*>(&address), &length) ==
          0)
    port = ntohs(address.sin_port);
  close(s);
  return port;
}

}  // namespace bench
