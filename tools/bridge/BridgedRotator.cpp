#include "BridgedRotator.h"

#include <algorithm>

#include "BridgeLog.h"

namespace {
// The daemon sends a bearing right after CONFIGURE for most models and then
// at every change; this long without one deserves a look at its log.
constexpr int kMinSilenceMs = 10000;
}  // namespace

BridgedRotator::BridgedRotator(const RotatorSetup& setup, DaemonLink& link)
    : setup(setup), link(link) {}

void BridgedRotator::Configure(Clock::time_point now) {
  std::string line = "CONFIGURE " + std::to_string(setup.id) + " " + setup.device + " " +
                     std::to_string(setup.model) + " " + std::to_string(setup.pollMs);
  if (!link.SendLine(line)) return;
  BridgeLog("rotator %d: configured (%s on %s, poll %d ms), rotctld port %d", setup.id,
            BridgeOptions::ModelTitle(setup.model), setup.device.c_str(), setup.pollMs,
            setup.listenPort);
  awaitingFirst = HasFeedback();
  silenceWarningAt = now + std::chrono::milliseconds(std::max(kMinSilenceMs, 3 * setup.pollMs));
}

void BridgedRotator::OnBearing(int value) {
  known = true;
  bearing = value;
  awaitingFirst = false;
}

void BridgedRotator::OnLinkLost() { awaitingFirst = false; }

bool BridgedRotator::Turn(int target) {
  return link.SendLine("ROTATE " + std::to_string(setup.id) + " " + std::to_string(target));
}

bool BridgedRotator::Halt() { return link.SendLine("STOP " + std::to_string(setup.id)); }

bool BridgedRotator::Position(int& value) const {
  if (!known) return false;
  value = bearing;
  return true;
}

bool BridgedRotator::HasFeedback() const { return BridgeOptions::ModelHasFeedback(setup.model); }

std::string BridgedRotator::Description() const {
  return std::string("ZEVA ") + BridgeOptions::ModelTitle(setup.model) + " rotator " +
         std::to_string(setup.id) + " on " + setup.device;
}

BridgedRotator::Clock::time_point BridgedRotator::NextDeadline() const {
  return awaitingFirst ? silenceWarningAt : Clock::time_point::max();
}

void BridgedRotator::OnTimer(Clock::time_point now) {
  if (!awaitingFirst || now < silenceWarningAt) return;
  awaitingFirst = false;
  BridgeLog("rotator %d: no position from %s since it was configured; check the device, "
            "the model and the daemon's log",
            setup.id, setup.device.c_str());
}
