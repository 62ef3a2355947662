// The bridge's TCP connection to the zeva-rotator daemon. It connects
// without blocking the loop, sends command lines ended by a carriage return,
// cuts what the daemon sends into lines and hands bearing lines ("1 045") to
// a callback. When the connection fails or drops it tries again after a
// pause that grows from 0.5 s to 5 s (back to 0.5 s after a connection that
// lasted a while), for as long as the bridge runs.
//
// Owned by Bridge; every member is called on the bridge's one thread, and
// the callbacks run on it too (from OnTimer and from the poll handlers).
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "PollSet.h"

class DaemonLink {
 public:
  using Clock = std::chrono::steady_clock;

  struct Callbacks {
    std::function<void()> connected;              // send the configuration now
    std::function<void(int id, int bearing)> bearing;
    std::function<void()> lost;                   // the connection is gone
  };

  DaemonLink(const std::string& host, int port, Callbacks callbacks);
  ~DaemonLink();
  DaemonLink(const DaemonLink&) = delete;
  DaemonLink& operator=(const DaemonLink&) = delete;

  // Starts the first connection attempt.
  void Start();
  // Closes the connection for good (the daemon then forgets the rotators).
  void Close();

  bool Connected() const { return state == State::Connected; }
  // Queues `line` and a carriage return. False when not connected.
  bool SendLine(const std::string& line);

  void AddToPollSet(PollSet& set);
  // When OnTimer has something to do next (a retry, a connect time-out).
  Clock::time_point NextDeadline() const;
  void OnTimer(Clock::time_point now);

 private:
  enum class State { Waiting, Connecting, Connected, Closed };

  void BeginConnect(Clock::time_point now);
  void FinishConnect(Clock::time_point now);
  void ConnectFailed(const std::string& reason, Clock::time_point now);
  void OnReady(short revents);
  void ReadFromDaemon();
  void HandleLine(const std::string& line);
  void Flush();
  void Drop(const std::string& reason);
  void ScheduleRetry(Clock::time_point now);
  void CloseSocket();

  // Constant after construction.
  const std::string host;
  const int port;
  const Callbacks callbacks;

  State state = State::Closed;
  int fd = -1;
  Clock::time_point retryAt;         // Waiting: when to try again
  Clock::time_point connectStarted;  // Connecting: for the time-out
  Clock::time_point connectedAt;     // Connected: since when
  int backoffMs;                     // the pause before the next retry
  std::string received;              // text not yet ended by a carriage return
  std::string outgoing;              // queued text not yet sent
  std::string lastFailure;           // the reason last logged, to log changes only
  Clock::time_point lastFailureLog;
};
