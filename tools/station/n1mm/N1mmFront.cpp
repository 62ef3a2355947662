#include "n1mm/N1mmFront.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/WakePipe.h"
#include "core/ServerSocket.h"
#include "core/StationLog.h"

namespace {

// Datagrams taken per readiness: a flood cannot hold the loop.
constexpr int kMaxPerRound = 64;

int OpenSocket(int family) {
  int fd = socket(family, SOCK_DGRAM, 0);
  if (fd < 0) return -1;
  zeva::SetCloseOnExec(fd);
  zeva::SetNonBlocking(fd);
  return fd;
}

// The sender's address as text; an IPv4 sender on an IPv6 socket as IPv4.
std::string AddressText(const sockaddr_storage& address) {
  char text[INET6_ADDRSTRLEN] = "?";
  if (address.ss_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, text, sizeof text);
  } else if (address.ss_family == AF_INET6) {
    const in6_addr& v6 = reinterpret_cast<const sockaddr_in6&>(address).sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&v6)) {
      inet_ntop(AF_INET, v6.s6_addr + 12, text, sizeof text);
    } else {
      inet_ntop(AF_INET6, &v6, text, sizeof text);
    }
  }
  return text;
}

// A name from the network, fit for a log line.
std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text.substr(0, 40)) {
    out += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
  }
  return out + (text.size() > 40 ? "...\"" : "\"");
}

std::string Who(const StationRotator& rotator) {
  return "rotator " + std::to_string(rotator.Setup().id) + " (" + rotator.Setup().name + ")";
}

}  // namespace

N1mmFront::N1mmFront(const StationOptions& options,
                     const std::vector<std::unique_ptr<StationRotator>>& rotators)
    : options(options) {
  for (const std::string& text : options.logger.allowed) {
    AddressPrefix prefix;
    if (AddressPrefix::Parse(text, prefix)) allowed.push_back(prefix);  // checked by the options
  }
  for (const auto& rotator : rotators) {
    if (!rotator->Setup().name.empty()) {
      named.push_back({rotator.get(), RotorNameKey(rotator->Setup().name)});
    }
  }
}

N1mmFront::~N1mmFront() {
  for (int fd : {listenFd, sendFd4, sendFd6}) {
    if (fd >= 0) close(fd);
  }
}

bool N1mmFront::Open(std::string& error) {
  const LoggerSetup& setup = options.logger;
  const std::string where = setup.address + " UDP port " + std::to_string(setup.port);
  const ServerSocket socket = OpenServerSocket(setup.address, setup.port, SOCK_DGRAM);
  if (socket.unresolved) {
    error = "--n1mm " + setup.address + ": " + socket.reason;
    return false;
  }
  if (socket.fd < 0) {
    error = "cannot listen for the logger on " + where + ": " + socket.reason;
    return false;
  }
  listenFd = socket.fd;

  std::string headings;
  struct addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_NUMERICSERV;
  for (const LoggerSetup::Destination& to : setup.headingsTo) {
    Destination destination;
    destination.text = to.host + ":" + std::to_string(to.port);
    struct addrinfo* addresses = nullptr;
    int status = getaddrinfo(to.host.c_str(), std::to_string(to.port).c_str(), &hints, &addresses);
    if (status != 0) {
      error = "--n1mm-to " + destination.text + ": " + gai_strerror(status);
      return false;
    }
    memcpy(&destination.address, addresses->ai_addr, addresses->ai_addrlen);
    destination.length = addresses->ai_addrlen;
    int& fd = addresses->ai_family == AF_INET6 ? sendFd6 : sendFd4;
    freeaddrinfo(addresses);
    if (fd < 0 && (fd = OpenSocket(destination.address.ss_family)) >= 0) {
      int on = 1;  // the logger's host may be a subnet's broadcast address
      setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    }
    if (fd < 0) {
      error = std::string("cannot open a socket for the headings: ") + strerror(errno);
      return false;
    }
    destination.fd = fd;
    destinations.push_back(destination);
    headings += (headings.empty() ? "; headings to " : ", ") + destination.text;
  }
  std::string names;
  for (const Named& each : named) {
    names += (names.empty() ? "" : ", ") + each.rotator->Setup().name + " (rotator " +
             std::to_string(each.rotator->Setup().id) + ")";
  }
  StationLog("n1mm: logger datagrams on %s for %s%s", where.c_str(), names.c_str(),
             headings.c_str());
  return true;
}

void N1mmFront::AddToPollSet(PollSet& set) {
  if (listenFd >= 0) set.Add(listenFd, POLLIN, [this](short) { Receive(); });
}

void N1mmFront::Receive() {
  // One byte more than the largest command shows an oversized datagram,
  // whatever the system does with the rest of it.
  char buffer[N1mmDatagram::kMaxSize + 1];
  for (int i = 0; i < kMaxPerRound; ++i) {
    sockaddr_storage from;
    socklen_t length = sizeof from;
    ssize_t n = recvfrom(listenFd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from),
                         &length);
    if (n < 0) return;  // nothing more (or an ICMP error of a past send)
    Carry(buffer, static_cast<size_t>(n), from);
  }
}

