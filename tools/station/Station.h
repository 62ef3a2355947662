// The whole station: the link to the daemon, one StationRotator and one
// rotctld port per configured rotator, and the poll loop that drives them
// all on one thread. When the link (re)connects, every rotator whose device
// is there is configured again; bearing lines from the daemon update the
// rotators. The loop looks at every device path four times a second: when
// one goes, comes back or names another device, the link starts over with
// an empty registry. Each rotator's waiting command goes to the daemon as
// soon as the daemon has carried out its previous one; a rotator whose
// device takes no bytes (the daemon took half a second or more for its
// command) gets its commands sent alone, after everyone else's and only
// now and then, so that the daemon, which carries out commands one after
// another, holds up the other rotators as little as it can. With --http, a
// WebFront serves the station page from threads of its own and brings its
// turns and stops to this loop. With --n1mm, an N1mmFront takes a contest
// logger's datagrams in this loop and sends it the headings. With the
// station's place (--locator, --position), a SkyFollower keeps rotators on
// the sun or the moon.
//
// main() creates one Station, calls Open() and then Run() on the main thread;
// RequestStop() may be called from a signal handler.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/StationOptions.h"
#include "core/StationRotator.h"
#include "core/DaemonLink.h"
#include "core/PollSet.h"
#include "core/SkyFollower.h"
#include "places/PlaceFinder.h"
#include "n1mm/N1mmFront.h"
#include "rotctld/RotctlListener.h"
#include "web/WebFront.h"

class Station {
 public:
  explicit Station(const StationOptions& options);
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // Opens every rotctld port and the web page's. On failure returns false with the reason.
  bool Open(std::string& error);
  // Connects to the daemon and serves until RequestStop(); then closes
  // everything. Returns the exit status (0).
  int Run();

  // Async-signal-safe: wakes the loop and makes Run() return.
  static void RequestStop();

 private:
  void OnConnected(bool quietly);
  void OnBearing(int id, int bearing);
  void OnLinkLost(bool failed);
  void OnBatchDone(uint64_t batch, std::chrono::steady_clock::duration took);
  void WatchDevices(std::chrono::steady_clock::time_point now);
  // Hands the rotators' waiting commands to the daemon, each in a batch of
  // its own; true when some went.
  bool SendCommands(std::chrono::steady_clock::time_point now);
  // The country file the places are looked up in: --country-file, or the
  // system's if there is one. False with the reason when a given one fails.
  bool LoadCountries(std::string& error);

  const StationOptions options;
  std::unique_ptr<DaemonLink> link;
  std::vector<std::unique_ptr<StationRotator>> rotators;
  // How each rotator's commands reach the daemon (rotators[i]: flows[i]).
  struct Flow {
    uint64_t batch = 0;     // its command's batch, not yet carried out (0: none)
    bool stalled = false;   // its last command took the daemon kStallMs or more
    std::chrono::steady_clock::time_point retryAt;  // stalled: when its next command may go
    std::chrono::milliseconds retryGap{0};          // and the pause after that one
  };
  std::vector<Flow> flows;
  std::vector<std::unique_ptr<RotctlListener>> listeners;
  PlaceFinder places;             // with the country file, once Open() loaded it
  std::unique_ptr<SkyFollower> follower;  // with the station's place
  std::unique_ptr<WebFront> web;  // the station page, with --http
  std::unique_ptr<N1mmFront> logger;  // contest loggers' datagrams, with --n1mm
  PollSet pollSet;
  std::set<int> strangers;  // rotator numbers not ours that bearings came for (logged once)
  std::chrono::steady_clock::time_point watchAt;  // when to look at the device paths next
};
