#include "Connection.h"

#include <fcntl.h>
#include <netdb.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

Connection::~Connection() { Close(); }

void Connection::Close() {
  if (fd >= 0) close(fd);
  fd = -1;
  buffer.clear();
}

bool Connection::Connect(const std::string& host, int port, int timeoutMs, std::string& error) {
  Close();
  struct addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo* addresses = nullptr;
  int status = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &addresses);
  if (status != 0) {
    error = gai_strerror(status);
    return false;
  }
  error = "no address";
  for (struct addrinfo* address = addresses; address != nullptr; address = address->ai_next) {
    int candidate = socket(address->ai_family, address->ai_socktype, address->ai_protocol);
    if (candidate < 0) {
      error = strerror(errno);
      continue;
    }
    int flags = fcntl(candidate, F_GETFL);
    fcntl(candidate, F_SETFL, flags | O_NONBLOCK);
    int result = connect(candidate, address->ai_addr, address->ai_addrlen);
    if (result != 0 && errno == EINPROGRESS) {
      struct pollfd waiter = {candidate, POLLOUT, 0};
      int ready = poll(&waiter, 1, timeoutMs);
      if (ready == 1) {
        int socketError = 0;
        socklen_t length = sizeof socketError;
        getsockopt(candidate, SOL_SOCKET, SO_ERROR, &socketError, &length);
        result = socketError == 0 ? 0 : -1;
        errno = socketError;
      } else {
        result = -1;
        errno = ready == 0 ? ETIMEDOUT : errno;
      }
    }
    if (result == 0) {
      fcntl(candidate, F_SETFL, flags);
      fd = candidate;
      freeaddrinfo(addresses);
      return true;
    }
    error = strerror(errno);
    close(candidate);
  }
  freeaddrinfo(addresses);
  return false;
}

bool Connection::PeerIsLocal() const {
  struct sockaddr_storage peer;
  socklen_t length = sizeof peer;
  if (fd < 0 || getpeername(fd, reinterpret_cast<struct sockaddr*>(&peer), &length) != 0) return false;
  if (peer.ss_family == AF_INET) {
    const struct sockaddr_in& address = reinterpret_cast<const struct sockaddr_in&>(peer);
    return (ntohl(address.sin_addr.s_addr) >> 24) == 127;
  }
  if (peer.ss_family == AF_INET6) {
    const struct in6_addr& address = reinterpret_cast<const struct sockaddr_in6&>(peer).sin6_addr;
    return IN6_IS_ADDR_LOOPBACK(&address) || (IN6_IS_ADDR_V4MAPPED(&address) && address.s6_addr[12] == 127);
  }
  return false;
}

void Connection::ShutdownSending() {
  if (fd >= 0) shutdown(fd, SHUT_WR);
}

bool Connection::SendLine(const std::string& line) {
  if (fd < 0) return false;
  std::string data = line + "\r";
  const char* next = data.data();
  size_t left = data.size();
  while (left > 0) {
    ssize_t sent = send(fd, next, left, 0);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    next += sent;
    left -= static_cast<size_t>(sent);
  }
  return true;
}

bool Connection::TakeBufferedLine(std::string& line) {
  for (;;) {
    std::string::size_type end = buffer.find('\r');
    if (end == std::string::npos) return false;
    line = buffer.substr(0, end);
    buffer.erase(0, end + 1);
    if (!line.empty() && line[0] == '\n') line.erase(0, 1);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    if (!line.empty()) return true;
  }
}

bool Connection::Fill() {
  char chunk[1024];
  for (;;) {
    ssize_t count = recv(fd, chunk, sizeof chunk, 0);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    buffer.append(chunk, static_cast<size_t>(count));
    return true;
  }
}
