#include "DaemonLink.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "BridgeLog.h"
#include "common/Common.h"

namespace {

constexpr int kMinBackoffMs = 500;
constexpr int kMaxBackoffMs = 5000;
constexpr int kConnectTimeoutMs = 5000;
// A connection that lasted this long was a good one: retry quickly after it.
constexpr int kStableConnectionMs = 10000;
// A repeated connection failure is logged again after this long.
constexpr int kFailureLogRepeatMs = 60000;
// The daemon reads its commands at once; this much unsent text means it has
// stopped reading.
constexpr size_t kMaxOutgoing = 64 * 1024;
// The daemon's lines are a dozen bytes; a longer one is no line of its.
constexpr size_t kMaxLine = 4096;

#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif

int MsSince(std::chrono::steady_clock::time_point then, std::chrono::steady_clock::time_point now) {
  return static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now - then).count());
}

// Notices a daemon host that vanished without closing the connection (a
// board that lost power) within about a minute, where the system allows it.
void EnableKeepAlive(int fd) {
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
#if defined(TCP_KEEPIDLE) && defined(TCP_KEEPINTVL) && defined(TCP_KEEPCNT)
  int idle = 30, interval = 10, count = 3;
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
#endif
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

}  // namespace

DaemonLink::DaemonLink(const std::string& host, int port, Callbacks callbacks)
    : host(host), port(port), callbacks(std::move(callbacks)), backoffMs(kMinBackoffMs) {}

DaemonLink::~DaemonLink() { CloseSocket(); }

void DaemonLink::Start() {
  state = State::Waiting;
  retryAt = Clock::now();
}

void DaemonLink::Close() {
  CloseSocket();
  state = State::Closed;
}

void DaemonLink::CloseSocket() {
  if (fd >= 0) close(fd);
  fd = -1;
  received.clear();
  outgoing.clear();
}

bool DaemonLink::SendLine(const std::string& line) {
  if (state != State::Connected) return false;
  outgoing += line;
  outgoing += '\r';
  Flush();
  return state == State::Connected;
}

void DaemonLink::AddToPollSet(PollSet& set) {
  if (fd < 0) return;
  short events = 0;
  if (state == State::Connecting || !outgoing.empty()) events |= POLLOUT;
  if (state == State::Connected) events |= POLLIN;
  set.Add(fd, events, [this](short revents) { OnReady(revents); });
}

DaemonLink::Clock::time_point DaemonLink::NextDeadline() const {
  if (state == State::Waiting) return retryAt;
  if (state == State::Connecting) return connectStarted + std::chrono::milliseconds(kConnectTimeoutMs);
  return Clock::time_point::max();
}

void DaemonLink::OnTimer(Clock::time_point now) {
  if (state == State::Waiting && now >= retryAt) {
    BeginConnect(now);
  } else if (state == State::Connecting && MsSince(connectStarted, now) >= kConnectTimeoutMs) {
    CloseSocket();
    ConnectFailed("no answer within 5 s", now);
  }
}

void DaemonLink::BeginConnect(Clock::time_point now) {
  // The daemon listens on IPv4 only.
  struct addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo* addresses = nullptr;
  int status = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &addresses);
  if (status != 0 || addresses == nullptr) {
    ConnectFailed(status != 0 ? gai_strerror(status) : "no address", now);
    return;
  }
  fd = socket(addresses->ai_family, addresses->ai_socktype, addresses->ai_protocol);
  if (fd < 0) {
    std::string reason = strerror(errno);
    freeaddrinfo(addresses);
    ConnectFailed(reason, now);
    return;
  }
  fcntl(fd, F_SETFD, FD_CLOEXEC);
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
#ifdef SO_NOSIGPIPE
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
  int result = connect(fd, addresses->ai_addr, addresses->ai_addrlen);
  int error = errno;
  freeaddrinfo(addresses);
  if (result == 0) {
    FinishConnect(now);
  } else if (error == EINPROGRESS) {
    state = State::Connecting;
    connectStarted = now;
  } else {
    CloseSocket();
    ConnectFailed(strerror(error), now);
  }
}

