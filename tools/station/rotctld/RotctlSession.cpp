#include "rotctld/RotctlSession.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/StationLog.h"
#include "common/Common.h"

namespace {

// A get_pos before the first report after a configuration waits this long
// for one, then is answered RPRT -5 (rotctld gives up on a box that does not
// answer after about 1.8 s). Gpredict's client sets no time limit: it
// blocks in one receive per command, so a late answer only holds it up.
constexpr int kPositionWaitMs = 800;
// A turn or stop not handed to the daemon within this long is answered
// RPRT -5: the daemon is busy with a command that hangs.
constexpr int kCommandWaitMs = 800;
// A line longer than this is no rotctld command: the client is dropped.
constexpr size_t kMaxLine = 4096;
// Reading stops while this much is unanswered or unsent (a client that
// sends and never reads).
constexpr size_t kMaxQueued = 256;
constexpr size_t kMaxOutgoing = 64 * 1024;

// The model number reported by dump_state: Hamlib's "NET rotctl", which is
// what the station is to its clients.
constexpr int kReportedModel = 2;
// The elevations advertised: those rotctld's GS-232B model takes, so that
// Hamlib clients send what they would send to it (the station ignores them).
constexpr double kMinEl = 0, kMaxEl = 180;

#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif

std::string Degrees(double value, int decimals = 6) {
  char text[64];
  snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// A number the way rotctld reads one: leading digits count, trailing text
// does not ("10," is 10), a word without a number is an error.
bool ReadDegrees(const std::string& text, double& value) {
  char* end = nullptr;
  value = strtod(text.c_str(), &end);
  return end != text.c_str() && std::isfinite(value) && std::fabs(value) < 1e6;
}

}  // namespace

RotctlSession::RotctlSession(int fd, const std::string& peer, StationRotator& rotator,
                             bool verbose)
    : rotator(rotator), peer(peer), verbose(verbose), fd(fd), lastActivity(Clock::now()) {}

RotctlSession::~RotctlSession() {
  if (fd >= 0) close(fd);
}

void RotctlSession::AddToPollSet(PollSet& set) {
  if (fd < 0) return;
  short events = 0;
  if (!inputEnded && !quitting && queue.size() < kMaxQueued && outgoing.size() < kMaxOutgoing)
    events |= POLLIN;
  if (!outgoing.empty()) events |= POLLOUT;
  set.Add(fd, events, [this](short revents) { OnReady(revents); });
}

RotctlSession::Clock::time_point RotctlSession::NextDeadline() const {
  return waiting ? waitUntil : Clock::time_point::max();
}

void RotctlSession::OnReady(short revents) {
  if (fd < 0) return;
  if (revents & POLLNVAL) {
    End("invalid descriptor");
    return;
  }
  if (revents & POLLOUT) Flush();
  if (fd < 0) return;
  if (inputEnded && (revents & (POLLHUP | POLLERR))) {
    // Gone both ways: nobody is left to read the answers still due.
    End("connection closed");
    return;
  }
  if (revents & (POLLIN | POLLHUP | POLLERR)) ReadFromClient();
}

void RotctlSession::ReadFromClient() {
  char buffer[4096];
  ssize_t n = recv(fd, buffer, sizeof buffer, 0);
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
    End(strerror(errno));
    return;
  }
  if (n == 0) {
    inputEnded = true;
    TakeLines(true);
  } else {
    lastActivity = Clock::now();
    received.append(buffer, static_cast<size_t>(n));
    TakeLines(false);
  }
  if (fd >= 0) RunQueue(Clock::now());
}

void RotctlSession::TakeLines(bool endOfInput) {
  for (;;) {
    std::string::size_type end = received.find('\n');
    if (end == std::string::npos) break;
    std::string line = received.substr(0, end);
    received.erase(0, end + 1);
    for (const RotctlRequest& request : RotctlParser::ParseLine(line)) queue.push_back(request);
  }
  if (received.size() > kMaxLine) {
    End("line too long");
    return;
  }
  // A last command without a line feed ("echo -n p | nc") still counts.
  if (endOfInput && !received.empty()) {
    for (const RotctlRequest& request : RotctlParser::ParseLine(received)) queue.push_back(request);
    received.clear();
  }
}

