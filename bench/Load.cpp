#include "bench/Load.h"

#include <time.h>
#include <unistd.h>

#include <cstdio>

#include "bench/Clock.h"

namespace bench {

double OwnCpuSeconds() {
  struct timespec used;
  if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used) != 0) return 0;
  return static_cast<double>(used.tv_sec) +
         static_cast<double>(used.tv_nsec) / 1e9;
}

bool MachineLoad::ReadBusy(double* busySeconds) {
  FILE* file = std::fopen("/proc/stat", "r");
  if (!file) return false;
  unsigned long long user = 0, nice = 0, system = 0, idle = 0, iowait = 0,
                     irq = 0, softirq = 0, steal = 0;
  const int fields =
      std::fscanf(file, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &user,
                  &nice, &system, &idle, &iowait, &irq, &softirq, &steal);
  std::fclose(file);
  if (fields < 7) return false;
  const long ticks = sysconf(_SC_CLK_TCK);
  *busySeconds = static_cast<double>(user + nice + system + irq + softirq +
                                     steal) /
                 static_cast<double>(ticks > 0 ? ticks : 100);
  return true;
}

MachineLoad::MachineLoad() {
  if (!ReadBusy(&machineBusy)) machineBusy = -1;
  ownCpu = OwnCpuSeconds();
  startNs = NowNs();
}

double MachineLoad::OtherCores(double measuredSeconds) const {
  double busy = 0;
  if (machineBusy < 0 || !ReadBusy(&busy)) return -1;
  const double seconds = NsToMs(NowNs() - startNs) / 1000;
  if (seconds <= 0) return -1;
  const double others = (busy - machineBusy) - (OwnCpuSeconds() - ownCpu) -
                        measuredSeconds;
  return others > 0 ? others / seconds : 0;
}

}  // namespace bench
