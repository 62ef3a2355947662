// The contest logger's front: N1MM Logger+ (and the loggers that copy its
// rotor protocol) turns and stops the named rotators (--name) with datagrams
// on one UDP port, and gets each named rotator's heading back as
// "NAME @ HEADING" datagrams (--n1mm-to) whenever it changes and every
// kRefreshMs besides.
//
// What a turn asks, in true bearings (calibration offsets are the core's
// business): the antenna at goazi, the logger's offset being the angle the
// logger says the antenna is mounted clockwise of the rotator's direction,
// so the rotator turns to goazi less that offset; with bidirectional 1, to
// that bearing or its reciprocal, whichever the box reaches with less
// turning from where it is. A stop stops the rotator. Every command carries
// the source "N1MM ADDRESS", as each front's commands carry theirs.
//
// A datagram is dropped when its sender is not allowed (--n1mm-allow), it is
// oversized or malformed, no rotator has its name, the rotator is offline or
// cannot point there. One log line says so at once, then at most one every
// kDropLogMs, with the number dropped in between: a flood costs a line per
// ten seconds, never a crash or a stall.
//
// Owned by Station when --n1mm is given; called on the station's one thread
// only. The rotators belong to Station and outlive it.
#pragma once

#include <sys/socket.h>

#include <chrono>
#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "core/AddressPrefix.h"
#include "core/PollSet.h"
#include "core/StationOptions.h"
#include "core/StationRotator.h"
#include "n1mm/N1mmDatagram.h"

class N1mmFront {
 public:
  using Clock = std::chrono::steady_clock;

  static constexpr int kRefreshMs = 3000;
  static constexpr int kDropLogMs = 10000;

  N1mmFront(const StationOptions& options,
            const std::vector<std::unique_ptr<StationRotator>>& rotators);
  ~N1mmFront();
  N1mmFront(const N1mmFront&) = delete;
  N1mmFront& operator=(const N1mmFront&) = delete;

  // Binds the logger's port and finds where headings go; false with the
  // reason when either fails.
  bool Open(std::string& error);

  void AddToPollSet(PollSet& set);
  // Sends the headings that changed, and every heading each kRefreshMs.
  void Service(Clock::time_point now);
  Clock::time_point NextDeadline() const;

  // The true bearing a turn asks of `rotator` (see above); false when
  // neither way is in its range.
  static bool TurnBearing(const StationRotator& rotator, const N1mmCommand& command,
                          int& bearing);

 private:
  struct Named {
    StationRotator* rotator;
    std::string key;      // RotorNameKey of its name
    int sent = INT_MIN;   // the heading last sent (INT_MIN: none since it was known)
  };
  struct Destination {
    std::string text;  // "HOST:PORT", for the log
    sockaddr_storage address;
    socklen_t length = 0;
    int fd = -1;            // the sending socket of its address family
    std::string lastError;  // the send error last logged
  };

  void Receive();
  void Carry(const char* data, size_t size, const sockaddr_storage& from);
  void Drop(const std::string& sender, const std::string& why);
  void Send(const std::string& datagram);

  const StationOptions& options;
  std::vector<AddressPrefix> allowed;  // empty: any sender (the port is on loopback)
  std::vector<Named> named;
  std::vector<Destination> destinations;
  int listenFd = -1;
  int sendFd4 = -1, sendFd6 = -1;
  Clock::time_point refreshAt;
  Clock::time_point dropLogAt;  // no drop is logged before then
  long dropsUnlogged = 0;       // dropped since the last drop line
};