void RotctlSession::Service(Clock::time_point now) {
  if (fd < 0) return;
  RunQueue(now);
}

void RotctlSession::RunQueue(Clock::time_point now) {
  while (fd >= 0 && !quitting && !queue.empty()) {
    if (!Execute(queue.front(), now)) break;
    queue.pop_front();
  }
  if (fd < 0) return;
  Flush();
  if (fd >= 0 && outgoing.empty() && (quitting || (inputEnded && queue.empty()))) {
    End(quitting ? "quit" : "closed by the client");
  }
}

bool RotctlSession::Execute(const RotctlRequest& request, Clock::time_point now) {
  RotctlReply reply(request);
  int code = RotctlReply::kOk;
  switch (request.action) {
    case RotctlAction::SetPos:
    case RotctlAction::Stop:
      if (!Command(request, code, now)) return false;
      break;
    case RotctlAction::GetPos: {
      int bearing = 0;
      if (!rotator.Available()) {
        code = RotctlReply::kIoError;
      } else if (rotator.Unresponsive()) {
        code = RotctlReply::kTimedOut;  // the last bearing would pass for live
      } else if (rotator.Position(bearing)) {
        reply.Value("Azimuth", Degrees(bearing, 2));  // rotctld's precision
        reply.Value("Elevation", Degrees(0, 2));
      } else if (!rotator.HasFeedback()) {
        code = RotctlReply::kNotAvailable;  // a DCU-1 not yet turned: no bearing to tell
      } else if (!waiting) {
        waiting = true;
        waitUntil = now + std::chrono::milliseconds(kPositionWaitMs);
        return false;
      } else if (now < waitUntil) {
        return false;
      } else {
        code = RotctlReply::kTimedOut;
      }
      waiting = false;
      break;
    }
    case RotctlAction::GetInfo:
      reply.Value("Info", rotator.Description());
      break;
    case RotctlAction::DumpState:
      DumpState(request, reply);
      break;
    case RotctlAction::DumpCaps:
      DumpCaps(reply);
      break;
    case RotctlAction::Quit:
      // rotctld closes the connection without an answer.
      if (verbose) StationLog("rotator %d: %s: quit", rotator.Setup().id, peer.c_str());
      quitting = true;
      return true;
    case RotctlAction::Refused:
    case RotctlAction::Unknown:
      code = RotctlReply::kNotAvailable;
      break;
  }
  if (code == RotctlReply::kOk && request.missingArgs) code = RotctlReply::kInvalidParameter;
  Answer(request, reply, code);
  return true;
}

bool RotctlSession::Command(const RotctlRequest& request, int& code, Clock::time_point now) {
  if (waiting) {
    // Answered once the command (or a later one for this rotator) has been
    // handed to the daemon.
    if (rotator.Done(ticket)) {
      code = Outcome(request);
    } else if (!rotator.Available()) {
      code = RotctlReply::kIoError;
    } else if (now < waitUntil) {
      return false;
    } else {
      code = RotctlReply::kTimedOut;
    }
    waiting = false;
    return true;
  }
  // Any elevation is taken: it has nowhere to go. An azimuth no whole turn
  // brings into the rotator's range is refused, as rotctld refuses one out
  // of its range.
  double azimuth = 0, elevation = 0;
  int bearing = 0;
  if (request.action == RotctlAction::SetPos &&
      (request.missingArgs || !ReadDegrees(request.args[0], azimuth) ||
       !ReadDegrees(request.args[1], elevation) || !rotator.Bearing(azimuth, bearing))) {
    code = RotctlReply::kInvalidParameter;
    return true;
  }
  if (!rotator.Available()) {
    code = RotctlReply::kIoError;
    return true;
  }
  if (request.action == RotctlAction::Stop) {
    ticket = rotator.Halt("rotctld " + peer);
  } else {
    ticket = rotator.Turn(bearing, "rotctld " + peer);
    if (ticket == 0) {  // the same target again: nothing to send
      code = Outcome(request);
      return true;
    }
  }
  waiting = true;
  waitUntil = now + std::chrono::milliseconds(kCommandWaitMs);
  return false;
}

