// The emulator's main loop: waits on the pseudo-terminal's master side with
// a short tick, feeds received bytes to the box model, moves the antenna,
// and writes the replies out, injecting the faults chosen on the command
// line (garbage bytes, silence, byte-by-byte or slow output, vanishing),
// unplugs or plugs the box back in on request (SIGUSR1), keeping --link
// pointed at the current device, and switches the controller off or back on
// (SIGUSR2) behind a line that stays.
#pragma once

#include <csignal>
#include <random>
#include <string>
#include <vector>

#include "BoxOptions.h"

class Antenna;
class BoxModel;
class PtyDevice;

class BoxSimulator {
 public:
  BoxSimulator(const BoxOptions& options, int baudRate, PtyDevice& pty, BoxModel& model,
               Antenna& antenna);

  // Runs until a stop signal or --vanish-after; returns the exit status.
  int Run();

  // Async-signal-safe: asks Run() to return within one tick.
  static void RequestStop() { stopRequested = 1; }
  // Async-signal-safe: asks Run() to unplug the box, or to plug it back in.
  static void RequestReplug() { replugRequested = 1; }
  // Async-signal-safe: asks Run() to switch the controller off, or back on.
  static void RequestPowerSwitch() { powerSwitchRequested = 1; }

  // Points the symbolic link `link` at `target`, replacing it atomically.
  static bool PublishLink(const std::string& link, const std::string& target, std::string& error);

 private:
  static constexpr int kTickMs = 20;
  static constexpr size_t kMaxPending = 64 * 1024;

  void Replug();
  void SwitchPower();
  void ReadInput();
  void Queue(const std::vector<std::string>& replies);
  void WriteOutput(double now);
  static double Now();

  static volatile sig_atomic_t stopRequested;
  static volatile sig_atomic_t replugRequested;
  static volatile sig_atomic_t powerSwitchRequested;

  const BoxOptions& options;
  const int baudRate;
  PtyDevice& pty;
  BoxModel& model;
  Antenna& antenna;
  std::mt19937 random;
  std::string pending;     // reply bytes not yet written
  double nextByteAt = 0;   // --slow: when the next byte may go
  bool poweredOff = false; // SIGUSR2: the controller is off, its line still there
};
