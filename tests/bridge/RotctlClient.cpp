#include "tests/bridge/RotctlClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <random>
#include <thread>

namespace bridge_test {

namespace {
using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

sockaddr_in Loopback(int port) {
  sockaddr_in address;
  memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

bool CanBind(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address = Loopback(port);
  bool free = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return free;
}
}  // namespace

int FreePortPair() {
  std::random_device seed;
  std::mt19937 random(seed());
  std::uniform_int_distribution<int> pick(20000, 29990);
  for (int attempt = 0; attempt < 200; ++attempt) {
    int port = pick(random);
    if (CanBind(port) && CanBind(port + 2)) return port;
  }
  return 0;
}

RotctlClient::~RotctlClient() { Close(); }

void RotctlClient::Close() {
  if (fd >= 0) close(fd);
  fd = -1;
  pending.clear();
}

bool RotctlClient::Connect(int port, int timeoutMs) {
  Close();
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(port);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
      return true;
    Close();
    if (MsLeft(deadline) == 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

bool RotctlClient::Send(const std::string& bytes) {
  size_t done = 0;
  while (fd >= 0 && done < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return fd >= 0;
}

std::string RotctlClient::ReadLine(int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    auto end = pending.find('\n');
    if (end != std::string::npos) {
      std::string line = pending.substr(0, end + 1);
      pending.erase(0, end + 1);
      return line;
    }
    struct pollfd p = {fd, POLLIN, 0};
    char buffer[4096];
    ssize_t n = 0;
    if (fd < 0 || poll(&p, 1, MsLeft(deadline)) <= 0 ||
        (n = recv(fd, buffer, sizeof buffer, 0)) <= 0) {
      std::string partial;
      partial.swap(pending);
      return partial;
    }
    pending.append(buffer, static_cast<size_t>(n));
  }
}

std::string RotctlClient::Ask(const std::string& command, int lines, int timeoutMs) {
  if (!Send(command + "\n")) return "";
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string answer;
  for (int i = 0; i < lines; ++i) {
    std::string line = ReadLine(MsLeft(deadline));
    answer += line;
    if (line.empty() || line.back() != '\n') break;
  }
  return answer;
}

std::string RotctlClient::ReadAll(int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string out;
  out.swap(pending);
  while (fd >= 0) {
    struct pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, MsLeft(deadline)) <= 0) break;
    char buffer[4096];
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    out.append(buffer, static_cast<size_t>(n));
  }
  return out;
}

bool RotctlClient::WaitClosed(int timeoutMs) {
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

}  // namespace bridge_test
