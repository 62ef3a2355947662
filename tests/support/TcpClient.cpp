#include "tests/support/TcpClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "tests/support/Time.h"

namespace testing_support {

namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in address;
  memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
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
  Close();
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(port);
    if (fd >= 0 &&
        connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) ==
            0)
      return true;
    Close();
    if (MsLeft(deadline) == 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

bool TcpClient::Send(const std::string& bytes) {
  size_t done = 0;
  while (fd >= 0 && done < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + done, bytes.size() - done,
#ifdef MSG_NOSIGNAL
                     MSG_NOSIGNAL
#else
                     0
#endif
    );
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return fd >= 0;
}

std::string TcpClient::ReadLine(int timeoutMs) {
  std::string line = ReadLineEndedBy('\r', timeoutMs);
  if (!line.empty()) line.pop_back();
  return line;
}

std::string TcpClient::ReadLineEndedBy(char end, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    auto at = pending.find(end);
    if (at != std::string::npos) {
      std::string line = pending.substr(0, at + 1);
      pending.erase(0, at + 1);
      return line;
    }
    if (fd < 0) return "";
    struct pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, MsLeft(deadline)) <= 0) return "";
    char buffer[1024];
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return "";
    pending.append(buffer, static_cast<size_t>(n));
  }
}

bool TcpClient::WaitForLine(const std::string& line, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (MsLeft(deadline) > 0) {
    if (ReadLine(MsLeft(deadline)) == line) return true;
  }
  return false;
}

std::string TcpClient::TakePending() {
  std::string rest;
  rest.swap(pending);
  return rest;
}

std::string TcpClient::ReadAll(int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string out = TakePending();
  while (fd >= 0) {
    struct pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, MsLeft(deadline)) <= 0) break;
    char buffer[1024];
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    out.append(buffer, static_cast<size_t>(n));
  }
  return out;
}

bool TcpClient::WaitClosed(int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (fd >= 0) {
    struct pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, MsLeft(deadline)) <= 0) return false;
    char buffer[1024];
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return true;
  }
  return true;
}

bool PortIsFree(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address;
  memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  bool free = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return free;
}

}  // namespace testing_support