void DaemonLink::FinishConnect(Clock::time_point now) {
  state = State::Connected;
  connectedAt = now;
  lastFailure.clear();
  EnableKeepAlive(fd);
  BridgeLog("connected to the daemon at %s:%d", host.c_str(), port);
  // The version reply shows that a ZEVA daemon answers; it is logged.
  SendLine("VERSION");
  if (state == State::Connected && callbacks.connected) callbacks.connected();
}

void DaemonLink::ConnectFailed(const std::string& reason, Clock::time_point now) {
  if (reason != lastFailure || MsSince(lastFailureLog, now) >= kFailureLogRepeatMs) {
    BridgeLog("cannot connect to the daemon at %s:%d: %s; retrying every %g s at most",
              host.c_str(), port, reason.c_str(), kMaxBackoffMs / 1000.0);
    lastFailure = reason;
    lastFailureLog = now;
  }
  ScheduleRetry(now);
}

void DaemonLink::ScheduleRetry(Clock::time_point now) {
  state = State::Waiting;
  retryAt = now + std::chrono::milliseconds(backoffMs);
  backoffMs = std::min(backoffMs * 2, kMaxBackoffMs);
}

void DaemonLink::OnReady(short revents) {
  if (state == State::Connecting) {
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    Clock::time_point now = Clock::now();
    if (error != 0) {
      CloseSocket();
      ConnectFailed(strerror(error), now);
    } else {
      FinishConnect(now);
    }
    return;
  }
  if (state != State::Connected) return;
  if (revents & (POLLIN | POLLHUP | POLLERR)) ReadFromDaemon();
  if (state == State::Connected && (revents & POLLOUT)) Flush();
}

void DaemonLink::ReadFromDaemon() {
  char buffer[1024];
  ssize_t n = recv(fd, buffer, sizeof buffer, 0);
  if (n == 0) {
    Drop("the daemon closed the connection");
    return;
  }
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
    Drop(strerror(errno));
    return;
  }
  received.append(buffer, static_cast<size_t>(n));
  // Lines end with a carriage return; a line feed is never part of one.
  for (;;) {
    std::string::size_type end = received.find('\r');
    if (end == std::string::npos) break;
    std::string line = received.substr(0, end);
    received.erase(0, end + 1);
    line.erase(std::remove(line.begin(), line.end(), '\n'), line.end());
    if (!line.empty()) HandleLine(line);
    if (state != State::Connected) return;
  }
  if (received.size() > kMaxLine) {
    BridgeLog("discarding %zu bytes from the daemon without a line end", received.size());
    received.clear();
  }
}

void DaemonLink::HandleLine(const std::string& line) {
  if (line.compare(0, 8, "VERSION ") == 0) {
    BridgeLog("the daemon is ZEVA Rotator %s", line.substr(8).c_str());
    return;
  }
  // A bearing line: the rotator number, one blank, the bearing.
  std::vector<std::string> tokens = Split(line, ' ');
  if (tokens.size() == 2 && !tokens[0].empty() && !tokens[1].empty()) {
    char* end = nullptr;
    long id = strtol(tokens[0].c_str(), &end, 10);
    bool idOk = *end == '\0';
    long bearing = strtol(tokens[1].c_str(), &end, 10);
    if (idOk && *end == '\0') {
      if (callbacks.bearing) callbacks.bearing(static_cast<int>(id), static_cast<int>(bearing));
      return;
    }
  }
  BridgeLog("unexpected line from the daemon: %s", line.c_str());
}

void DaemonLink::Flush() {
  while (!outgoing.empty()) {
    ssize_t n = send(fd, outgoing.data(), outgoing.size(), kSendFlags);
    if (n > 0) {
      outgoing.erase(0, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) break;
    Drop(n < 0 ? strerror(errno) : "send failed");
    return;
  }
  if (outgoing.size() > kMaxOutgoing) Drop("the daemon does not read its commands");
}

void DaemonLink::Drop(const std::string& reason) {
  Clock::time_point now = Clock::now();
  int lastedMs = MsSince(connectedAt, now);
  if (lastedMs >= kStableConnectionMs) backoffMs = kMinBackoffMs;
  CloseSocket();
  ScheduleRetry(now);
  BridgeLog("lost the daemon at %s:%d (%s); reconnecting in %.1f s", host.c_str(), port,
            reason.c_str(),
            std::chrono::duration<double>(retryAt - now).count());
  if (callbacks.lost) callbacks.lost();
}