void N1mmFront::Carry(const char* data, size_t size, const sockaddr_storage& from) {
  const std::string sender = AddressText(from);
  bool fromAllowed = allowed.empty();
  for (const AddressPrefix& prefix : allowed) fromAllowed = fromAllowed || prefix.Contains(from);
  if (!fromAllowed) return Drop(sender, "the sender is not allowed (--n1mm-allow)");
  N1mmCommand command;
  std::string error;
  if (!N1mmDatagram::Parse(data, size, command, error)) return Drop(sender, error);
  const std::string key = RotorNameKey(command.rotor);
  StationRotator* rotator = nullptr;
  for (const Named& each : named) {
    if (each.key == key) rotator = each.rotator;
  }
  if (rotator == nullptr) return Drop(sender, "no rotator is named " + Quoted(command.rotor));
  if (!rotator->Available()) return Drop(sender, Who(*rotator) + " is offline");
  const std::string source = "N1MM " + sender;
  if (command.kind == N1mmCommand::Kind::Stop) {
    rotator->Halt(source);
    if (options.verbose) StationLog("n1mm: %s: stop %s", sender.c_str(), Who(*rotator).c_str());
    return;
  }
  int bearing = 0;
  if (!TurnBearing(*rotator, command, bearing)) {
    char asked[64];
    snprintf(asked, sizeof asked, "%g", command.azimuth - command.offset);
    return Drop(sender, Who(*rotator) + " cannot point at " + asked + " (range " +
                            std::to_string(rotator->Setup().minAz) + ".." +
                            std::to_string(rotator->Setup().maxAz) + " of its box)");
  }
  rotator->Turn(bearing, source);
  if (options.verbose) {
    StationLog("n1mm: %s: %s turn to %d", sender.c_str(), Who(*rotator).c_str(), bearing);
  }
}

bool N1mmFront::TurnBearing(const StationRotator& rotator, const N1mmCommand& command,
                            int& bearing) {
  const double azimuth = command.azimuth - command.offset;
  int ahead = 0, behind = 0;
  const bool aheadOk = rotator.Bearing(azimuth, ahead);
  const bool behindOk = command.bidirectional && rotator.Bearing(azimuth + 180, behind);
  if (!aheadOk && !behindOk) return false;
  // While where the box is is unknown, the bearing as asked.
  const int travel = rotator.Travel(behind);
  bearing = !aheadOk || (behindOk && travel >= 0 && travel < rotator.Travel(ahead)) ? behind : ahead;
  return true;
}

void N1mmFront::Drop(const std::string& sender, const std::string& why) {
  const Clock::time_point now = Clock::now();
  if (now < dropLogAt) {
    ++dropsUnlogged;
    return;
  }
  if (dropsUnlogged == 0) {
    StationLog("n1mm: dropped a datagram from %s: %s", sender.c_str(), why.c_str());
  } else {
    StationLog("n1mm: dropped a datagram from %s: %s (and %ld more since the last such line)",
               sender.c_str(), why.c_str(), dropsUnlogged);
  }
  dropsUnlogged = 0;
  dropLogAt = now + std::chrono::milliseconds(kDropLogMs);
}

void N1mmFront::Service(Clock::time_point now) {
  if (destinations.empty()) return;
  const bool refresh = now >= refreshAt;
  if (refresh) refreshAt = now + std::chrono::milliseconds(kRefreshMs);
  for (Named& each : named) {
    int heading = 0;
    if (!each.rotator->Available() || !each.rotator->Position(heading)) {
      each.sent = INT_MIN;  // sent again at once when known again
      continue;
    }
    if (heading == each.sent && !refresh) continue;
    each.sent = heading;
    Send(N1mmDatagram::Heading(each.rotator->Setup().name, heading));
  }
}

void N1mmFront::Send(const std::string& datagram) {
  for (Destination& to : destinations) {
    ssize_t n = sendto(to.fd, datagram.data(), datagram.size(), 0,
                       reinterpret_cast<const sockaddr*>(&to.address), to.length);
    // A full buffer loses one heading; the next change or refresh brings it.
    std::string error = n >= 0 || errno == EAGAIN || errno == EWOULDBLOCK ? "" : strerror(errno);
    if (error != to.lastError) {
      if (error.empty()) {
        StationLog("n1mm: headings reach %s again", to.text.c_str());
      } else {
        StationLog("n1mm: cannot send headings to %s: %s", to.text.c_str(), error.c_str());
      }
      to.lastError = error;
    }
  }
}

N1mmFront::Clock::time_point N1mmFront::NextDeadline() const {
  return destinations.empty() ? Clock::time_point::max() : refreshAt;
}