int RotctlSession::Outcome(const RotctlRequest& request) const {
  // A turn to a box that has not shown it took the last one: it still goes
  // out, but the client hears that the box does not answer.
  if (request.action == RotctlAction::SetPos && rotator.Unresponsive()) return RotctlReply::kTimedOut;
  return RotctlReply::kOk;
}

void RotctlSession::DumpState(const RotctlRequest& request, RotctlReply& reply) {
  // rotctl -m 2 reads the protocol version, the model and key=value lines
  // up to "done", and checks set_pos arguments against the limits.
  const double minAz = rotator.Setup().minAz, maxAz = rotator.Setup().maxAz;
  if (request.extended) {
    reply.Value("rotctld Protocol Ver", "1");
    reply.Value("Rotor Model", std::to_string(kReportedModel));
    reply.Value("Minimum Azimuth", Degrees(minAz));
    reply.Value("Maximum Azimuth", Degrees(maxAz));
    reply.Value("Minimum Elevation", Degrees(kMinEl));
    reply.Value("Maximum Elevation", Degrees(kMaxEl));
    reply.Value("South Zero", "0");
  } else {
    reply.Record("1");
    reply.Record(std::to_string(kReportedModel));
    reply.Record("min_az=" + Degrees(minAz));
    reply.Record("max_az=" + Degrees(maxAz));
    reply.Record("min_el=" + Degrees(kMinEl));
    reply.Record("max_el=" + Degrees(kMaxEl));
    reply.Record("south_zero=0");
  }
  reply.Record("rot_type=Az");
  reply.Record("done");
}

void RotctlSession::DumpCaps(RotctlReply& reply) {
  const double minAz = rotator.Setup().minAz, maxAz = rotator.Setup().maxAz;
  char limits[64];
  reply.Record("Caps dump for model:\t" + std::to_string(kReportedModel));
  reply.Record("Model name:\t\t" + rotator.Description());
  reply.Record("Mfg name:\t\tZEVA");
  reply.Record(std::string("Backend version:\t") + zeva::kVersion);
  reply.Record("Backend status:\t\tStable");
  reply.Record("Rot type:\t\tAzimuth");
  reply.Record("Port type:\t\tNetwork link");
  snprintf(limits, sizeof limits, "Min Azimuth:\t\t%.2f", minAz);
  reply.Record(limits);
  snprintf(limits, sizeof limits, "Max Azimuth:\t\t%.2f", maxAz);
  reply.Record(limits);
  snprintf(limits, sizeof limits, "Min Elevation:\t\t%.2f", kMinEl);
  reply.Record(limits);
  snprintf(limits, sizeof limits, "Max Elevation:\t\t%.2f", kMaxEl);
  reply.Record(limits);
  reply.Record("Can set Position:\tY");
  reply.Record("Can get Position:\tY");
  reply.Record("Can Stop:\t\tY");
  reply.Record("Can Park:\t\tN");
  reply.Record("Can Reset:\t\tN");
  reply.Record("Can Move:\t\tN");
  reply.Record("Can get Info:\t\tY");
  reply.ReportSuccess();
}

void RotctlSession::Answer(const RotctlRequest& request, const RotctlReply& reply, int code) {
  if (verbose) {
    std::string args;
    for (const std::string& arg : request.args) args += " " + arg;
    StationLog("rotator %d: %s: %s%s -> RPRT %d", rotator.Setup().id, peer.c_str(),
              request.name.c_str(), args.c_str(), code);
  }
  outgoing += reply.Finish(code);
}

void RotctlSession::Flush() {
  while (fd >= 0 && !outgoing.empty()) {
    ssize_t n = send(fd, outgoing.data(), outgoing.size(), kSendFlags);
    if (n > 0) {
      outgoing.erase(0, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    End(n < 0 ? strerror(errno) : "send failed");
  }
}

void RotctlSession::End(const char* why) {
  if (fd < 0) return;
  close(fd);
  fd = -1;
  StationLog("rotator %d: rotctld client %s disconnected (%s)", rotator.Setup().id, peer.c_str(),
            why);
}
