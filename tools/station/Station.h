// The whole station: the link to the daemon, one StationRotator and one
// rotctld port per configured rotator, and the poll loop that drives them
// all on one thread. When the link (re)connects, every rotator whose device
// is there is configured again; bearing lines from the daemon update the
// rotators. The loop looks at every device path four times a second: when
// one goes, comes back or names another device, the link starts over with
// an empty registry. Whenever the daemon has carried out the last batch,
// the rotators' waiting commands go out as the next one. With --http, a
// WebFront serves the station page from threads of its own and brings its
// turns and stops to this loop. With --n1mm, an N1mmFront takes a contest
// logger's datagrams in this loop and sends it the headings.
//
// main() creates one Station, calls Open() and then Run() on the main thread;
// RequestStop() may be called from a signal handler.
#pragma once

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/StationOptions.h"
#include "core/StationRotator.h"
#include "core/DaemonLink.h"
#include "core/PollSet.h"
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
  void WatchDevices(std::chrono::steady_clock::time_point now);
  // Hands the rotators' waiting commands to the daemon if it is free; true
  // when some went.
  bool SendCommands();

  const StationOptions options;
  std::unique_ptr<DaemonLink> link;
  std::vector<std::unique_ptr<StationRotator>> rotators;
  std::vector<std::unique_ptr<RotctlListener>> listeners;
  std::unique_ptr<WebFront> web;  // the station page, with --http
  std::unique_ptr<N1mmFront> logger;  // contest loggers' datagrams, with --n1mm
  PollSet pollSet;
  std::set<int> strangers;  // rotator numbers not ours that bearings came for (logged once)
  std::chrono::steady_clock::time_point watchAt;  // when to look at the device paths next
};
