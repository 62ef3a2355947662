// The measurements. Each starts what it needs (boxes, the daemon, rotctld),
// measures, stops it again by process id and returns plain numbers; times
// are in milliseconds.
#pragma once

#include <string>
#include <vector>

#include "bench/Programs.h"

namespace bench {

struct Plan {
  Paths paths;
  double scale = 1.0;  // multiplies every window and repetition count
  int Scaled(int count) const;
  double ScaledSeconds(double seconds) const;
};

// Push latency: a box reply's last byte written to the client receiving the
// direction line, with `rotators` rotators polled every 100 ms by turning
// antennas (every reply is a new bearing, so every reply is pushed).
enum class PushPath {
  kZeva,           // the daemon polls, the boxes answer
  kZevaUnpolled,   // the daemon does not poll (period 0); the boxes send
                   // the same lines unasked every 100 ms
  kFloor,          // the minimal relay of Relay.h polls
};
struct PushResult {
  PushPath path = PushPath::kZeva;
  int rotators = 0;
  std::vector<double> latency;
  struct Sample {
    double replyMs;  // when the reply was written, from the window's start
    double latencyMs;
    int rotator;
  };
  std::vector<Sample> trace;  // every sample, in the order received
  long replies = 0;  // replies written during the window
  long pushes = 0;   // direction lines received for them
  double daemonCores = 0;  // the daemon's CPU during the window
  double switchesPerSecond = 0;     // its threads' context switches
  double preemptionsPerSecond = 0;  // of which involuntary
  double otherCores = -1;  // everything but the daemon and the benchmark
  int run = 1;  // which of the interleaved runs (set by the caller)
  std::string error;
};
PushResult MeasurePush(const Plan& plan, int rotators, double windowSeconds,
                       PushPath path);

// Command latency beside its floor: the client's write of `ROTATE 1 nnn` to
// the first byte of `Mnnn` at the box, through the daemon (its rotator not
// polled) and through the command relay of Relay.h, taking turns.
struct CommandResult {
  std::vector<double> zeva;
  std::vector<double> floor;
  int failures = 0;
  int run = 1;  // which of the interleaved runs (set by the caller)
  std::string error;
};
CommandResult MeasureCommand(const Plan& plan, int rounds);

// Release: the client disconnects, until every device is closed with its
// settings restored. The rotators poll every 1000 ms.
struct ReleaseResult {
  int rotators = 0;
  std::vector<double> time;
  int restored = 0;  // repetitions in which every device was restored
  std::string error;
};
ReleaseResult MeasureRelease(const Plan& plan, int rotators, int repetitions);

// Stop: SIGTERM to the daemon's exit, with `rotators` configured and a
// client connected.
struct StopResult {
  int rotators = 0;
  std::vector<double> time;
  int clean = 0;  // exit status 0 and every device restored
  std::string error;
};
StopResult MeasureStop(const Plan& plan, int rotators, int repetitions);

// Footprint with still antennas polled every second and a client connected;
// with no rotator, the idle daemon: no client either.
struct Footprint {
  int rotators = 0;
  bool client = false;
  double wakeupsPerSecond = 0;  // context switches of all its threads
  double cpuSecondsPerHour = 0;
  long residentKb = 0;
  long peakKb = 0;
  long threads = 0;
  double windowSeconds = 0;
  double otherCores = -1;  // everything but the daemon and the benchmark
  std::string error;
};
Footprint MeasureFootprint(const Plan& plan, int rotators, double windowSeconds);

// Bearing age as a client sees it: at every moment the client knows the
// bearing of some box reply; its age is the time since that reply.
struct Age {
  double averageMs = 0;           // averaged over time
  std::vector<double> delivery;   // each reply to the client knowing it
};

// The side-by-side run: ZEVA and two rotctld (its default 50 ms wait after
// each write, and that wait set to 0), each with its own box.
struct Contender {
  std::string name;
  std::vector<double> command;  // client write to first byte at the box
  std::vector<double> cycle;    // connect ... disconnect
  Age ageAt1s;                  // one position query a second
  double cpuSecondsPerHour = 0;  // during the 1 s polling window
  long residentKb = 0;
  long threads = 0;
  int failures = 0;
};
struct FasterPoll {
  int pollMs = 0;
  Age age;
};
struct SideBySide {
  Contender zeva, rotctldNoWait, rotctldDefault;
  std::vector<FasterPoll> faster;  // ZEVA at shorter poll periods
  double windowSeconds = 0;
  double otherCores = -1;  // during the 1 s window
  std::string error;
};
SideBySide MeasureSideBySide(const Plan& plan);

// A contest logger's turn through the station: from the logger's datagram
// (N1MM Logger+'s <N1MMRotor> sent to the station's UDP port) to the first
// byte of `Mnnn` at the box, beside the same turn asked on the station's
// rotctld port (`P nnn 0`), taking turns command by command on one rotator
// that is not polled.
struct LoggerResult {
  std::vector<double> logger;
  std::vector<double> rotctld;
  int failures = 0;
  std::string error;
};
LoggerResult MeasureLogger(const Plan& plan, int rounds);

}  // namespace bench
