// One rotctld client connected to a rotator's port: reads its command
// lines, carries them out on the rotator and writes the answers, in order.
// A get_pos that arrives before the daemon has reported a position since the
// rotator was configured waits (up to 0.8 s) for one, and a turn or stop
// waits until it has been handed to the daemon, holding back the commands
// behind it, the way rotctld holds a client while it talks to the box.
// While the rotator is not responding (a turn brought no movement), get_pos
// and set_pos are answered RPRT -5.
//
// Owned by its RotctlListener; called on the station's one thread only. The
// StationRotator must outlive it.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>

#include "core/StationRotator.h"
#include "core/PollSet.h"
#include "rotctld/RotctlParser.h"
#include "rotctld/RotctlReply.h"

class RotctlSession {
 public:
  using Clock = std::chrono::steady_clock;

  // Takes over the connected socket `fd`; `peer` names the client in logs.
  RotctlSession(int fd, const std::string& peer, StationRotator& rotator, bool verbose);
  ~RotctlSession();
  RotctlSession(const RotctlSession&) = delete;
  RotctlSession& operator=(const RotctlSession&) = delete;

  void AddToPollSet(PollSet& set);
  Clock::time_point NextDeadline() const;
  // Goes on with waiting commands (a position may have come, a wait may
  // have run out) and sends what is ready.
  void Service(Clock::time_point now);
  // The connection has ended; the listener then destroys the session.
  bool Finished() const { return fd < 0; }
  // When the client last sent anything (or connected).
  Clock::time_point LastActivity() const { return lastActivity; }
  // Closes the connection, logging why.
  void End(const char* why);

 private:
  void OnReady(short revents);
  void ReadFromClient();
  void TakeLines(bool endOfInput);
  // Carries out the queued requests until one has to wait.
  void RunQueue(Clock::time_point now);
  // Carries out one request; false when it has to wait.
  bool Execute(const RotctlRequest& request, Clock::time_point now);
  // set_pos and stop; false while the command waits to be handed over.
  bool Command(const RotctlRequest& request, int& code, Clock::time_point now);
  // The result code of a set_pos or stop that has been handed over.
  int Outcome(const RotctlRequest& request) const;
  void DumpState(const RotctlRequest& request, RotctlReply& reply);
  void DumpCaps(RotctlReply& reply);
  void Answer(const RotctlRequest& request, const RotctlReply& reply, int code);
  void Flush();

  StationRotator& rotator;
  const std::string peer;
  const bool verbose;

  int fd;
  std::string received;                  // text not yet ended by a line feed
  std::deque<RotctlRequest> queue;       // requests not yet answered
  std::string outgoing;                  // answers not yet sent
  bool inputEnded = false;               // the client closed its sending side
  bool quitting = false;                 // q received: close once sent
  bool waiting = false;                  // the front request waits (position, hand-over)
  Clock::time_point waitUntil;
  uint64_t ticket = 0;                   // the front command's, while it waits
  Clock::time_point lastActivity;
};
