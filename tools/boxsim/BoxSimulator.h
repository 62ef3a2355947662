// The emulator's main loop: waits on the pseudo-terminal's master side with
// a short tick, feeds received bytes to the box model, moves the antenna,
// and writes the replies out, injecting the faults chosen on the command
// line (garbage bytes, silence, byte-by-byte or slow output, vanishing).
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
  BoxSimulator(const BoxOptions& options, PtyDevice& pty, BoxModel& model, Antenna& antenna);

  // Runs until a stop signal or --vanish-after; returns the exit status.
  int Run();

  // Async-signal-safe: asks Run() to return within one tick.
  static void RequestStop() { stopRequested = 1; }

 private:
  static constexpr int kTickMs = 20;
  static constexpr size_t kMaxPending = 64 * 1024;

  void ReadInput();
  void Queue(const std::vector<std::string>& replies);
  void WriteOutput(double now);
  static double Now();

  static volatile sig_atomic_t stopRequested;

  const BoxOptions& options;
  PtyDevice& pty;
  BoxModel& model;
  Antenna& antenna;
  std::mt19937 random;
  std::string pending;     // reply bytes not yet written
  double nextByteAt = 0;   // --slow: when the next byte may go
};
