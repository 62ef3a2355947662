// One rotator as the rotctld side sees it: its configuration, the bearing
// the daemon last pushed for it, and the two things a client can make it do
// (turn, stop), which go to the daemon as ROTATE and STOP lines.
//
// Owned by Bridge; called on the bridge's one thread only (by Bridge when
// the daemon link connects, drops or delivers a bearing, and by the
// RotctlSessions of this rotator's port). The DaemonLink must outlive it.
#pragma once

#include <chrono>
#include <string>

#include "BridgeOptions.h"
#include "DaemonLink.h"

class BridgedRotator {
 public:
  using Clock = std::chrono::steady_clock;

  BridgedRotator(const RotatorSetup& setup, DaemonLink& link);
  BridgedRotator(const BridgedRotator&) = delete;
  BridgedRotator& operator=(const BridgedRotator&) = delete;

  const RotatorSetup& Setup() const { return setup; }

  // Sends CONFIGURE for this rotator (the link has just connected).
  void Configure(Clock::time_point now);
  void OnBearing(int bearing);
  void OnLinkLost();

  // Turn to a bearing (0..359) / stop. False when the daemon is not
  // connected, so nothing could be sent.
  bool Turn(int bearing);
  bool Halt();

  // The bearing the daemon last reported. It is kept over a reconnection
  // (the antenna has not moved while the link was down); false until the
  // first one arrives.
  bool Position(int& bearing) const;
  // Whether the box reports positions at all (a DCU-1 does not).
  bool HasFeedback() const;
  // "ZEVA Yaesu GS-232 rotator 1 on /dev/ttyUSB0"
  std::string Description() const;

  // Warns once when a configured rotator that should report its position
  // has not done so after a while (a wrong device or model).
  Clock::time_point NextDeadline() const;
  void OnTimer(Clock::time_point now);

 private:
  const RotatorSetup setup;
  DaemonLink& link;

  bool known = false;        // `bearing` holds a reported position
  int bearing = 0;
  bool awaitingFirst = false;  // configured, no bearing since
  Clock::time_point silenceWarningAt;
};
