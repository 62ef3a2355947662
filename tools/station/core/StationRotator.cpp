#include "core/StationRotator.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "core/StationLog.h"

namespace {
// The daemon sends a bearing right after CONFIGURE for most models and then
// at every change; this long without one deserves a look at its log.
constexpr int kMinSilenceMs = 10000;
}  // namespace

StationRotator::StationRotator(const RotatorSetup& setup, DaemonLink& link)
    : setup(setup), link(link) {
  struct stat info;
  present = stat(setup.device.c_str(), &info) == 0;
  if (present) {
    device = info.st_dev;
    inode = info.st_ino;
    special = info.st_rdev;
  } else {
    StationLog("rotator %d: %s does not exist; offline until it does", setup.id,
              setup.device.c_str());
  }
}

bool StationRotator::WatchDevice() {
  struct stat info;
  bool now = stat(setup.device.c_str(), &info) == 0;
  bool same = now && present && info.st_dev == device && info.st_ino == inode &&
              info.st_rdev == special;
  if (now) {
    device = info.st_dev;
    inode = info.st_ino;
    special = info.st_rdev;
  }
  if (now == present && (!now || same)) return false;
  if (!now) {
    StationLog("rotator %d: %s is gone; offline (rotctld clients get RPRT -6) until it is back",
              setup.id, setup.device.c_str());
  } else {
    StationLog("rotator %d: %s is %s; configuring every rotator afresh", setup.id,
              setup.device.c_str(), present ? "another device now" : "back");
  }
  present = now;
  Forget();
  known = false;  // even a DCU-1's: the box may be another one
  pending = Command::None;
  return true;
}

void StationRotator::Forget() {
  if (HasFeedback()) known = false;
  sentValid = false;
  awaitingFirst = false;
}

std::string StationRotator::ConfigureLine() const {
  return "CONFIGURE " + std::to_string(setup.id) + " " + setup.device + " " +
         std::to_string(setup.model) + " " + std::to_string(setup.pollMs);
}

void StationRotator::Configured(Clock::time_point now, bool quietly) {
  if (!quietly) {
    StationLog("rotator %d: configured (%s on %s, poll %d ms), rotctld port %d", setup.id,
              StationOptions::ModelTitle(setup.model), setup.device.c_str(), setup.pollMs,
              setup.listenPort);
  }
  Forget();
  awaitingFirst = HasFeedback();
  silenceWarningAt = now + std::chrono::milliseconds(std::max(kMinSilenceMs, 3 * setup.pollMs));
}

void StationRotator::OnBearing(int value) {
  if (!HasFeedback()) return;
  if (known && value != bearing) movedAt = Clock::now();
  known = true;
  bearing = value;
  awaitingFirst = false;
}

void StationRotator::OnLinkLost(bool failed) {
  Forget();
  if (failed) pending = Command::None;
}

bool StationRotator::Bearing(double azimuth, int& result) const {
  int box = 0;
  if (!RangeBearing(azimuth - setup.offset, box)) return false;
  result = TrueBearing(box);
  return true;
}

int StationRotator::Travel(int target) const {
  return known ? std::abs(BoxBearing(target) - bearing) : -1;
}

bool StationRotator::RangeBearing(double azimuth, int& result) const {
  const int low = setup.minAz, high = setup.maxAz;
  auto inside = [&](double value) { return value > low - 1 && value < high + 1; };
  auto whole = [&](double value) {
    return std::min(high, std::max(low, static_cast<int>(std::lround(value))));
  };
  if (inside(azimuth) && high - low <= 360) {
    result = whole(azimuth);
    return true;
  }
  // The bearings the target means: it and the targets whole turns away that
  // fall into the range. Which one: the nearest to where the rotator is.
  int reference = known ? bearing : inside(azimuth) ? whole(azimuth) : whole(0);
  bool found = false;
  double turn = std::floor((low - 1 - azimuth) / 360.0);
  for (double value = azimuth + 360 * turn; value < high + 1; value += 360) {
    if (!inside(value)) continue;
    int candidate = whole(value);
    if (!found || std::abs(candidate - reference) < std::abs(result - reference)) result = candidate;
    found = true;
  }
  return found;
}

void StationRotator::Asked(const std::string& source, const std::string& what) {
  // A tracker repeats its target every few seconds: only a new source is news.
  if (last.source.empty()) {
    StationLog("rotator %d: commands from %s", setup.id, source.c_str());
  } else if (source != last.source) {
    StationLog("rotator %d: commands from %s (until now from %s)", setup.id, source.c_str(),
               last.source.c_str());
  }
  last = {source, what, std::chrono::system_clock::now()};
}

int StationRotator::TrueBearing(int box) const {
  if (setup.offset == 0) return box;
  int value = box + setup.offset;
  if (value > setup.maxAz && value - 360 >= setup.minAz) value -= 360;
  if (value < setup.minAz && value + 360 <= setup.maxAz) value += 360;
  return value;
}

int StationRotator::BoxBearing(int target) const {
  int box = target - setup.offset;
  if (setup.offset != 0) RangeBearing(box, box);
  return box;
}

uint64_t StationRotator::Turn(int bearingTrue, const std::string& source) {
  Asked(source, "turn to " + std::to_string(bearingTrue));
  const int target = BoxBearing(bearingTrue);
  if (pending == Command::None && sentValid && target == sentBearing) return 0;
  pending = Command::Turn;
  pendingBearing = target;
  return ++issued;
}

uint64_t StationRotator::Halt(const std::string& source) {
  Asked(source, "stop");
  pending = Command::Stop;
  return ++issued;
}

bool StationRotator::TakeCommand(std::string& line) {
  if (pending == Command::None || !present) return false;
  if (pending == Command::Turn) {
    line = "ROTATE " + std::to_string(setup.id) + " " + std::to_string(pendingBearing);
    sentValid = true;
    sentBearing = pendingBearing;
    if (!HasFeedback()) {
      known = true;
      bearing = pendingBearing;
    }
  } else {
    line = "STOP " + std::to_string(setup.id);
    sentValid = false;
    if (!HasFeedback()) known = false;
  }
  pending = Command::None;
  handedBefore = handed;
  handed = issued;
  return true;
}

void StationRotator::NotSent() {
  handed = handedBefore;
  sentValid = false;
  if (!HasFeedback()) known = false;
}

bool StationRotator::Position(int& value) const {
  if (!known) return false;
  value = TrueBearing(bearing);
  return true;
}

bool StationRotator::Target(int& value) const {
  if (pending == Command::Turn) {
    value = TrueBearing(pendingBearing);
    return true;
  }
  if (pending == Command::Stop || !sentValid) return false;
  value = TrueBearing(sentBearing);
  return true;
}

bool StationRotator::HasFeedback() const { return StationOptions::ModelHasFeedback(setup.model); }

std::string StationRotator::Description() const {
  return std::string("ZEVA ") + StationOptions::ModelTitle(setup.model) + " rotator " +
         std::to_string(setup.id) + " on " + setup.device;
}

StationRotator::Clock::time_point StationRotator::NextDeadline() const {
  return awaitingFirst ? silenceWarningAt : Clock::time_point::max();
}

void StationRotator::OnTimer(Clock::time_point now) {
  if (!awaitingFirst || now < silenceWarningAt) return;
  awaitingFirst = false;
  StationLog("rotator %d: no position from %s since it was configured; check the device, "
            "the model and the daemon's log",
            setup.id, setup.device.c_str());
}
