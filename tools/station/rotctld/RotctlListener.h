// The rotctld port of one rotator: a listening TCP socket and the clients
// connected to it, each a RotctlSession. Up to 32 clients may use the port
// at once; their commands reach the same rotator. When a 33rd connects, the
// client that has sent nothing for the longest time is closed. Out of
// descriptors, the port stops accepting for a tenth of a second at a time
// (logged once) instead of spinning on the waiting connection.
//
// Owned by Station; called on the station's one thread only. The
// StationRotator must outlive it.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "core/StationRotator.h"
#include "core/PollSet.h"
#include "rotctld/RotctlSession.h"

class RotctlListener {
 public:
  using Clock = std::chrono::steady_clock;

  // Clients served at once on one port.
  static constexpr size_t kMaxSessions = 32;

  RotctlListener(StationRotator& rotator, bool verbose);
  ~RotctlListener();
  RotctlListener(const RotctlListener&) = delete;
  RotctlListener& operator=(const RotctlListener&) = delete;

  // Binds address:port (the rotator's port) and listens. On failure returns
  // false with the reason in `error`.
  bool Open(const std::string& address, std::string& error);

  void AddToPollSet(PollSet& set);
  Clock::time_point NextDeadline() const;
  // Lets every session go on, then drops the sessions that have ended.
  void Service(Clock::time_point now);

 private:
  void Accept();

  StationRotator& rotator;
  const bool verbose;
  int listenFd = -1;
  Clock::time_point pausedUntil;  // out of descriptors: not accepting until then
  bool outOfDescriptors = false;  // and it has been logged
  std::vector<std::unique_ptr<RotctlSession>> sessions;
};
