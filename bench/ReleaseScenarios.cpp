#include "bench/Scenarios.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include "bench/Clock.h"
#include "bench/Load.h"
#include "bench/ScenarioKit.h"

namespace bench {

namespace {

// Waits until every box's slave has hung up; returns when the last one was
// seen, or 0 after timeoutMs. The boxes must be open when it is called.
// The daemon closes the last configured rotator first, so the first box is
// expected to go last: only it is waited on (one wake-up instead of one per
// box, which on two cores would compete with the daemon), and the others are
// then checked without waiting.
int64_t WaitAllHungUp(const std::vector<Box*>& boxes, int timeoutMs) {
  const int64_t deadline = NowNs() + timeoutMs * kMs;
  std::vector<Box*> open = boxes;
  while (!open.empty()) {
    const int64_t left = (deadline - NowNs()) / kMs;
    if (left < 0) return 0;
    struct pollfd wait = {open.front()->MasterFd(), POLLIN, 0};
    if (poll(&wait, 1, static_cast<int>(left) + 1) <= 0) continue;
    const int64_t now = NowNs();
    if (!DrainMaster(wait.fd, nullptr)) continue;
    std::vector<Box*> still;
    for (size_t i = 1; i < open.size(); ++i)
      if (!DrainMaster(open[i]->MasterFd(), nullptr)) still.push_back(open[i]);
    if (still.empty()) return now;
    open.swap(still);
  }
  return 0;
}

}  // namespace

ReleaseResult MeasureRelease(const Plan& plan, int rotators, int repetitions) {
  ReleaseResult result;
  result.rotators = rotators;
  Boxes boxes;
  if (!MakeBoxes(rotators, &boxes, &result.error)) return result;
  const std::vector<Box*> devices = Pointers(boxes);
  Child daemon;
  LineClient client;
  if (!StartZeva(plan.paths, daemon, client)) {
    result.error = "the daemon did not start";
    return result;
  }
  for (int rep = 0; rep < repetitions; ++rep) {
    if (!client.Connected() && !client.Connect(13020, 5000)) {
      result.error = "cannot connect to the daemon";
      break;
    }
    client.Send(ConfigureLines(devices, 1, 1000));
    if (!WaitRaw(devices, 10000)) {
      result.error = "the daemon did not open every device";
      break;
    }
    SleepMs(150);
    const int64_t start = NowNs();
    client.Close();
    const int64_t last = WaitAllHungUp(devices, 5000);
    if (last == 0) {
      result.error = "a device was not closed within 5 s";
      break;
    }
    result.time.push_back(NsToMs(last - start));
    bool restored = true;
    for (Box* box : devices) restored = restored && box->SettingsRestored();
    if (restored) ++result.restored;
    SleepMs(20);
  }
  daemon.Stop();
  return result;
}

StopResult MeasureStop(const Plan& plan, int rotators, int repetitions) {
  StopResult result;
  result.rotators = rotators;
  Boxes boxes;
  if (!MakeBoxes(rotators, &boxes, &result.error)) return result;
  const std::vector<Box*> devices = Pointers(boxes);
  for (int rep = 0; rep < repetitions; ++rep) {
    Child daemon;
    LineClient client;
    if (!StartZeva(plan.paths, daemon, client)) {
      result.error = "the daemon did not start";
      break;
    }
    if (rotators > 0) {
      client.Send(ConfigureLines(devices, 1, 1000));
      if (!WaitRaw(devices, 10000)) {
        result.error = "the daemon did not open every device";
        break;
      }
    }
    SleepMs(150);
    int status = 0;
    int64_t exitAt = 0;
    const int64_t start = NowNs();
    daemon.Signal(SIGTERM);
    if (!daemon.Wait(5000, &status, &exitAt)) {
      result.error = "the daemon did not stop within 5 s of SIGTERM";
      break;
    }
    result.time.push_back(NsToMs(exitAt - start));
    client.Close();
    bool clean = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    for (Box* box : devices) clean = clean && box->SettingsRestored();
    if (clean) ++result.clean;
  }
  return result;
}
}  // namespace bench
