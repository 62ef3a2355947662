#include "StationState.h"

#include <cstdio>

#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::json;

std::string Text(const Json& object, const char* key) {
  auto found = object.find(key);
  return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

// A whole number that fits an int; false when missing, null or anything else.
bool Whole(const Json& object, const char* key, int& value) {
  auto found = object.find(key);
  if (found == object.end() || !found->is_number_integer()) return false;
  long long number = found->get<long long>();
  if (number < -1000000 || number > 1000000) return false;
  value = static_cast<int>(number);
  return true;
}

// The state word of the station's JSON as the page says it.
std::string Readable(const std::string& state) {
  if (state == "blind") return "no position reports";
  if (state == "unresponsive") return "not responding";
  if (state == "unknown") return "no position yet";
  return state;
}

std::string Bearing(int id, int bearing) {
  char line[32];
  snprintf(line, sizeof line, "%d %03d", id, bearing);
  return line;
}

}  // namespace

bool StationState::Parse(const std::string& text, StationState& state, std::string& error) {
  const Json json = Json::parse(text, nullptr, false);
  if (json.is_discarded() || !json.is_object() || !json.contains("rotators") || !json["rotators"].is_array()) {
    error = "the answer is not a station's state";
    return false;
  }
  state = StationState();
  state.version = Text(json, "version");
  state.daemon = json.contains("daemon") && json["daemon"].is_boolean() && json["daemon"].get<bool>();
  for (const Json& item : json["rotators"]) {
    Rotator rotator;
    if (!item.is_object() || !Whole(item, "id", rotator.id)) {
      error = "the station's state lists a rotator without a number";
      return false;
    }
    if (state.Find(rotator.id) != nullptr) {
      error = "the station's state lists rotator " + std::to_string(rotator.id) + " twice";
      return false;
    }
    rotator.model = Text(item, "model");
    rotator.device = Text(item, "device");
    rotator.state = Text(item, "state");
    rotator.name = Text(item, "name");
    rotator.follow = Text(item, "follow");
    Whole(item, "port", rotator.port);
    rotator.hasBearing = Whole(item, "bearing", rotator.bearing);
    rotator.hasTarget = Whole(item, "target", rotator.target);
    auto last = item.find("last");
    if (last != item.end() && last->is_object()) {
      rotator.source = Text(*last, "source");
      rotator.command = Text(*last, "command");
      auto at = last->find("at");
      if (at != last->end() && at->is_number()) rotator.atMs = at->get<long long>();
    }
    state.rotators.push_back(rotator);
  }
  return true;
}

const StationState::Rotator* StationState::Find(int id) const {
  for (const Rotator& rotator : rotators) {
    if (rotator.id == id) return &rotator;
  }
  return nullptr;
}

std::vector<std::string> StationState::Changes(const StationState* before, const StationState& after) {
  std::vector<std::string> lines;
  if (before == nullptr ? !after.daemon : before->daemon != after.daemon) {
    lines.push_back(after.daemon ? "station: the daemon is within reach again"
                                 : "station: the daemon is out of reach; the station keeps trying");
  }
  for (const Rotator& now : after.rotators) {
    const Rotator* was = before != nullptr ? before->Find(now.id) : nullptr;
    const std::string name = "rotator " + std::to_string(now.id);
    const bool offline = now.state == "offline";
    if (was == nullptr ? offline : offline != (was->state == "offline")) {
      // The whole station is offline when the daemon is: said once above.
      if (after.daemon) lines.push_back(name + (offline ? ": offline" : ": back online"));
    }
    if (was == nullptr) continue;
    const bool silent = now.state == "unresponsive";
    if (silent != (was->state == "unresponsive")) {
      lines.push_back(name + (silent ? ": not responding (no movement since its last turn)"
                                     : ": responding again"));
    }
    // A box that never reports (a DCU-1) has the bearing it was last sent:
    // not one the daemon pushed.
    if (now.hasBearing && now.state != "blind" && (!was->hasBearing || was->bearing != now.bearing)) {
      lines.push_back(Bearing(now.id, now.bearing));
    }
    // A tracker repeats its target every few seconds: only a new command or
    // a new sender is news.
    if (!now.source.empty() && (now.source != was->source || now.command != was->command)) {
      lines.push_back(name + ": " + now.command + " from " + now.source);
    }
  }
  return lines;
}

std::string StationState::Ago(long long ms) {
  const long long seconds = ms / 1000;
  if (seconds < 1) return "just now";
  if (seconds < 120) return std::to_string(seconds) + " s ago";
  if (seconds < 7200) return std::to_string(seconds / 60) + " min ago";
  if (seconds < 172800) return std::to_string(seconds / 3600) + " h ago";
  return std::to_string(seconds / 86400) + " days ago";
}

std::vector<std::string> StationState::Summary(long long nowMs) const {
  std::vector<std::string> lines;
  for (const Rotator& rotator : rotators) {
    char bearing[16] = "";
    const bool blind = rotator.state == "blind";
    if (rotator.hasBearing) snprintf(bearing, sizeof bearing, blind ? " (sent %03d)" : " at %03d", rotator.bearing);
    char target[24] = "";
    if (rotator.hasTarget) snprintf(target, sizeof target, ", target %03d", rotator.target);
    std::string line = "rotator " + std::to_string(rotator.id) +
                       (rotator.name.empty() ? "" : " \"" + rotator.name + "\"") + ": " + rotator.model +
                       " on " + rotator.device + " (rotctld port " + std::to_string(rotator.port) + "), " +
                       Readable(rotator.state) + bearing + target;
    if (!rotator.follow.empty()) line += ", following the " + rotator.follow;
    if (!rotator.source.empty()) {
      line += "; last: " + rotator.command + " from " + rotator.source + ", " + Ago(nowMs - rotator.atMs);
    }
    lines.push_back(line);
  }
  return lines;
}
