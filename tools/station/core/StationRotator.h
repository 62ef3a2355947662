// One rotator as every front sees it (rotctld ports, the page, contest
// loggers, the sky follower): its configuration, whether its device is
// there, the bearing it is known to have, who asked for its last command,
// and the one command (turn or stop) waiting to go to the daemon. The
// bearings it keeps are in the rotator's range (see the offset below); its
// BoxScale turns them into the box's own numbers on the way to the daemon
// and back.
//
// Commands are coalesced: a new one replaces the one still waiting, so at
// most one per rotator is ever pending, whatever the clients send. Each
// command gets a ticket; it is done once a command with that ticket or a
// later one has been handed to the daemon.
//
// The daemon reports a bearing only when it changes, so a box that falls
// silent cannot be told from one standing still, except by a turn: a box
// sent more than a few degrees away that reports no change for a few
// polling periods is "not responding" until a bearing arrives.
//
// Owned by Station; called on the station's one thread only (by Station when
// the daemon link connects, drops or delivers a bearing, when the device
// path changes or a batch of commands goes out; by the fronts: the
// RotctlSessions of this rotator's port, WebFront and N1mmFront; and by the
// SkyFollower). The DaemonLink must outlive it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "core/BoxScale.h"
#include "core/StationOptions.h"
#include "core/DaemonLink.h"

class StationRotator {
 public:
  using Clock = std::chrono::steady_clock;

  StationRotator(const RotatorSetup& setup, DaemonLink& link);
  StationRotator(const StationRotator&) = delete;
  StationRotator& operator=(const StationRotator&) = delete;

  const RotatorSetup& Setup() const { return setup; }

  // Looks at the device path (following symbolic links). True when it has
  // gone, come back or now names another device; logs the change.
  bool WatchDevice();
  bool DevicePresent() const { return present; }
  // Whether commands can reach the box: the device is there and the daemon
  // within reach.
  bool Available() const { return present && link.Up(); }

  // The CONFIGURE line; Configured() once it has been sent (logged unless
  // `quietly`).
  std::string ConfigureLine() const;
  void Configured(Clock::time_point now, bool quietly);
  // A bearing line from the daemon: the box's own number.
  void OnBearing(int number);
  // The daemon connection is gone; after a failure waiting commands are
  // dropped (their clients have been told).
  void OnLinkLost(bool failed);

  // The whole-degree bearing within the rotator's range that a client's
  // target azimuth means; false when no whole number of turns brings it
  // into the range. A target in the range is taken as it is (less than a
  // degree outside counts as at the end: 359.7 on 0..359 is 359; 360 stays
  // 360 on 0..360), except one in 0..360 that a range over a turn wide also
  // holds a turn away (30 and 390 on 0..450): of those the one nearest the
  // current bearing. A target outside is moved by whole turns into the
  // range, the nearest to the current bearing where several fit.
  // Azimuths and bearings here and below are true ones (see the offset).
  bool Bearing(double azimuth, int& bearing) const;
  // How many degrees the box turns from where it is to `bearing` (from
  // Bearing()); -1 while where it is is unknown.
  int Travel(int bearing) const;
  // Queues a turn to a bearing from Bearing() or a stop; returns the ticket,
  // or 0 when the turn needs no command: it is the last one sent, with no
  // stop or configuration since, and the antenna is within a degree of it
  // or reporting movement towards it (trackers repeat their target every
  // few seconds; after a hand turn or a command the box missed, the repeat
  // goes out again). `source` names who asked ("rotctld 127.0.0.1:40312",
  // "page 192.168.1.20", "zeva-ctl 127.0.0.1"): it becomes LastCommand(),
  // and a line is logged when it differs from the last command's.
  uint64_t Turn(int bearing, const std::string& source);
  uint64_t Halt(const std::string& source);
  bool Done(uint64_t ticket) const { return handed >= ticket; }
  // The waiting command as a daemon line, which then counts as handed over,
  // unless NotSent() follows (the link failed sending it).
  bool TakeCommand(std::string& line);
  void NotSent();

