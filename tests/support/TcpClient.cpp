#include "tests/support/TcpClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/support/Time.h"

#ifndef MSG_NOSIGNAL
#define MSG_NOSIGNAL 0
#endif

namespace testing_support {

namespace {

sockaddr_in Address(uint32_t host, int port) {
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(host);
  return address;
}

}  // namespace

TcpClient::~TcpClient() { Close(); }

void TcpClient::Close() {
  if (fd >= 0) close(fd);
  fd = -1;
  pending.clear();
}

bool TcpClient::Connect(int port, int timeoutMs) {
  return WaitUntil([&] {
    Close();
    fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Address(INADDR_LOOPBACK, port);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
      return true;
    Close();
    return false;
  }, timeoutMs);
}

bool TcpClient::Send(const std::string& bytes) {
  for (size_t done = 0; fd >= 0 && done < bytes.size();) {
    ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return fd >= 0;
}

// Adds what arrives within timeoutMs to `pending`; false on time-out or end.
bool TcpClient::Receive(int timeoutMs) {
  struct pollfd p = {fd, POLLIN, 0};
  char buffer[1024];
  ssize_t n = fd >= 0 && poll(&p, 1, timeoutMs) > 0 ? recv(fd, buffer, sizeof buffer, 0) : -1;
  if (n > 0) pending.append(buffer, static_cast<size_t>(n));
  return n > 0;
}

std::string TcpClient::ReadLine(int timeoutMs) {
  std::string line = ReadLineEndedBy('\r', timeoutMs);
  if (!line.empty()) line.pop_back();
  return line;
}

std::string TcpClient::ReadLineEndedBy(char end, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (pending.find(end) == std::string::npos)
    if (!Receive(MsLeft(deadline))) return "";
  std::string line = pending.substr(0, pending.find(end) + 1);
  pending.erase(0, line.size());
  return line;
}

bool TcpClient::WaitForLine(const std::string& line, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (MsLeft(deadline) > 0)
    if (ReadLine(MsLeft(deadline)) == line) return true;
  return false;
}

std::string TcpClient::TakePending() {
  std::string rest;
  rest.swap(pending);
  return rest;
}

std::string TcpClient::ReadAll(int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Receive(MsLeft(deadline))) {
  }
  return TakePending();
}

bool TcpClient::WaitClosed(int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    struct pollfd p = {fd, POLLIN, 0};
    if (fd < 0) return true;
    if (poll(&p, 1, MsLeft(deadline)) <= 0) return false;
    char buffer[1024];
    if (recv(fd, buffer, sizeof buffer, 0) <= 0) return true;
  }
}

bool PortIsFree(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address = Address(INADDR_ANY, port);
  bool free = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (fd >= 0) close(fd);
  return free;
}

}  // namespace testing_support
