#include "Session.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "Connection.h"
#include "ProgressLine.h"
#include "StationLink.h"

volatile sig_atomic_t Session::interrupted = 0;

namespace {

constexpr int kVersionTimeoutMs = 2000;

int MillisecondsUntil(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

std::chrono::steady_clock::time_point After(double seconds) {
  return std::chrono::steady_clock::now() +
         std::chrono::milliseconds(static_cast<long long>(seconds * 1000.0));
}

// A station's answer other than Done: said, and the exit status.
int Unanswered(StationLink::Answer answer, const std::string& message, const std::string& url) {
  if (answer == StationLink::Answer::Interrupted) return Session::kInterrupted;
  if (answer == StationLink::Answer::Refused) {
    fprintf(stderr, "zeva-ctl: the station refused: %s\n", message.c_str());
    return Session::kRefused;
  }
  fprintf(stderr, "zeva-ctl: cannot reach the station at %s: %s\n", url.c_str(), message.c_str());
  return Session::kLost;
}

}  // namespace

Session::Session(Connection& connection, bool terminal)
    : link(connection), connection(&connection), terminal(terminal) {}

Session::Session(StationLink& station, const StationState& state, bool terminal)
    : link(station), station(&station), initial(state), terminal(terminal) {
  // A box that never reports (a DCU-1) has the bearing it was sent: not one
  // to wait for.
  for (const StationState::Rotator& rotator : state.rotators) {
    if (rotator.hasBearing && rotator.state != "blind") bearings[rotator.id] = rotator.bearing;
  }
}

void Session::StartListening() {
  if (station != nullptr) station->Follow(initial);
}

bool Session::ParseBearing(const std::string& line, int& id, int& bearing) {
  int consumed = 0;
  if (sscanf(line.c_str(), "%d %d%n", &id, &bearing, &consumed) != 2) return false;
  return static_cast<size_t>(consumed) == line.size();
}

int Session::Distance(int a, int b) {
  int difference = std::abs(a - b) % 360;
  return difference > 180 ? 360 - difference : difference;
}

void Session::HandleLine(const std::string& line, ProgressLine* progress) {
  int id = 0;
  int bearing = 0;
  if (ParseBearing(line, id, bearing)) bearings[id] = bearing;
  if (line.compare(0, 10, "zeva-ctl: ") == 0) {
    if (progress != nullptr) progress->Finish();
    fprintf(stderr, "%s\n", line.c_str());
  } else if (progress != nullptr) {
    progress->PrintAbove(line);
  } else {
    printf("%s\n", line.c_str());
    fflush(stdout);
  }
}

void Session::Finish() {
  if (connection == nullptr) return;  // a station answered every command already
  connection->ShutdownSending();
  auto deadline = After(3.0);
  for (;;) {
    std::string line;
    if (link.ReadLine(line, MillisecondsUntil(deadline), nullptr) != Connection::Result::Line) return;
    HandleLine(line, nullptr);
  }
}

int Session::Lost() {
  fprintf(stderr, "zeva-ctl: the daemon closed the connection\n");
  return kLost;
}

int Session::Execute(const CtlCommand& command) {
  using Kind = CtlCommand::Kind;
  if (command.kind == Kind::Wait || command.kind == Kind::Watch || command.kind == Kind::Sleep) StartListening();
  if (station != nullptr && command.kind != Kind::Wait && command.kind != Kind::Watch &&
      command.kind != Kind::Sleep && command.kind != Kind::Echo) {
    return AtStation(command);
  }
  if (!command.place.empty() || command.kind == Kind::Follow) {
    fprintf(stderr, "zeva-ctl: places and the sun and the moon are a station's: zeva-ctl --station PORT %s\n",
            command.kind == Kind::Follow ? "follow ID sun|moon" : "rotate ID PLACE [--long]");
    return kFailed;
  }
  switch (command.kind) {
    case Kind::Rotate:
      NoteOrigin(command.id);
      if (!connection->SendLine(command.Line())) return Lost();
      return kOk;
    case Kind::Stop:
      if (command.all) {
        fprintf(stderr, "zeva-ctl: stop all needs a station (--station); the daemon stops one rotator at a time\n");
        return kFailed;
      }
      if (!connection->SendLine(command.Line())) return Lost();
      return kOk;
    case Kind::Configure:
      // The daemon answers no CONFIGURE: it only logs a device it cannot
      // open. On this host zeva-ctl can look for the device first.
      if (connection->PeerIsLocal() && access(command.device.c_str(), F_OK) != 0) {
        fprintf(stderr,
                "zeva-ctl: %s does not exist on this host, where the daemon runs; rotator %d is not "
                "configured (nothing sent)\n",
                command.device.c_str(), command.id);
        return kFailed;
      }
      if (!connection->SendLine(command.Line())) return Lost();
      return kOk;
    case Kind::Raw:
      if (!connection->SendLine(command.Line())) return Lost();
      return kOk;
    case Kind::Status:
      fprintf(stderr, "zeva-ctl: the daemon lists no rotators; a station does (zeva-ctl --station [HOST:]PORT status)\n");
      return kFailed;
    case Kind::Version: return Version();
    case Kind::Wait: return Wait(command);
    case Kind::Watch: return Listen(command.seconds, true);
    case Kind::Sleep: return Listen(command.seconds, false);
    case Kind::Echo:
      printf("%s\n", command.text.c_str());
      fflush(stdout);
      return kOk;
    default: return kOk;
  }
}

int Session::Version() {
  if (!connection->SendLine("VERSION")) return Lost();
  auto deadline = After(kVersionTimeoutMs / 1000.0);
  for (;;) {
    std::string line;
    switch (link.ReadLine(line, MillisecondsUntil(deadline), &interrupted)) {
      case Connection::Result::Line:
        if (line.compare(0, 8, "VERSION ") == 0) {
          printf("%s\n", line.c_str());
          fflush(stdout);
          return kOk;
        }
        HandleLine(line, nullptr);
        break;
      case Connection::Result::Timeout:
        fprintf(stderr, "zeva-ctl: no reply to VERSION within %d s\n", kVersionTimeoutMs / 1000);
        return kFailed;
      case Connection::Result::Interrupted: return kInterrupted;
      default: return Lost();
    }
  }
}

int Session::Listen(double seconds, bool untilInterrupted) {
  // A station's rotators are where they were: say so first, as the daemon
  // does when a rotator is configured.
  if (station != nullptr && untilInterrupted) {
    for (const auto& known : bearings) {
      printf("%d %03d\n", known.first, known.second);
    }
    fflush(stdout);
  }
  bool forever = seconds < 0;
  auto deadline = After(forever ? 0 : seconds);
  for (;;) {
    std::string line;
    int timeout = forever ? -1 : MillisecondsUntil(deadline);
    switch (link.ReadLine(line, timeout, &interrupted)) {
      case Connection::Result::Line: HandleLine(line, nullptr); break;
      case Connection::Result::Timeout: return kOk;
      case Connection::Result::Interrupted: return untilInterrupted ? kOk : kInterrupted;
      default: return Lost();
    }
  }
}

int Session::Wait(const CtlCommand& command) {
  ProgressLine progress(terminal);
  bool haveStart = false;
  int start = 0;
  auto known = bearings.find(command.id);
  if (known != bearings.end()) {
    int now = known->second;
    auto origin = origins.find(command.id);
    haveStart = true;
    start = origin != origins.end() ? origin->second : now;
    if (Distance(now, command.degrees) <= command.tolerance) {
      if (terminal) {
        progress.Show(command.id, start, now, command.degrees);
        progress.Finish();
      }
      return kOk;
    }
    progress.Show(command.id, start, now, command.degrees);
  }
  auto deadline = After(command.seconds);
  for (;;) {
    std::string line;
    Connection::Result result = link.ReadLine(line, MillisecondsUntil(deadline), &interrupted);
    if (result == Connection::Result::Line) {
      int id = 0;
      int bearing = 0;
      if (!ParseBearing(line, id, bearing) || id != command.id) {
        HandleLine(line, progress.Enabled() ? &progress : nullptr);
        continue;
      }
      bearings[id] = bearing;
      if (!haveStart) {
        haveStart = true;
        start = bearing;
      }
      if (progress.Enabled()) {
        progress.Show(id, start, bearing, command.degrees);
      } else {
        printf("%s\n", line.c_str());
        fflush(stdout);
      }
      if (Distance(bearing, command.degrees) <= command.tolerance) {
        progress.Finish();
        return kOk;
      }
      continue;
    }
    progress.Finish();
    if (result == Connection::Result::Timeout) {
      auto last = bearings.find(command.id);
      if (last == bearings.end()) {
        fprintf(stderr, "zeva-ctl: rotator %d reported no bearing within %g s\n", command.id, command.seconds);
      } else {
        fprintf(stderr, "zeva-ctl: rotator %d did not reach %03d within %g s (last bearing %03d)\n", command.id,
                command.degrees, command.seconds, last->second);
      }
      return kTimedOut;
    }
    if (result == Connection::Result::Interrupted) return kInterrupted;
    return Lost();
  }
}

int Session::AtStation(const CtlCommand& command) {
  using Kind = CtlCommand::Kind;
  using Answer = StationLink::Answer;
  std::string message;
  Answer answer = Answer::Done;
  bool told = false;  // the station's answer says where the rotator turns: printed
  switch (command.kind) {
    case Kind::Rotate:
      NoteOrigin(command.id);
      if (command.place.empty()) {
        answer = station->Turn(command.id, command.degrees, message);
        break;
      }
      answer = station->Aim(command.id, command.place, command.longPath, message);
      told = true;
      break;
    case Kind::Follow:
      answer = station->FollowBody(command.id, command.body, message);
      told = true;
      break;
    case Kind::Stop: answer = station->Stop(command.all ? 0 : command.id, message); break;
    case Kind::Version:
    case Kind::Status: {
      StationState state;
      answer = station->Fetch(state, message);
      if (answer != Answer::Done) break;
      printf("zeva-station %s at %s; %s\n", state.version.c_str(), station->Url().c_str(),
             state.daemon ? "the daemon is within reach" : "the daemon is OUT OF REACH");
      if (command.kind == Kind::Status) {
        const long long now = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::system_clock::now().time_since_epoch()).count();
        for (const std::string& line : state.Summary(now)) printf("%s\n", line.c_str());
      }
      fflush(stdout);
      break;
    }
    case Kind::Configure:
      fprintf(stderr,
              "zeva-ctl: the station configures its rotators itself (its --rotator options);\n"
              "  zeva-ctl --station %s status   lists them, and its page shows them\n",
              station->Url().c_str());
      return kFailed;
    case Kind::Raw:
      fprintf(stderr, "zeva-ctl: raw lines go to the daemon, which only the station talks to; "
                      "use rotate and stop\n");
      return kFailed;
    default: return kOk;
  }
  if (told && answer == Answer::Done) {
    printf("rotator %d: %s\n", command.id, message.c_str());
    fflush(stdout);
  }
  return answer == Answer::Done ? kOk : Unanswered(answer, message, station->Url());
}

void Session::NoteOrigin(int id) {
  auto known = bearings.find(id);
  if (known != bearings.end()) {
    origins[id] = known->second;
  } else {
    origins.erase(id);
  }
}
