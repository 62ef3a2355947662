// Keeps rotators pointed at the sun or the moon (for EME, or for measuring
// an antenna's noise against the sun).
//
// A followed rotator is sent the body's azimuth when following starts, and
// again whenever the body has moved `step` degrees from the azimuth last
// sent (and when the rotator comes back from offline or the daemon's link
// started over). Following ends when the body sets (elevation below 0), when
// its azimuth falls outside the rotator's range, and on any other command to
// that rotator, from any front: the follower's own turns are the rotator's
// last command as long as it follows.
//
// Owned by Station when the station's place is known; called on the
// station's thread only. The rotators belong to Station and outlive it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "core/StationRotator.h"
#include "places/Geodesy.h"
#include "places/Sky.h"

class SkyFollower {
 public:
  using Clock = std::chrono::steady_clock;
  using WallClock = std::chrono::system_clock;

  // How often the bodies are looked at.
  static constexpr auto kLookEvery = std::chrono::seconds(5);

  SkyFollower(const LatLon& station, double step) : station(station), step(step) {}

  // Starts following (in place of any following of that rotator) and turns
  // the rotator to the body; returns the turn's ticket (0 when the rotator
  // is there already), or false with the reason: the body is below the
  // horizon or outside the rotator's range, the rotator is offline.
  bool Start(StationRotator& rotator, Body body, const std::string& source, WallClock::time_point now,
             uint64_t& ticket, std::string& reason);
  // The body the rotator follows; false when it follows none.
  bool Following(const StationRotator& rotator, Body& body) const;

  Clock::time_point NextDeadline() const;
  // Ends what has ended and turns what has moved.
  void OnTimer(Clock::time_point now, WallClock::time_point wallNow);

 private:
  struct Follow {
    StationRotator* rotator;
    Body body;
    std::string source;   // the follower's name as the rotator's last command
    double sentAzimuth;   // the body's azimuth when last sent
    int sentBearing;      // the bearing that went with it
    WallClock::time_point sentAt;  // the rotator's last command then
  };

  // Turns the rotator to the body's azimuth; false with the reason when it
  // cannot be reached.
  bool Aim(Follow& follow, const SkyPosition& position, uint64_t& ticket, std::string& reason);
  // Why following of the rotator should end now, or empty.
  std::string Ended(const Follow& follow, const SkyPosition& position) const;

  const LatLon station;
  const double step;
  std::vector<Follow> follows;
  Clock::time_point lookAt = Clock::time_point::max();  // when OnTimer looks next
};
