#include "core/DaemonLink.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "core/StationLog.h"
#include "common/Common.h"
#include "common/WakePipe.h"

namespace {

constexpr int kMinBackoffMs = 250;
constexpr int kMaxBackoffMs = 5000;
// Connecting, and each step of clearing the registry, must end this soon.
constexpr int kPhaseTimeoutMs = 5000;
// A repeated connection failure is logged again after this long.
constexpr int kFailureLogRepeatMs = 60000;
// A batch unanswered this long is logged (once): a command hangs in the
// daemon, most likely a write to a device that does not take its bytes.
constexpr int kSlowBatchMs = 10000;
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

void DaemonLink::Refresh() {
  if (state == State::Closed) return;
  CloseSocket();
  refreshing = true;
  if (callbacks.lost) callbacks.lost(false);
  BeginConnect(State::ConnectingToClear, Clock::now());
}

void DaemonLink::CloseSocket() {
  if (fd >= 0) close(fd);
  fd = -1;
  received.clear();
  outgoing.clear();
  batches.clear();
}

uint64_t DaemonLink::SendBatch(const std::vector<std::string>& lines) {
  if (state != State::Connected) return 0;
  for (const std::string& line : lines) outgoing += line + "\r";
  outgoing += "VERSION\r";
  if (batches.empty()) slowLogged = false;
  batches.push_back({++lastBatch, Clock::now()});
  Flush();
  return state == State::Connected ? lastBatch : 0;
}

void DaemonLink::AddToPollSet(PollSet& set) {
  if (fd < 0) return;
  short events = 0;
  if (state == State::ConnectingToClear || state == State::ConnectingToServe) {
    events = POLLOUT;
  } else {
    events = POLLIN;
    if (!outgoing.empty()) events |= POLLOUT;
  }
  set.Add(fd, events, [this](short revents) { OnReady(revents); });
}

DaemonLink::Clock::time_point DaemonLink::NextDeadline() const {
  switch (state) {
    case State::Closed:
      return Clock::time_point::max();
    case State::Waiting:
      return retryAt;
    case State::Connected:
      if (batches.empty() || slowLogged) return Clock::time_point::max();
      return batches.front().sent + std::chrono::milliseconds(kSlowBatchMs);
    default:
      return phaseStarted + std::chrono::milliseconds(kPhaseTimeoutMs);
  }
}

void DaemonLink::OnTimer(Clock::time_point now) {
  if (state == State::Closed) return;
  if (state == State::Waiting) {
    if (now >= retryAt) BeginConnect(State::ConnectingToClear, now);
  } else if (state == State::Connected) {
    if (!batches.empty() && !slowLogged && MsSince(batches.front().sent, now) >= kSlowBatchMs) {
      slowLogged = true;
      StationLog("the daemon has not carried out the last commands for %d s (a device that "
                "takes no bytes?); the next ones wait",
                kSlowBatchMs / 1000);
    }
  } else if (MsSince(phaseStarted, now) >= kPhaseTimeoutMs) {
    Fail("no answer within 5 s", now);
  }
}

void DaemonLink::BeginConnect(State connecting, Clock::time_point now) {
  phaseStarted = now;
  // The daemon listens on IPv4 only.
  struct addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo* addresses = nullptr;
  int status = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &addresses);
  if (status != 0 || addresses == nullptr) {
    Fail(status != 0 ? gai_strerror(status) : "no address", now);
    return;
  }
  fd = socket(addresses->ai_family, addresses->ai_socktype, addresses->ai_protocol);
  if (fd < 0) {
    std::string reason = strerror(errno);
    freeaddrinfo(addresses);
    Fail(reason, now);
    return;
  }
  zeva::SetCloseOnExec(fd);
  zeva::SetNonBlocking(fd);
#ifdef SO_NOSIGPIPE
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
  int result = connect(fd, addresses->ai_addr, addresses->ai_addrlen);
  int error = errno;
  freeaddrinfo(addresses);
  state = connecting;
  if (result == 0) {
    FinishConnect(now);
  } else if (error != EINPROGRESS) {
    Fail(strerror(error), now);
  }
}

