#include "Session.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "Connection.h"
#include "ProgressLine.h"

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

}  // namespace

Session::Session(Connection& connection, bool terminal) : connection(connection), terminal(terminal) {}

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
  if (progress != nullptr) {
    progress->PrintAbove(line);
  } else {
    printf("%s\n", line.c_str());
    fflush(stdout);
  }
}

void Session::Finish() {
  connection.ShutdownSending();
  auto deadline = After(3.0);
  for (;;) {
    std::string line;
    if (connection.ReadLine(line, MillisecondsUntil(deadline), nullptr) != Connection::Result::Line) return;
    HandleLine(line, nullptr);
  }
}

int Session::Lost() {
  fprintf(stderr, "zeva-ctl: the daemon closed the connection\n");
  return kLost;
}

int Session::Execute(const CtlCommand& command) {
  using Kind = CtlCommand::Kind;
  switch (command.kind) {
    case Kind::Rotate: {
      auto known = bearings.find(command.id);
      if (known != bearings.end()) {
        origins[command.id] = known->second;
      } else {
        origins.erase(command.id);
      }
      if (!connection.SendLine(command.Line())) return Lost();
      return kOk;
    }
    case Kind::Configure:
    case Kind::Stop:
    case Kind::Raw:
      if (!connection.SendLine(command.Line())) return Lost();
      return kOk;
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
  if (!connection.SendLine("VERSION")) return Lost();
  auto deadline = After(kVersionTimeoutMs / 1000.0);
  for (;;) {
    std::string line;
    switch (connection.ReadLine(line, MillisecondsUntil(deadline), &interrupted)) {
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
  bool forever = seconds < 0;
  auto deadline = After(forever ? 0 : seconds);
  for (;;) {
    std::string line;
    int timeout = forever ? -1 : MillisecondsUntil(deadline);
    switch (connection.ReadLine(line, timeout, &interrupted)) {
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
    Connection::Result result = connection.ReadLine(line, MillisecondsUntil(deadline), &interrupted);
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
