#include "bench/Scenarios.h"

#include <poll.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "bench/Clock.h"
#include "bench/Load.h"
#include "bench/ScenarioKit.h"

namespace bench {

namespace {

// What a client knew and since when: it learnt, at atNs, a bearing that the
// box sent at replyNs.
struct Known {
  int64_t atNs;
  int64_t replyNs;
};

// The age of the known bearing, t - replyNs of the latest bearing learnt
// before t, averaged over time from the first to the last bearing learnt.
Age AgeOf(std::vector<Known> known) {
  Age age;
  known.erase(std::remove_if(known.begin(), known.end(),
                             [](const Known& k) { return k.replyNs <= 0; }),
              known.end());
  std::sort(known.begin(), known.end(),
            [](const Known& a, const Known& b) { return a.atNs < b.atNs; });
  for (const Known& k : known) age.delivery.push_back(NsToMs(k.atNs - k.replyNs));
  if (known.size() < 2) return age;
  double area = 0;  // ns * ns
  for (size_t i = 0; i + 1 < known.size(); ++i) {
    const double from = static_cast<double>(known[i].atNs - known[i].replyNs);
    const double to = static_cast<double>(known[i + 1].atNs - known[i].replyNs);
    area += (from + to) / 2 * static_cast<double>(known[i + 1].atNs - known[i].atNs);
  }
  const double span = static_cast<double>(known.back().atNs - known.front().atNs);
  age.averageMs = area / span / 1e6;
  return age;
}


// One ZEVA session at its smallest: connect, configure a rotator, turn it,
// disconnect (without waiting for anything: the daemon answers nothing),
// until the daemon has closed the device again. The box is watched
// directly, not through a loop.
bool ZevaCycle(Box& box, int bearing, double* ms) {
  LineClient client;
  const int64_t start = NowNs();
  if (!client.Connect(13020, 2000)) return false;
  client.Send("CONFIGURE 9 " + box.Path() + " 4 1000\rROTATE 9 " +
              std::to_string(bearing) + "\r");
  client.Close();
  std::string seen;
  const int64_t deadline = start + 5 * kSecond;
  while (NowNs() < deadline) {
    struct pollfd wait = {box.MasterFd(), POLLIN, 0};
    poll(&wait, 1, 100);
    const int64_t now = NowNs();
    const bool hungUp = DrainMaster(box.MasterFd(), &seen);
    const bool turned = seen.find('M') != std::string::npos;
    if (hungUp && turned) {
      *ms = NsToMs(now - start);
      return box.SettingsRestored();
    }
    if (hungUp) SleepMs(0.05);  // not opened yet: the master reports a hang-up
  }
  return false;
}

// Sends a set-position command to rotctld and waits for the box to see it
// and for rotctld's answer. Gives the time to the first byte at the box.
bool RotctldTurn(BoxLoop& loop, Box& box, LineClient& client, int bearing,
                 double* ms) {
  const int before = box.SetCommands();
  const int64_t start = NowNs();
  client.Send("P " + std::to_string(bearing) + " 0\n");
  const bool arrived =
      loop.WaitFor([&] { return box.SetCommands() > before; }, 3000);
  if (arrived) *ms = NsToMs(box.LastSetNs() - start);
  std::string line;
  while (client.ReadLine('\n', 3000, &line, nullptr)) {
    if (line.compare(0, 4, "RPRT") == 0) return arrived && line == "RPRT 0";
  }
  return false;
}

// A rotctld session at its smallest: connect, turn (rotctld answers every
// command; the client reads the answer), disconnect. rotctld keeps its
// device open for its whole life, so there is nothing to wait for after.
bool RotctldCycle(BoxLoop& loop, Box& box, int port, int bearing, double* ms) {
  const int64_t start = NowNs();
  LineClient client;
  if (!client.Connect(port, 2000)) return false;
  double unused = 0;
  const bool ok = RotctldTurn(loop, box, client, bearing, &unused);
  client.Close();
  *ms = NsToMs(NowNs() - start);
  return ok;
}

// Asks rotctld for the position once a second from `start` until `end`,
// noting when each answer's azimuth line arrived.
void PollRotctld(LineClient& client, Box& box, int64_t start, int64_t end,
                 std::vector<Known>* known, int* failures) {
  for (int64_t next = start; next < end; next += kSecond) {
    SleepUntil(next);
    client.Send("p\n");
    std::string azimuth;
    std::string elevation;
    int64_t at = 0;
    if (!client.ReadLine('\n', 2000, &azimuth, &at) ||
        !client.ReadLine('\n', 2000, &elevation, nullptr)) {
      ++*failures;
      continue;
    }
    const int bearing = static_cast<int>(std::lround(std::atof(azimuth.c_str())));
    known->push_back({at, box.ReplyNs(bearing)});
  }
}

}  // namespace

SideBySide MeasureSideBySide(const Plan& plan) {
  SideBySide result;
  result.zeva.name = "ZEVA";
  result.rotctldNoWait.name = "rotctld, post_write_delay=0";
  result.rotctldDefault.name = "rotctld, default settings";
  const std::vector<int> fasterPeriods = {500, 250, 100};

  // Boxes: 0 ZEVA's rotator 1, 1 rotctld without the wait, 2 rotctld with
  // its defaults, 3.. ZEVA's faster rotators; the cycle box is watched
  // directly and is not served.
  Boxes boxes;
  if (!MakeBoxes(3 + static_cast<int>(fasterPeriods.size()), &boxes,
                 &result.error))
    return result;
  Box cycleBox;
  if (!cycleBox.Ok()) {
    result.error = "cannot open a pseudo-terminal";
    return result;
  }
  Box& zevaBox = *boxes[0];
  Box& noWaitBox = *boxes[1];
  Box& defaultBox = *boxes[2];
  BoxLoop loop(Pointers(boxes));

  Child noWait;
  Child standard;
  Child daemon;
  LineClient noWaitClient;
  LineClient defaultClient;
  LineClient client;
  const int noWaitPort = PickFreePort();
  int defaultPort = PickFreePort();
  while (defaultPort == noWaitPort) defaultPort = PickFreePort();
  if (!StartRotctld(plan.paths, noWaitBox, noWaitPort,
                    {"--set-conf=post_write_delay=0"}, "nowait", noWait,
                    noWaitClient) ||
      !StartRotctld(plan.paths, defaultBox, defaultPort, {}, "default",
                    standard, defaultClient)) {
    result.error = "rotctld did not start";
    return result;
  }
  loop.Activate(1);
  loop.Activate(2);
  if (!StartZeva(plan.paths, daemon, client)) {
    result.error = "the daemon did not start";
    return result;
  }
  // The cycles come first: each ends with ZEVA releasing every rotator.
  client.Close();

  const int zevaCycles = plan.Scaled(30);
  const int noWaitCycles = plan.Scaled(30);
  const int defaultCycles = plan.Scaled(15);
  for (int i = 0; i < std::max(zevaCycles, noWaitCycles); ++i) {
    double ms = 0;
    const int bearing = (i * 37) % 360;
    if (i < zevaCycles) {
      if (ZevaCycle(cycleBox, bearing, &ms))
        result.zeva.cycle.push_back(ms);
      else
        ++result.zeva.failures;
    }
    if (i < noWaitCycles) {
      if (RotctldCycle(loop, noWaitBox, noWaitPort, bearing, &ms))
        result.rotctldNoWait.cycle.push_back(ms);
      else
        ++result.rotctldNoWait.failures;
    }
    if (i < defaultCycles) {
      if (RotctldCycle(loop, defaultBox, defaultPort, bearing, &ms))
        result.rotctldDefault.cycle.push_back(ms);
      else
        ++result.rotctldDefault.failures;
    }
    SleepMs(10);
  }

  // ZEVA's client for the rest: rotator 1 polled every second; the reader
  // notes every direction line with the reply it carries.
  struct Push {
    int id;
    int64_t atNs;
    int64_t replyNs;
  };
  std::mutex mutex;  // guards pushes and collecting
  std::vector<Push> pushes;
  bool collecting = false;
  Box* byId[] = {nullptr, &zevaBox, boxes[3].get(), boxes[4].get(),
                 boxes[5].get()};
  if (!client.Connect(13020, 5000)) {
    result.error = "cannot connect to the daemon";
    return result;
  }
  client.StartReader('\r', [&](const std::string& line, int64_t at) {
    int id = 0;
    int bearing = 0;
    if (std::sscanf(line.c_str(), "%d %d", &id, &bearing) != 2 || id < 1 ||
        id > 4)
      return;
    const int64_t reply = byId[id]->ReplyNs(bearing);
    std::lock_guard<std::mutex> lock(mutex);
    if (collecting) pushes.push_back({id, at, reply});
  });
  client.Send(ConfigureLines({&zevaBox}, 1, 1000));
  if (!loop.ActivateWhenRaw({0}, 5000)) {
    result.error = "the daemon did not open the device";
    return result;
  }
  SleepMs(200);

  // Command latency, the three taking turns so that they meet the same
  // load; the default rotctld (about 100 ms a command) in every second
  // round.
  const int rounds = plan.Scaled(200);
  for (int i = 0; i < rounds; ++i) {
    const int bearing = (i * 53) % 360;
    double ms = 0;
    if (TurnThrough(loop, zevaBox, client,
                    "ROTATE 1 " + std::to_string(bearing) + "\r", &ms))
      result.zeva.command.push_back(ms);
    else
      ++result.zeva.failures;
    SleepMs(2);
    if (RotctldTurn(loop, noWaitBox, noWaitClient, bearing, &ms))
      result.rotctldNoWait.command.push_back(ms);
    else
      ++result.rotctldNoWait.failures;
    if (i % 2 == 0) {
      if (RotctldTurn(loop, defaultBox, defaultClient, bearing, &ms))
        result.rotctldDefault.command.push_back(ms);
      else
        ++result.rotctldDefault.failures;
    }
    SleepMs(3 + i % 7);
  }

  // The same serial traffic on all three: one position query a second to a
  // turning antenna (every reply a new bearing). ZEVA polls by itself;
  // each rotctld is asked by its client.
  zevaBox.SetTurning(true);
  noWaitBox.SetTurning(true);
  defaultBox.SetTurning(true);
  SleepMs(1200);  // ZEVA's next poll: a fresh bearing
  const double window = plan.ScaledSeconds(30);
  result.windowSeconds = window;
  const int64_t start = NowNs() + 100 * kMs;
  const int64_t end = start + static_cast<int64_t>(window * 1e9);
  {
    std::lock_guard<std::mutex> lock(mutex);
    collecting = true;
  }
  std::vector<Known> noWaitKnown;
  std::vector<Known> defaultKnown;
  // Offset by a third of a second each so that the three do not query at
  // the same moment.
  std::thread noWaitPoller(PollRotctld, std::ref(noWaitClient),
                           std::ref(noWaitBox), start + 333 * kMs, end,
                           &noWaitKnown, &result.rotctldNoWait.failures);
  std::thread defaultPoller(PollRotctld, std::ref(defaultClient),
                            std::ref(defaultBox), start + 667 * kMs, end,
                            &defaultKnown, &result.rotctldDefault.failures);
  SleepUntil(start);
  const MachineLoad load;
  const double cpu[3] = {daemon.CpuSeconds(), noWait.CpuSeconds(),
                         standard.CpuSeconds()};
  SleepUntil(end);
  const double seconds = NsToMs(NowNs() - start) / 1000;
  double measured = 0;
  Contender* contenders[3] = {&result.zeva, &result.rotctldNoWait,
                              &result.rotctldDefault};
  Child* processes[3] = {&daemon, &noWait, &standard};
  for (int i = 0; i < 3; ++i) {
    const double used = processes[i]->CpuSeconds() - cpu[i];
    measured += used;
    contenders[i]->cpuSecondsPerHour = used / seconds * 3600;
    contenders[i]->residentKb = processes[i]->ResidentKb();
    contenders[i]->threads = processes[i]->Threads();
  }
  result.otherCores = load.OtherCores(measured);
  noWaitPoller.join();
  defaultPoller.join();
  result.rotctldNoWait.ageAt1s = AgeOf(noWaitKnown);
  result.rotctldDefault.ageAt1s = AgeOf(defaultKnown);

  // ZEVA at its faster poll periods, beside rotator 1.
  std::vector<Box*> faster;
  for (size_t i = 0; i < fasterPeriods.size(); ++i) {
    faster.push_back(boxes[3 + i].get());
    faster.back()->SetTurning(true);
    client.Send(ConfigureLines({faster.back()}, 2 + static_cast<int>(i),
                               fasterPeriods[i]));
  }
  if (!loop.ActivateWhenRaw(Indexes(3, faster.size()), 5000)) {
    result.error = "the daemon did not open every device";
    return result;
  }
  const double fasterWindow = plan.ScaledSeconds(15);
  SleepMs(fasterWindow * 1000);
  std::vector<Push> seen;
  {
    std::lock_guard<std::mutex> lock(mutex);
    collecting = false;
    seen.swap(pushes);
  }
  std::vector<Known> known[5];
  for (const Push& push : seen) {
    if (push.id == 1 && push.atNs >= end) continue;  // the 1 s window only
    known[push.id].push_back({push.atNs, push.replyNs});
  }
  result.zeva.ageAt1s = AgeOf(known[1]);
  for (size_t i = 0; i < fasterPeriods.size(); ++i)
    result.faster.push_back({fasterPeriods[i], AgeOf(known[2 + i])});

  client.Close();
  daemon.Stop();
  noWaitClient.Close();
  defaultClient.Close();
  noWait.Stop();
  standard.Stop();
  return result;
}

}  // namespace bench
