#include "bench/Scenarios.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "bench/Clock.h"
#include "bench/Load.h"

namespace bench {

int Plan::Scaled(int count) const {
  const int scaled = static_cast<int>(std::lround(count * scale));
  return std::max(scaled, 3);
}

double Plan::ScaledSeconds(double seconds) const {
  return std::max(seconds * scale, 2.0);
}

namespace {

constexpr int64_t kMs = 1000000;
constexpr int64_t kSecond = 1000000000;

using Boxes = std::vector<std::unique_ptr<Box>>;

bool MakeBoxes(int count, Boxes* boxes, std::string* error) {
  for (int i = 0; i < count; ++i) {
    boxes->emplace_back(new Box());
    if (!boxes->back()->Ok()) {
      *error = "cannot open a pseudo-terminal";
      return false;
    }
  }
  return true;
}

std::vector<Box*> Pointers(const Boxes& boxes) {
  std::vector<Box*> pointers;
  for (const auto& box : boxes) pointers.push_back(box.get());
  return pointers;
}

std::vector<size_t> Indexes(size_t from, size_t count) {
  std::vector<size_t> indexes;
  for (size_t i = 0; i < count; ++i) indexes.push_back(from + i);
  return indexes;
}

void SleepUntil(int64_t ns) { SleepMs(NsToMs(ns - NowNs())); }

// Reads whatever waits on a master nobody else serves. Returns true once
// the slave side has hung up (read fails with EIO).
bool DrainMaster(int fd, std::string* seen) {
  char buffer[512];
  for (;;) {
    ssize_t count = read(fd, buffer, sizeof buffer);
    if (count > 0) {
      if (seen) seen->append(buffer, static_cast<size_t>(count));
      continue;
    }
    return count < 0 && errno == EIO;
  }
}

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

}  // namespace

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

Footprint MeasureFootprint(const Plan& plan, int rotators,
                           double windowSeconds) {
  Footprint result;
  result.rotators = rotators;
  Boxes boxes;
  if (!MakeBoxes(rotators, &boxes, &result.error)) return result;
  BoxLoop loop(Pointers(boxes));
  Child daemon;
  LineClient client;
  if (!StartZeva(plan.paths, daemon, client)) {
    result.error = "the daemon did not start";
    return result;
  }
  client.StartReader('\r', [](const std::string&, int64_t) {});
  if (rotators > 0) {
    client.Send(ConfigureLines(Pointers(boxes), 1, 1000));
    if (!loop.ActivateWhenRaw(Indexes(0, boxes.size()), 10000)) {
      result.error = "the daemon did not open every device";
      return result;
    }
  }
  SleepMs(2000);  // past start-up and the first polls
  const MachineLoad load;
  const double cpuBefore = daemon.CpuSeconds();
  const int64_t start = NowNs();
  SleepMs(windowSeconds * 1000);
  const double cpuAfter = daemon.CpuSeconds();
  const int64_t end = NowNs();
  result.windowSeconds = NsToMs(end - start) / 1000;
  result.cpuSecondsPerHour =
      (cpuAfter - cpuBefore) / result.windowSeconds * 3600;
  result.otherCores = load.OtherCores(cpuAfter - cpuBefore);
  result.residentKb = daemon.ResidentKb();
  result.peakKb = daemon.PeakResidentKb();
  result.threads = daemon.Threads();
  client.Close();
  daemon.Stop();
  return result;
}

namespace {

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

bool ZevaTurn(BoxLoop& loop, Box& box, LineClient& client, int bearing,
              double* ms) {
  const int before = box.SetCommands();
  const int64_t start = NowNs();
  client.Send("ROTATE 1 " + std::to_string(bearing) + "\r");
  if (!loop.WaitFor([&] { return box.SetCommands() > before; }, 3000))
    return false;
  *ms = NsToMs(box.LastSetNs() - start);
  return true;
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
    if (ZevaTurn(loop, zevaBox, client, bearing, &ms))
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