void DaemonLink::FinishConnect(Clock::time_point now) {
  phaseStarted = now;
  EnableKeepAlive(fd);
  if (state == State::ConnectingToClear) {
    state = State::AskingVersion;
    outgoing = "VERSION\r";
    Flush();
    return;
  }
  state = State::Connected;
  failed = false;
  backoffMs = kMinBackoffMs;
  lastFailure.clear();
  // Starting over on purpose was logged by whoever asked for it.
  bool quietly = refreshing;
  refreshing = false;
  if (!quietly) StationLog("connected to the daemon at %s:%d", host.c_str(), port);
  if (callbacks.connected) callbacks.connected(quietly);
}

void DaemonLink::Fail(const std::string& reason, Clock::time_point now) {
  bool wasConnected = state == State::Connected;
  CloseSocket();
  failed = true;
  refreshing = false;
  state = State::Waiting;
  retryAt = now + std::chrono::milliseconds(backoffMs);
  if (wasConnected) {
    StationLog("lost the daemon at %s:%d (%s); reconnecting in %.2f s", host.c_str(), port,
              reason.c_str(), backoffMs / 1000.0);
  } else if (reason != lastFailure || MsSince(lastFailureLog, now) >= kFailureLogRepeatMs) {
    StationLog("cannot connect to the daemon at %s:%d: %s; retrying every %g s at most",
              host.c_str(), port, reason.c_str(), kMaxBackoffMs / 1000.0);
    lastFailure = reason;
    lastFailureLog = now;
  }
  backoffMs = std::min(backoffMs * 2, kMaxBackoffMs);
  if (callbacks.lost) callbacks.lost(true);
}

void DaemonLink::OnReady(short revents) {
  if (state == State::ConnectingToClear || state == State::ConnectingToServe) {
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    if (error != 0) {
      Fail(strerror(error), Clock::now());
    } else {
      FinishConnect(Clock::now());
    }
    return;
  }
  if (fd < 0) return;
  if (revents & (POLLIN | POLLHUP | POLLERR)) ReadFromDaemon();
  if (fd >= 0 && (revents & POLLOUT)) Flush();
}

void DaemonLink::ReadFromDaemon() {
  char buffer[1024];
  ssize_t n = recv(fd, buffer, sizeof buffer, 0);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
  if (n <= 0) {
    if (state == State::AwaitingClose) {
      // The daemon saw its client leave: its registry is being emptied, and
      // it reads the next connection only once that is done.
      CloseSocket();
      BeginConnect(State::ConnectingToServe, Clock::now());
    } else {
      Fail(n == 0 ? "the daemon closed the connection" : strerror(errno), Clock::now());
    }
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
    if (fd < 0 || state == State::AwaitingClose) return;
  }
  if (received.size() > kMaxLine) {
    StationLog("discarding %zu bytes from the daemon without a line end", received.size());
    received.clear();
  }
}

void DaemonLink::HandleLine(const std::string& line) {
  if (line.compare(0, 8, "VERSION ") == 0) {
    if (state == State::AskingVersion) {
      if (line.substr(8) != version) {
        version = line.substr(8);
        StationLog("the daemon is ZEVA Rotator %s", version.c_str());
      }
      // This connection is the daemon's client: leaving it empties the registry.
      shutdown(fd, SHUT_WR);
      state = State::AwaitingClose;
      phaseStarted = Clock::now();
    } else if (state == State::Connected && !batches.empty()) {
      const Batch batch = batches.front();
      batches.pop_front();
      slowLogged = false;
      // The daemon got to the batch when it was sent or, if it was busy
      // with the one before, when that was done.
      const Clock::time_point now = Clock::now();
      const Clock::duration took = now - std::max(batch.sent, lastDone);
      lastDone = now;
      if (callbacks.done) callbacks.done(batch.number, took);
    }
    return;
  }
  // Bearings reach the clearing connection too, for rotators about to go.
  if (state != State::Connected) return;
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
  StationLog("unexpected line from the daemon: %s", line.c_str());
}

void DaemonLink::Flush() {
  while (fd >= 0 && !outgoing.empty()) {
    ssize_t n = send(fd, outgoing.data(), outgoing.size(), kSendFlags);
    if (n > 0) {
      outgoing.erase(0, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) break;
    Fail(n < 0 ? strerror(errno) : "send failed", Clock::now());
    return;
  }
}
