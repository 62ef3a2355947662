#include "core/StationRotator.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "core/StationLog.h"

namespace {
// The daemon sends a bearing right after CONFIGURE for most models and then
// at every change; this long without one deserves a look at its log.
constexpr int kMinSilenceMs = 10000;
// A turn this far makes any box move: closer, a box may count itself there.
constexpr int kSureTurnDegrees = 5;
// RC2800 PA and Prosistel D boxes are polled every 5 s whatever CONFIGURE
// says; an RC2800 PX reports unasked while it turns.
constexpr int kRc2800Pa = 8, kRc2800Px = 9, kProsistel = 12;
constexpr int kFixedPollMs = 5000;
constexpr int kUnaskedReportMs = 1000;
}  // namespace

StationRotator::StationRotator(const RotatorSetup& setup, DaemonLink& link)
    : setup(setup), scale(setup.model, setup.minAz, setup.maxAz), link(link) {
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
  turn = BoxScale::Context();
  approaching = false;
  expecting = false;
  unresponsive = false;
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

void StationRotator::OnBearing(int number) {
  if (!HasFeedback()) return;
  if (known && number != boxBearing) {
    movedAt = Clock::now();
    approaching = sentValid && scale.Distance(sentBox, number) < scale.Distance(sentBox, boxBearing);
  }
  BoxScale::Context context = turn;
  context.known = known;
  context.previous = bearing;
  bearing = scale.ToBearing(number, context);
  boxBearing = number;
  known = true;
  awaitingFirst = false;
  expecting = false;
  if (unresponsive) {
    unresponsive = false;
    StationLog("rotator %d: responding again (bearing %d)", setup.id, bearing);
  }
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
  // The bearings the target may mean.
  std::vector<int> choices;
  if (inside(azimuth)) {
    // As it is: the client chose it (380 on 0..450 is 380). Only a 0..360
    // target that a range over a turn wide holds a turn away too is the
    // station's choice.
    result = whole(azimuth);
    if (result < 0 || result > 360 || high - low <= 360) return true;
    for (int choice : {result - 360, result, result + 360}) {
      // (A GS-232 is sent -160 and 200 as the same number: no choice.)
      bool another = choice == result || scale.ToBox(choice) != scale.ToBox(result);
      if (choice >= low && choice <= high && another) choices.push_back(choice);
    }
  } else {
    // The targets whole turns away that fall into the range.
    double turns = std::floor((low - 1 - azimuth) / 360.0);
    for (double value = azimuth + 360 * turns; value < high + 1; value += 360) {
      if (inside(value)) choices.push_back(whole(value));
    }
    if (choices.empty()) return false;
  }
  // Which one: the nearest to where the rotator is (the target as sent
  // where two are as near).
  int reference = known ? bearing : inside(azimuth) ? whole(azimuth) : whole(0);
  if (!inside(azimuth)) result = choices.front();
  for (int choice : choices) {
    if (std::abs(choice - reference) < std::abs(result - reference)) result = choice;
  }
  return true;
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

bool StationRotator::OnItsWay(Clock::time_point now) const {
  if (!HasFeedback() || !known) return false;  // no telling where the antenna is
  if (scale.Distance(sentBox, boxBearing) <= 1) return true;
  return approaching && now - movedAt < 2 * ReportPeriod() + std::chrono::seconds(1);
}

StationRotator::Clock::duration StationRotator::ReportPeriod() const {
  int ms = setup.pollMs;
  if (setup.model == kRc2800Pa || setup.model == kProsistel) ms = kFixedPollMs;
  if (setup.model == kRc2800Px) ms = kUnaskedReportMs;
  return std::chrono::milliseconds(ms);
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
  if (pending == Command::None && sentValid && target == sentBearing && OnItsWay(Clock::now())) {
    return 0;
  }
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
    sentBox = scale.ToBox(pendingBearing);
    line = "ROTATE " + std::to_string(setup.id) + " " + std::to_string(sentBox);
    sentValid = true;
    sentBearing = pendingBearing;
    turn.turned = true;
    turn.from = known ? bearing : pendingBearing;
    turn.to = pendingBearing;
    approaching = false;
    if (!HasFeedback()) {
      known = true;
      bearing = pendingBearing;
    } else {
      // A box sent this far must move; one that never reported is due to.
      expecting = !known || scale.Distance(sentBox, boxBearing) > kSureTurnDegrees;
      expectedSince = Clock::now();
    }
  } else {
    line = "STOP " + std::to_string(setup.id);
    sentValid = false;
    expecting = false;
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
  expecting = false;
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

StationRotator::Clock::duration StationRotator::ResponseWait() const {
  return 3 * ReportPeriod() + std::chrono::seconds(2);
}

StationRotator::Clock::time_point StationRotator::NextDeadline() const {
  Clock::time_point next = awaitingFirst ? silenceWarningAt : Clock::time_point::max();
  if (expecting) next = std::min(next, expectedSince + ResponseWait());
  return next;
}

void StationRotator::OnTimer(Clock::time_point now) {
  if (expecting && now >= expectedSince + ResponseWait()) {
    expecting = false;
    if (!unresponsive) {
      unresponsive = true;
      StationLog("rotator %d: no bearing change %.1f s after a turn to %d: not responding (its "
                 "controller switched off?); rotctld clients get RPRT -5 until it reports",
                 setup.id,
                 std::chrono::duration<double>(ResponseWait()).count(), sentBearing);
    }
  }
  if (!awaitingFirst || now < silenceWarningAt) return;
  awaitingFirst = false;
  StationLog("rotator %d: no position from %s since it was configured; check the device, "
            "the model and the daemon's log",
            setup.id, setup.device.c_str());
}
