// What else kept the machine busy during a measurement: the CPU time of the
// whole machine (from /proc/stat, Linux) less that of the benchmark itself
// and of the programs it measures. On a shared machine this explains tails
// that the program under test did not cause.
#pragma once

#include <cstdint>

namespace bench {

class MachineLoad {
 public:
  MachineLoad();  // starts the window
  // Cores' worth of CPU used by everything else since the window started,
  // given the CPU seconds the measured programs used in the same window
  // (the benchmark's own time is subtracted here). -1 if unknown.
  double OtherCores(double measuredSeconds) const;

 private:
  static bool ReadBusy(double* busySeconds);
  double machineBusy = -1;  // seconds, all cores
  double ownCpu = 0;        // this process's CPU seconds
  int64_t startNs = 0;
};

// This process's CPU time (all threads), in seconds.
double OwnCpuSeconds();

}  // namespace bench
