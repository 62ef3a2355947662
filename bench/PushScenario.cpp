#include "bench/Scenarios.h"

#include <atomic>
#include <climits>
#include <cstdio>
#include <mutex>
#include <unistd.h>

#include "bench/Clock.h"
#include "bench/Load.h"
#include "bench/ScenarioKit.h"

namespace bench {

PushResult MeasurePush(const Plan& plan, int rotators, double windowSeconds,
                       PushPath path) {
  PushResult result;
  result.path = path;
  const bool floor = path == PushPath::kFloor;
  const bool unpolled = path == PushPath::kZevaUnpolled;
  result.rotators = rotators;
  Boxes boxes;
  if (!MakeBoxes(rotators, &boxes, &result.error)) return result;
  for (auto& box : boxes) box->SetTurning(true);
  BoxLoop loop(Pointers(boxes));

  std::mutex mutex;  // guards latency and trace
  std::vector<double> latency;
  std::vector<PushResult::Sample> trace;
  std::atomic<int64_t> from{LLONG_MAX};
  std::atomic<int64_t> to{LLONG_MAX};
  Child daemon;
  LineClient client;
  if (floor) {
    int port = 0;
    const int listener = ListenOnLoopback(&port);
    std::vector<std::string> argv = {plan.paths.bench, "--relay",
                                     std::to_string(port), "100"};
    for (auto& box : boxes) argv.push_back(box->Path());
    const int peer = listener >= 0 && daemon.Start(argv, plan.paths.logDir +
                                                             "/relay.log")
                         ? AcceptWithin(listener, 5000)
                         : -1;
    if (listener >= 0) close(listener);
    if (peer < 0) {
      result.error = "the relay did not start";
      return result;
    }
    client.Adopt(peer);
  } else if (!StartZeva(plan.paths, daemon, client)) {
    result.error = "the daemon did not start";
    return result;
  }
  client.StartReader('\r', [&](const std::string& line, int64_t at) {
    int id = 0;
    int bearing = 0;
    if (std::sscanf(line.c_str(), "%d %d", &id, &bearing) != 2 || id < 1 ||
        id > rotators)
      return;
    const int64_t reply = boxes[static_cast<size_t>(id - 1)]->ReplyNs(bearing);
    if (reply < from.load() || reply >= to.load()) return;
    std::lock_guard<std::mutex> lock(mutex);
    latency.push_back(NsToMs(at - reply));
    trace.push_back({NsToMs(reply - from.load()), latency.back(), id});
  });
  if (unpolled) {
    // Spread like the daemon's polls: a quarter of a millisecond apart.
    const int64_t first = NowNs() + 100 * kMs;
    for (size_t i = 0; i < boxes.size(); ++i)
      boxes[i]->SpeakEvery(first + static_cast<int64_t>(i) * kMs / 4,
                           100 * kMs);
  }
  if (!floor) client.Send(ConfigureLines(Pointers(boxes), 1, unpolled ? 0 : 100));
  if (!loop.ActivateWhenRaw(Indexes(0, boxes.size()), 10000)) {
    result.error = "the devices were not all opened";
    return result;
  }
  const int64_t start = NowNs() + 1500 * kMs;  // first polls, first pushes
  const int64_t end = start + static_cast<int64_t>(windowSeconds * 1e9);
  from.store(start);
  to.store(end);
  for (auto& box : boxes) box->CountRepliesBetween(start, end);
  SleepUntil(start);
  const MachineLoad load;
  const double cpu = daemon.CpuSeconds();
  long voluntary[2] = {0, 0};
  long involuntary[2] = {0, 0};
  daemon.ContextSwitches(&voluntary[0], &involuntary[0]);
  SleepUntil(end);
  const double used = daemon.CpuSeconds() - cpu;
  daemon.ContextSwitches(&voluntary[1], &involuntary[1]);
  result.switchesPerSecond =
      static_cast<double>(voluntary[1] - voluntary[0] + involuntary[1] -
                          involuntary[0]) /
      windowSeconds;
  result.preemptionsPerSecond =
      static_cast<double>(involuntary[1] - involuntary[0]) / windowSeconds;
  result.daemonCores = used / windowSeconds;
  result.otherCores = load.OtherCores(used);
  SleepMs(300);  // lines for the last replies
  for (auto& box : boxes) result.replies += box->RepliesBetween();
  client.Close();
  daemon.Stop();
  std::lock_guard<std::mutex> lock(mutex);
  result.latency = latency;
  result.trace = trace;
  result.pushes = static_cast<long>(latency.size());
  return result;
}

}  // namespace bench
