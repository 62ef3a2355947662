// The station's TCP connection to the zeva-rotator daemon.
//
// Every connection starts with an empty registry in the daemon. The daemon
// forgets its rotators only when it sees its client leave; a client that
// takes the connection over, or a write the daemon failed, leaves them in
// place, and configuring them again would open each device twice. So the
// link first makes a clearing connection: it asks VERSION (the answer shows
// that this connection is the daemon's client), closes its sending side and
// waits until the daemon has closed the connection, which the daemon does
// just before it destroys every rotator. Only then does it connect for good;
// the daemon reads that connection once the rotators are gone.
//
// Commands go in batches: a few lines, then VERSION; the answer to it shows
// that the daemon has carried out the whole batch, and how long it took.
// The link keeps the batches not yet answered, in order; the station
// decides how many it lets be outstanding.
//
// A failed attempt is retried after a pause that grows from 0.25 s to 5 s;
// a working connection that drops is retried after 0.25 s.
//
// Owned by Station; every member is called on the station's one thread, and
// the callbacks run on it too (from OnTimer, Refresh and the poll handlers).
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "core/PollSet.h"

class DaemonLink {
 public:
  using Clock = std::chrono::steady_clock;

  struct Callbacks {
    // The registry is empty: configure now. `quietly` after a Refresh.
    std::function<void(bool quietly)> connected;
    std::function<void(int id, int bearing)> bearing;
    // The daemon has carried out batch `batch` (from SendBatch) in `took`:
    // from when it was sent or, if the daemon was busy with an earlier
    // batch then, from when that one was done (it carries out one command
    // after another).
    std::function<void(uint64_t batch, Clock::duration took)> done;
    // The connection is gone; `failed` is false when the station itself
    // started over (Refresh) and a new connection is on its way.
    std::function<void(bool failed)> lost;
  };

  DaemonLink(const std::string& host, int port, Callbacks callbacks);
  ~DaemonLink();
  DaemonLink(const DaemonLink&) = delete;
  DaemonLink& operator=(const DaemonLink&) = delete;

  // Starts the first connection attempt.
  void Start();
  // Closes the connection for good (the daemon then forgets the rotators).
  void Close();
  // Starts over at once with an empty registry: `lost`, then `connected`.
  void Refresh();

  // False from a failed attempt or a dropped connection until a connection
  // succeeds again: the daemon is out of reach.
  bool Up() const { return !failed; }
  bool Connected() const { return state == State::Connected; }
  // Batches sent and not yet carried out.
  size_t Outstanding() const { return batches.size(); }
  // Sends the lines, then VERSION; returns the batch's number (never 0), or
  // 0 when not connected or the connection failed sending it.
  uint64_t SendBatch(const std::vector<std::string>& lines);

  void AddToPollSet(PollSet& set);
  // When OnTimer has something to do next (a retry, a time-out).
  Clock::time_point NextDeadline() const;
  void OnTimer(Clock::time_point now);

 private:
  enum class State {
    Closed,
    Waiting,            // for retryAt
    ConnectingToClear,  // the clearing connection is being made
    AskingVersion,      // it waits for the VERSION answer
    AwaitingClose,      // its sending side is closed: the daemon cleans up
    ConnectingToServe,  // the connection for good is being made
    Connected,
  };

  void BeginConnect(State connecting, Clock::time_point now);
  void FinishConnect(Clock::time_point now);
  void Fail(const std::string& reason, Clock::time_point now);
  void OnReady(short revents);
  void ReadFromDaemon();
  void HandleLine(const std::string& line);
  void Flush();
  void CloseSocket();

  // Constant after construction.
  const std::string host;
  const int port;
  const Callbacks callbacks;

  State state = State::Closed;
  bool failed = false;
  bool refreshing = false;         // Refresh() started the connection being made
  int fd = -1;
  Clock::time_point retryAt;       // Waiting: when to try again
  Clock::time_point phaseStarted;  // the connecting and clearing states: for the time-out
  int backoffMs;                   // the pause before the next retry
  struct Batch {
    uint64_t number;
    Clock::time_point sent;
  };
  std::deque<Batch> batches;       // Connected: sent, VERSION not yet answered
  uint64_t lastBatch = 0;          // the number of the last batch sent
  Clock::time_point lastDone;      // when the daemon last carried out a batch
  bool slowLogged = false;         // the oldest unanswered batch has been logged
  std::string received;            // text not yet ended by a carriage return
  std::string outgoing;            // queued text not yet sent
  std::string lastFailure;         // the reason last logged, to log changes only
  Clock::time_point lastFailureLog;
  std::string version;             // the daemon's version, as last logged
};
