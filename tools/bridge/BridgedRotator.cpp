#include "BridgedRotator.h"

#include <algorithm>

#include "BridgeLog.h"

namespace {
// The daemon sends a bearing right after CONFIGURE for most models and then
// at every change; this long without one deserves a look at its log.
constexpr int kMinSilenceMs = 10000;
}  // namespace

BridgedRotator::BridgedRotator(const RotatorSpec& spec, DaemonLink& link)
    : spec(spec), link(link) {}

void BridgedRotator::Configure(Clock::time_point now) {
  std::string line = "CONFIGURE " + std::to_string(spec.id) + " " + spec.device + " " +
                     std::to_string(spec.model) + " " + std::to_string(spec.pollMs);
  if (!link.SendLine(line)) return;
  BridgeLog("rotator %d: configured (%s on %s, poll %d ms), rotctld port %d", spec.id,
            BridgeOptions::ModelTitle(spec.model), spec.device.c_str(), spec.pollMs,
            spec.listenPort);
  awaitingFirst = HasFeedback();
  silenceWarningAt = now + std::chrono::milliseconds(std::max(kMinSilenceMs, 3 * spec.pollMs));
}

void BridgedRotator::OnBearing(int value) {
  known = true;
  bearing = value;
  awaitingFirst = false;
}

void BridgedRotator::OnLinkLost() { awaitingFirst = false; }

bool BridgedRotator::Turn(int target) {
  return link.SendLine("ROTATE " + std::to_string(spec.id) + " " + std::to_string(target));
}

bool BridgedRotator::Halt() { return link.SendLine("STOP " + std::to_string(spec.id)); }

bool BridgedRotator::Position(int& value) const {
  if (!known) return false;
  value = bearing;
  return true;
}

bool BridgedRotator::HasFeedback() const { return BridgeOptions::ModelHasFeedback(spec.model); }

std::string BridgedRotator::Description() const {
  return std::string("ZEVA ") + BridgeOptions::ModelTitle(spec.model) + " rotator " +
         std::to_string(spec.id) + " on " + spec.device;
}

BridgedRotator::Clock::time_point BridgedRotator::NextDeadline() const {
  return awaitingFirst ? silenceWarningAt : Clock::time_point::max();
}

void BridgedRotator::OnTimer(Clock::time_point now) {
  if (!awaitingFirst || now < silenceWarningAt) return;
  awaitingFirst = false;
  BridgeLog("rotator %d: no position from %s since it was configured; check the device, "
            "the model and the daemon's log",
            spec.id, spec.device.c_str());
}
