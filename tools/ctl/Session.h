// Runs zeva-ctl's commands over one connection to the daemon: sends their
// lines, prints the lines the daemon pushes ("N BBB" bearings and anything
// else) as they arrive, remembers each rotator's last bearing, and does the
// waiting commands (version, wait, watch, sleep).
#pragma once

#include <csignal>
#include <map>
#include <string>

#include "CtlCommand.h"

class Connection;
class ProgressLine;

class Session {
 public:
  // Exit statuses of zeva-ctl.
  enum Status {
    kOk = 0,
    kFailed = 1,        // usage error, bad command, no answer to version
    kNoConnection = 2,  // cannot connect
    kTimedOut = 3,      // wait did not reach its bearing in time
    kLost = 4,          // the daemon closed the connection
    kInterrupted = 130  // Ctrl+C during wait or sleep
  };

  Session(Connection& connection, bool terminal);

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

  static bool ParseBearing(const std::string& line, int& id, int& bearing);
  static int Distance(int a, int b);

  Connection& connection;
  bool terminal;
  std::map<int, int> bearings;
  std::map<int, int> origins;  // bearing when the last rotate was sent
};
