#include "core/SkyFollower.h"

#include <cmath>
#include <cstdio>

#include "core/StationLog.h"

namespace {

std::string Degrees(double value) {
  char text[16];
  snprintf(text, sizeof text, "%.1f", value);
  return text;
}

}  // namespace

bool SkyFollower::Start(StationRotator& rotator, Body body, const std::string& source,
                        WallClock::time_point now, uint64_t& ticket, std::string& reason) {
  const std::string name = "rotator " + std::to_string(rotator.Setup().id);
  const SkyPosition position = Locate(body, station, now);
  if (!rotator.Available()) {
    reason = name + " is offline";
    return false;
  }
  if (position.elevation < 0) {
    reason = std::string("the ") + BodyName(body) + " is below the horizon (elevation " +
             Degrees(position.elevation) + "°)";
    return false;
  }
  Follow follow{&rotator, body, source + " (following the " + BodyName(body) + ")", 0, 0, {}};
  if (!Aim(follow, position, ticket, reason)) return false;
  bool replaced = false;
  for (Follow& other : follows) {
    if (other.rotator != &rotator) continue;
    other = follow;
    replaced = true;
  }
  if (!replaced) follows.push_back(follow);
  StationLog("%s: following the %s from azimuth %.1f, elevation %.1f, every %g degrees", name.c_str(),
             BodyName(body), position.azimuth, position.elevation, step);
  if (lookAt == Clock::time_point::max()) lookAt = Clock::now() + kLookEvery;
  return true;
}

bool SkyFollower::Aim(Follow& follow, const SkyPosition& position, uint64_t& ticket, std::string& reason) {
  StationRotator& rotator = *follow.rotator;
  int bearing = 0;
  if (!rotator.Bearing(position.azimuth, bearing)) {
    reason = std::string("the ") + BodyName(follow.body) + " at azimuth " + Degrees(position.azimuth) +
             " is outside rotator " + std::to_string(rotator.Setup().id) + "'s range";
    return false;
  }
  ticket = rotator.Turn(bearing, follow.source);
  follow.sentAzimuth = position.azimuth;
  follow.sentBearing = bearing;
  follow.sentAt = rotator.LastCommand().at;
  return true;
}

bool SkyFollower::Following(const StationRotator& rotator, Body& body) const {
  for (const Follow& follow : follows) {
    if (follow.rotator != &rotator) continue;
    body = follow.body;
    return true;
  }
  return false;
}

std::string SkyFollower::Ended(const Follow& follow, const SkyPosition& position) const {
  const StationRotator::Request& last = follow.rotator->LastCommand();
  if (last.at != follow.sentAt || last.source != follow.source) {
    return "another command came from " + last.source;
  }
  if (position.elevation < 0) return std::string("the ") + BodyName(follow.body) + " has set";
  return "";
}

SkyFollower::Clock::time_point SkyFollower::NextDeadline() const { return lookAt; }

void SkyFollower::OnTimer(Clock::time_point now, WallClock::time_point wallNow) {
  if (now < lookAt) return;
  for (auto it = follows.begin(); it != follows.end();) {
    const SkyPosition position = Locate(it->body, station, wallNow);
    std::string why = Ended(*it, position);
    StationRotator& rotator = *it->rotator;
    int target = 0;
    // A rotator back from offline, or after the daemon's link started
    // over, has forgotten its target: it is sent again.
    const bool forgotten = !rotator.Target(target) || target != it->sentBearing;
    uint64_t ticket = 0;
    if (why.empty() && rotator.Available() &&
        (forgotten || std::fabs(std::remainder(position.azimuth - it->sentAzimuth, 360.0)) >= step)) {
      Aim(*it, position, ticket, why);
    }
    if (why.empty()) {
      ++it;
      continue;
    }
    StationLog("rotator %d: following the %s ends: %s", rotator.Setup().id, BodyName(it->body), why.c_str());
    it = follows.erase(it);
  }
  lookAt = follows.empty() ? Clock::time_point::max() : now + kLookEvery;
}
