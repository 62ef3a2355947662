// Runs zeva-ctl's commands over one link: to the daemon (sends their
// lines) or to a station (its JSON API). Prints the lines pushed to it ("N
// BBB" bearings and anything else; zeva-ctl's own notices, "zeva-ctl: ...",
// on standard error) as they arrive, remembers each rotator's last bearing,
// and does the waiting commands (version, wait, watch, sleep).
//
// Owned by main(); called on the main thread only.
#pragma once

#include <csignal>
#include <map>
#include <string>

#include "CtlCommand.h"
#include "StationState.h"

class Connection;
class Link;
class ProgressLine;
class StationLink;

class Session {
 public:
  // Exit statuses of zeva-ctl.
  enum Status {
    kOk = 0,
    kFailed = 1,        // usage error, bad command, no answer to version
    kNoConnection = 2,  // cannot connect
    kTimedOut = 3,      // wait did not reach its bearing in time
    kLost = 4,          // the daemon closed the connection; the station cannot be reached
    kRefused = 5,       // the station refused a command
    kInterrupted = 130  // Ctrl+C during wait or sleep
  };

  // Against the daemon.
  Session(Connection& connection, bool terminal);
  // Against a station, whose state was `state` when zeva-ctl connected.
  Session(StationLink& station, const StationState& state, bool terminal);

  // Whether the link comes back by itself after it was lost (a station's).
  bool Recovers() const { return station != nullptr; }
  // Starts listening for pushed lines where that takes a step of its own
  // (a station's event stream); the interactive shell does it at once.
  void StartListening();

  // Runs one command; returns kOk or the status to exit with.
  int Execute(const CtlCommand& command);

  // Ends the conversation politely: stops sending, then prints what the
  // daemon still pushes until it closes its side (at most a few seconds),
  // so that every command sent has been read before the socket is closed.
  void Finish();

  // Prints and records one line from the daemon.
  void HandleLine(const std::string& line, ProgressLine* progress);

  // Set by the SIGINT handler; waiting commands return when it is set.
  static volatile sig_atomic_t interrupted;

 private:
  int Version();
  int Wait(const CtlCommand& command);
  int Listen(double seconds, bool untilInterrupted);
  int Lost();
  int AtStation(const CtlCommand& command);

  // A rotate to rotator `id` goes out: where it is now is where a wait for
  // it starts its progress line.
  void NoteOrigin(int id);

  static bool ParseBearing(const std::string& line, int& id, int& bearing);
  static int Distance(int a, int b);

  Link& link;
  Connection* connection = nullptr;  // one of the two
  StationLink* station = nullptr;
  StationState initial;              // a station's state when zeva-ctl connected
  bool terminal;
  std::map<int, int> bearings;
  std::map<int, int> origins;  // bearing when the last rotate was sent
};