  // The bearing the daemon reported since the rotator was configured; for
  // a DCU-1, which never reports, the last bearing it was sent.
  bool Position(int& bearing) const;
  // A turn went out and the box has reported no change since (see above).
  bool Unresponsive() const { return unresponsive; }
  // When the reported bearing last changed (time_point() if never).
  Clock::time_point MovedAt() const { return movedAt; }
  // The bearing the rotator was last told to turn to (waiting or sent), if
  // no stop came since.
  bool Target(int& bearing) const;
  // The last turn or stop asked of the rotator (a repeated target too), by
  // whom and when; `at` is the wall clock's, for pages on other hosts.
  struct Request {
    std::string source;  // empty: none yet
    std::string what;    // "turn to 123", "stop"
    std::chrono::system_clock::time_point at;
  };
  const Request& LastCommand() const { return last; }
  // Whether the box reports positions at all (a DCU-1 does not).
  bool HasFeedback() const;
  // "ZEVA Yaesu GS-232 rotator 1 on /dev/ttyUSB0"
  std::string Description() const;

  // Warns once when a configured rotator that should report its position
  // has not done so after a while (a wrong device or model); finds a box
  // not responding to a turn.
  Clock::time_point NextDeadline() const;
  void OnTimer(Clock::time_point now);

 private:
  enum class Command { None, Turn, Stop };

  void Forget();
  void Asked(const std::string& source, const std::string& what);
  // The antenna is within a degree of the last turn's target, or its last
  // reported move, a recent one, brought it nearer.
  bool OnItsWay(Clock::time_point now) const;
  // How long the box may take between reports while it turns, and to show
  // that it moved after a turn.
  Clock::duration ReportPeriod() const;
  Clock::duration ResponseWait() const;
  // Bearing() in the box's own bearings.
  bool RangeBearing(double azimuth, int& bearing) const;

  // --- Calibration: true bearings outside, the box's inside -------------
  // The box reads 0 where the antenna points at setup.offset degrees true.
  // Every bearing this class takes or gives is true; the range and the
  // members below are the box's (and `scale` turns those into the numbers
  // the daemon sends and reads). Without an offset the two are one.
  //
  // A box bearing as a true one: plus the offset, moved by whole turns into
  // the range when it falls outside it (a 0..360 box whose 0 is at 10 true
  // reads 355 as 5).
  int TrueBearing(int box) const;
  // A true bearing (from Bearing()) as the box's: of the box bearings it can
  // be, the one RangeBearing() picks.
  int BoxBearing(int bearing) const;

  const RotatorSetup setup;
  const BoxScale scale;
  DaemonLink& link;

  bool present = false;     // the device path names a device
  dev_t device = 0;         // which one (st_dev, st_ino, st_rdev of the target)
  ino_t inode = 0;
  dev_t special = 0;

  bool known = false;       // `bearing` holds the position
  int bearing = 0;
  int boxBearing = 0;       // the same as the box reported it

  Command pending = Command::None;
  int pendingBearing = 0;
  uint64_t issued = 0;      // the last ticket given out
  uint64_t handed = 0;      // every ticket up to this one is done
  uint64_t handedBefore = 0;  // `handed` before the last TakeCommand
  bool sentValid = false;   // `sentBearing` was the last turn sent, no stop since
  int sentBearing = 0;
  int sentBox = 0;          // the same as the box was sent it
  BoxScale::Context turn;   // the last turn sent: from where, to where
  bool approaching = false; // the last reported move brought the antenna nearer to it
  bool expecting = false;   // a turn far from the antenna went out at `expectedSince`
  Clock::time_point expectedSince;
  bool unresponsive = false;

  Clock::time_point movedAt;  // when `bearing` last changed
  Request last;               // the last command asked of the rotator

  bool awaitingFirst = false;  // configured, no bearing since
  Clock::time_point silenceWarningAt;
};
