#include "bench/Scenarios.h"

#include "bench/Clock.h"
#include "bench/Load.h"
#include "bench/ScenarioKit.h"

namespace bench {

Footprint MeasureFootprint(const Plan& plan, int rotators,
                           double windowSeconds) {
  Footprint result;
  result.rotators = rotators;
  result.client = rotators > 0;
  Boxes boxes;
  if (!MakeBoxes(rotators, &boxes, &result.error)) return result;
  BoxLoop loop(Pointers(boxes));
  Child daemon;
  LineClient client;
  if (!StartZeva(plan.paths, daemon, client)) {
    result.error = "the daemon did not start";
    return result;
  }
  if (rotators > 0) {
    client.StartReader('\r', [](const std::string&, int64_t) {});
    client.Send(ConfigureLines(Pointers(boxes), 1, 1000));
    if (!loop.ActivateWhenRaw(Indexes(0, boxes.size()), 10000)) {
      result.error = "the daemon did not open every device";
      return result;
    }
  } else {
    client.Close();  // idle: no client, no rotator
  }
  SleepMs(2000);  // past start-up, the first polls or the client's loss
  const MachineLoad load;
  const double cpuBefore = daemon.CpuSeconds();
  long voluntary[2] = {0, 0};
  long involuntary[2] = {0, 0};
  daemon.ContextSwitches(&voluntary[0], &involuntary[0]);
  const int64_t start = NowNs();
  SleepMs(windowSeconds * 1000);
  const double cpuAfter = daemon.CpuSeconds();
  daemon.ContextSwitches(&voluntary[1], &involuntary[1]);
  const int64_t end = NowNs();
  result.windowSeconds = NsToMs(end - start) / 1000;
  result.cpuSecondsPerHour =
      (cpuAfter - cpuBefore) / result.windowSeconds * 3600;
  result.wakeupsPerSecond =
      static_cast<double>(voluntary[1] - voluntary[0] + involuntary[1] -
                          involuntary[0]) /
      result.windowSeconds;
  result.otherCores = load.OtherCores(cpuAfter - cpuBefore);
  result.residentKb = daemon.ResidentKb();
  result.peakKb = daemon.PeakResidentKb();
  result.threads = daemon.Threads();
  client.Close();
  daemon.Stop();
  return result;
}

}  // namespace bench
