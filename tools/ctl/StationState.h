// A station's state as its JSON API gives it (GET /api/state and every
// event of /api/events), read with nlohmann/json, and the lines zeva-ctl
// prints about it: what changed from one state to the next (a bearing as
// the daemon pushes it, "ID BBB"; a rotator gone offline or back; who sent
// a rotator a new command) and one summary line per rotator.
//
// Plain values; any thread may use its own copies.
#pragma once

#include <string>
#include <vector>

struct StationState {
  struct Rotator {
    int id = 0;
    std::string model, device, state;  // state: offline, unknown, turning, still, blind, unresponsive
    std::string name;                  // its name (--name), if it has one
    std::string follow;                // "sun" or "moon" while it follows one
    int port = 0;                      // its rotctld port
    bool hasBearing = false;
    int bearing = 0;
    bool hasTarget = false;
    int target = 0;
    // The last turn or stop asked of it: by whom ("page 10.0.0.7",
    // "rotctld 127.0.0.1:40312", "zeva-ctl 127.0.0.1"), what ("turn to
    // 120", "stop") and when (milliseconds since 1970); source empty: none.
    std::string source, command;
    long long atMs = 0;
  };

  std::string version;
  bool daemon = false;  // the station reaches the daemon
  std::vector<Rotator> rotators;

  // False with the reason when `json` is not a station's state.
  static bool Parse(const std::string& json, StationState& state, std::string& error);

  const Rotator* Find(int id) const;

  // The lines that tell what changed since `before`. From no earlier state
  // (nullptr) only trouble is news: an unreachable daemon, offline rotators.
  static std::vector<std::string> Changes(const StationState* before, const StationState& after);

  // "rotator 1: Yaesu GS-232 on /dev/ttyUSB0 (rotctld port 4533), still at
  // 120; last: turn to 120 from page 10.0.0.7, 12 s ago", one per rotator; `nowMs` is the
  // wall clock's time for the age.
  std::vector<std::string> Summary(long long nowMs) const;
  static std::string Ago(long long ms);
};
