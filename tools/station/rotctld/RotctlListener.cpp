#include "rotctld/RotctlListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/WakePipe.h"
#include "core/ServerSocket.h"
#include "core/StationLog.h"

namespace {

// How long the port stops accepting when the station is out of descriptors.
constexpr auto kPause = std::chrono::milliseconds(100);

std::string PeerName(const sockaddr_storage& address) {
  char host[INET6_ADDRSTRLEN] = "?";
  int port = 0;
  if (address.ss_family == AF_INET) {
    const sockaddr_in& v4 = reinterpret_cast<const sockaddr_in&>(address);
    inet_ntop(AF_INET, &v4.sin_addr, host, sizeof host);
    port = ntohs(v4.sin_port);
    return std::string(host) + ":" + std::to_string(port);
  }
  if (address.ss_family == AF_INET6) {
    const sockaddr_in6& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    inet_ntop(AF_INET6, &v6.sin6_addr, host, sizeof host);
    port = ntohs(v6.sin6_port);
  }
  return "[" + std::string(host) + "]:" + std::to_string(port);
}

}  // namespace

RotctlListener::RotctlListener(StationRotator& rotator, bool verbose)
    : rotator(rotator), verbose(verbose) {}

RotctlListener::~RotctlListener() {
  sessions.clear();
  if (listenFd >= 0) close(listenFd);
}

bool RotctlListener::Open(const std::string& address, std::string& error) {
  int port = rotator.Setup().listenPort;
  const ServerSocket socket = OpenServerSocket(address, port, SOCK_STREAM, 16);
  if (socket.unresolved) {
    error = address + ": " + socket.reason;
    return false;
  }
  if (socket.fd < 0) {
    error = "cannot listen on " + address + " port " + std::to_string(port) + ": " + socket.reason;
    return false;
  }
  listenFd = socket.fd;
  StationLog("rotator %d: rotctld port %s:%d", rotator.Setup().id, address.c_str(), port);
  return true;
}

void RotctlListener::AddToPollSet(PollSet& set) {
  if (listenFd >= 0 && Clock::now() >= pausedUntil) {
    set.Add(listenFd, POLLIN, [this](short) { Accept(); });
  }
  for (auto& session : sessions) session->AddToPollSet(set);
}

RotctlListener::Clock::time_point RotctlListener::NextDeadline() const {
  Clock::time_point next = Clock::time_point::max();
  if (pausedUntil > Clock::now()) next = pausedUntil;
  for (const auto& session : sessions) next = std::min(next, session->NextDeadline());
  return next;
}

void RotctlListener::Service(Clock::time_point now) {
  for (auto& session : sessions) session->Service(now);
  sessions.erase(std::remove_if(sessions.begin(), sessions.end(),
                                [](const std::unique_ptr<RotctlSession>& session) {
                                  return session->Finished();
                                }),
                 sessions.end());
}

void RotctlListener::Accept() {
  sockaddr_storage address;
  socklen_t length = sizeof address;
  int fd = accept(listenFd, reinterpret_cast<sockaddr*>(&address), &length);
  if (fd < 0) {
    // Out of descriptors the connection stays waiting, and the socket
    // readable: without a pause the loop would spin on it.
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
      pausedUntil = Clock::now() + kPause;
      if (!outOfDescriptors) {
        StationLog("rotator %d: cannot accept a rotctld client (%s); it waits until descriptors "
                   "are free",
                   rotator.Setup().id, strerror(errno));
      }
      outOfDescriptors = true;
    }
    return;  // otherwise the client gave up already
  }
  if (outOfDescriptors) {
    StationLog("rotator %d: descriptors are free again", rotator.Setup().id);
    outOfDescriptors = false;
  }
  std::string peer = PeerName(address);
  std::vector<std::unique_ptr<RotctlSession>>::iterator idlest = sessions.end();
  size_t active = 0;
  for (auto it = sessions.begin(); it != sessions.end(); ++it) {
    if ((*it)->Finished()) continue;
    ++active;
    if (idlest == sessions.end() || (*it)->LastActivity() < (*idlest)->LastActivity()) idlest = it;
  }
  if (active >= kMaxSessions) {
    // Idle or stuck clients must not lock the port: the one silent longest
    // makes room.
    auto idleS = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() -
                                                                  (*idlest)->LastActivity());
    StationLog("rotator %d: %zu rotctld clients: closing the one idle longest (%lld s) for %s",
              rotator.Setup().id, active, static_cast<long long>(idleS.count()), peer.c_str());
    (*idlest)->End("closed to make room");
  }
  zeva::SetCloseOnExec(fd);
  zeva::SetNonBlocking(fd);
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
#ifdef SO_NOSIGPIPE
  setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
  StationLog("rotator %d: rotctld client %s connected", rotator.Setup().id, peer.c_str());
  sessions.push_back(std::make_unique<RotctlSession>(fd, peer, rotator, verbose));
}
