#include "Station.h"

#include <sys/stat.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>

#include "core/StationLog.h"
#include "common/Common.h"
#include "common/WakePipe.h"

namespace {

// The self-pipe a stop signal wakes; the loop watches its read end.
zeva::WakePipe g_stopPipe;
volatile sig_atomic_t g_stopRequested = 0;

// The loop wakes at least this often, whatever the deadlines say.
constexpr int kMaxSleepMs = 1000;
// How often the device paths are looked at (stat: portable, and it follows
// the symbolic links of /dev/serial/by-id).
constexpr int kWatchMs = 250;
// A command the daemon took this long to carry out went to a device that
// takes no bytes (the daemon gives up a write after 1 s; a command that
// waits for one of its polls of the same device takes 2 s). A healthy
// device takes a command in well under 0.1 s.
constexpr auto kStallMs = std::chrono::milliseconds(500);
// A stalled rotator's next command goes after this pause, doubling up to
// kMaxRetryGap while its device still takes no bytes.
constexpr auto kFirstRetryGap = std::chrono::seconds(5);
constexpr auto kMaxRetryGap = std::chrono::seconds(60);

// Descriptors the station keeps besides its clients' connections: standard
// streams, wake-up pipes, the daemon link (two while it starts over), the
// web server's listening socket and its own, the contest logger's three
// sockets, the country file while it is read.
constexpr rlim_t kOwnDescriptors = 32;

// Raises the soft limit on open descriptors to the hard one when it is below
// `wanted` (a service manager's default soft limit is often 1024); returns
// the limit in force.
rlim_t RaiseDescriptorLimit(rlim_t wanted) {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return wanted;
  if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= wanted) return limit.rlim_cur;
  const rlim_t before = limit.rlim_cur;
  limit.rlim_cur = limit.rlim_max;
  if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > 1048576) limit.rlim_cur = 1048576;
  if (limit.rlim_cur <= before || setrlimit(RLIMIT_NOFILE, &limit) != 0) return before;
  StationLog("raised the limit on open descriptors from %llu to %llu",
             static_cast<unsigned long long>(before),
             static_cast<unsigned long long>(limit.rlim_cur));
  return limit.rlim_cur;
}

// Where the systems put the radio amateurs' country file (Debian's and
// FreeBSD's hamradio-files).
const char* const kCountryFiles[] = {"/usr/share/hamradio-files/cty.dat",
                                     "/usr/local/share/hamradio-files/cty.dat"};

}  // namespace

Station::Station(const StationOptions& options) : options(options) {
  DaemonLink::Callbacks callbacks;
  callbacks.connected = [this](bool quietly) { OnConnected(quietly); };
  callbacks.bearing = [this](int id, int bearing) { OnBearing(id, bearing); };
  callbacks.lost = [this](bool failed) { OnLinkLost(failed); };
  callbacks.done = [this](uint64_t batch, DaemonLink::Clock::duration took) {
    OnBatchDone(batch, took);
  };
  link = std::make_unique<DaemonLink>(options.daemonHost, options.daemonPort, callbacks);
  for (const RotatorSetup& setup : options.rotators) {
    rotators.push_back(std::make_unique<StationRotator>(setup, *link));
  }
  if (!options.placeName.empty()) follower = std::make_unique<SkyFollower>(options.place, options.followStep);
  flows.resize(rotators.size());
}

Station::~Station() {
  logger.reset();
  web.reset();
  listeners.clear();
  if (link) link->Close();
}

bool Station::Open(std::string& error) {
  if (!g_stopPipe.Open()) {
    error = "cannot create a pipe";
    return false;
  }
  for (auto& rotator : rotators) {
    auto listener = std::make_unique<RotctlListener>(*rotator, options.verbose);
    if (!listener->Open(options.listenAddress, error)) return false;
    listeners.push_back(std::move(listener));
  }
  const rlim_t reserve =
      kOwnDescriptors + rotators.size() * (RotctlListener::kMaxSessions + 1);
  const rlim_t limit =
      RaiseDescriptorLimit(reserve + (options.httpPort != 0 ? WebFront::kConnections : 0));
  if (options.httpPort != 0 && !LoadCountries(error)) return false;
  if (options.httpPort != 0) {
    // The page's connections fit in what the limit leaves.
    unsigned connections = WebFront::kConnections;
    if (limit < reserve + connections) {
      connections = static_cast<unsigned>(limit > reserve + 8 ? limit - reserve : 8);
      StationLog("warning: the limit of %llu open descriptors leaves the web page %u connections "
                 "at once (%u wanted; raise the hard limit: ulimit -Hn, LimitNOFILE=)",
                 static_cast<unsigned long long>(limit), connections, WebFront::kConnections);
    }
    web = std::make_unique<WebFront>(options, rotators, *link, places, follower.get());
    if (!web->Open(connections, error)) return false;
  }
  if (options.logger.port != 0) {
    logger = std::make_unique<N1mmFront>(options, rotators);
    if (!logger->Open(error)) return false;
  }
  return true;
}

bool Station::LoadCountries(std::string& error) {
  std::string path = options.countryFile;
  struct stat info;
  for (const char* known : kCountryFiles) {
    if (path.empty() && stat(known, &info) == 0) path = known;
  }
  if (path.empty()) {
    StationLog("no country file (%s): callsigns and prefixes cannot be looked up; give --country-file",
               kCountryFiles[0]);
    return true;
  }
  CountryFile countries;
  if (!countries.Load(path, error)) {
    if (!options.countryFile.empty()) return false;
    StationLog("%s; callsigns and prefixes cannot be looked up", error.c_str());
    return true;
  }
  StationLog("%zu countries from %s", countries.Countries().size(), path.c_str());
  places = PlaceFinder(std::move(countries));
  return true;
}

void Station::RequestStop() {
  g_stopRequested = 1;
  g_stopPipe.Wake();
}

int Station::Run() {
  using Clock = std::chrono::steady_clock;
  StationLog("version %s; daemon at %s:%d; %zu rotator(s)", zeva::kVersion,
            options.daemonHost.c_str(), options.daemonPort, rotators.size());
  link->Start();
  if (web) web->Start(Clock::now());
  while (!g_stopRequested) {
    Clock::time_point now = Clock::now();
    if (now >= watchAt) WatchDevices(now);
    link->OnTimer(now);
    for (auto& rotator : rotators) rotator->OnTimer(now);
    if (follower) follower->OnTimer(now, std::chrono::system_clock::now());
    // Commands handed over let their sessions go on, which may queue more.
    bool sent = true;
    while (sent) {
      sent = SendCommands(now);
      for (auto& listener : listeners) listener->Service(now);
    }
    if (web) web->Service(now);
    if (logger) logger->Service(now);

    Clock::time_point next = std::min(watchAt, link->NextDeadline());
    for (auto& rotator : rotators) next = std::min(next, rotator->NextDeadline());
    if (follower) next = std::min(next, follower->NextDeadline());
    for (auto& listener : listeners) next = std::min(next, listener->NextDeadline());
    if (web) next = std::min(next, web->NextDeadline());
    if (logger) next = std::min(next, logger->NextDeadline());
    for (const Flow& flow : flows) {
      if (flow.stalled && flow.retryAt > now) next = std::min(next, flow.retryAt);
    }
    int timeoutMs = kMaxSleepMs;
    if (next != Clock::time_point::max()) {
      auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count() + 1;
      timeoutMs = static_cast<int>(std::max<long long>(0, std::min<long long>(wait, kMaxSleepMs)));
    }

    pollSet.Clear();
    pollSet.Add(g_stopPipe.ReadFd(), POLLIN, [](short) { g_stopPipe.Drain(); });
    link->AddToPollSet(pollSet);
    for (auto& listener : listeners) listener->AddToPollSet(pollSet);
    if (web) web->AddToPollSet(pollSet);
    if (logger) logger->AddToPollSet(pollSet);
    pollSet.Wait(timeoutMs);
    pollSet.Dispatch();
  }
  StationLog("stopping");
  logger.reset();
  web.reset();
  listeners.clear();
  link->Close();
  return 0;
}

void Station::WatchDevices(std::chrono::steady_clock::time_point now) {
  watchAt = now + std::chrono::milliseconds(kWatchMs);
  bool changed = false;
  for (auto& rotator : rotators) changed = rotator->WatchDevice() || changed;
  // The daemon never opens a device again by itself, and a rotator whose
  // device went holds a dead descriptor: only a new registry helps.
  if (changed) link->Refresh();
}

bool Station::SendCommands(std::chrono::steady_clock::time_point now) {
  if (!link->Connected()) return false;
  bool sent = false;
  std::string line;
  // Healthy rotators first; a stalled one only when nothing else is
  // outstanding, so that no one's command waits behind it in the daemon.
  for (bool stalledPass : {false, true}) {
    for (size_t i = 0; i < rotators.size(); ++i) {
      Flow& flow = flows[i];
      if (flow.batch != 0 || flow.stalled != stalledPass) continue;
      if (flow.stalled && (link->Outstanding() > 0 || now < flow.retryAt)) continue;
      if (!rotators[i]->TakeCommand(line)) continue;
      flow.batch = link->SendBatch({line});
      if (flow.batch == 0) {
        rotators[i]->NotSent();  // the link failed at once
        return sent;
      }
      if (flow.stalled) {
        flow.retryAt = now + flow.retryGap;
        flow.retryGap = std::min<std::chrono::milliseconds>(2 * flow.retryGap, kMaxRetryGap);
      }
      sent = true;
    }
  }
  return sent;
}

void Station::OnBatchDone(uint64_t batch, std::chrono::steady_clock::duration took) {
  for (size_t i = 0; i < flows.size(); ++i) {
    Flow& flow = flows[i];
    if (flow.batch != batch) continue;
    flow.batch = 0;
    const int id = rotators[i]->Setup().id;
    if (took >= kStallMs) {
      if (!flow.stalled) {
        StationLog("rotator %d: the daemon took %.1f s to carry out its command (its device takes "
                   "no bytes?); its commands now go alone, after the other rotators', the next "
                   "in %lld s",
                   id, std::chrono::duration<double>(took).count(),
                   static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(
                                              kFirstRetryGap).count()));
        flow.stalled = true;
        flow.retryGap = kFirstRetryGap;
        flow.retryAt = std::chrono::steady_clock::now() + kFirstRetryGap;
      }
    } else if (flow.stalled) {
      StationLog("rotator %d: its device takes commands again", id);
      flow.stalled = false;
    }
    return;
  }
}

void Station::OnConnected(bool quietly) {
  auto now = std::chrono::steady_clock::now();
  std::vector<std::string> lines;
  for (auto& rotator : rotators) {
    if (!rotator->DevicePresent()) continue;
    lines.push_back(rotator->ConfigureLine());
    rotator->Configured(now, quietly);
  }
  link->SendBatch(lines);
}

void Station::OnBearing(int id, int bearing) {
  for (auto& rotator : rotators) {
    if (rotator->Setup().id == id) {
      rotator->OnBearing(bearing);
      return;
    }
  }
  if (strangers.insert(id).second) {
    StationLog("bearings for rotator %d, which the station did not configure: another client "
              "of the daemon configured it",
              id);
  }
}

void Station::OnLinkLost(bool failed) {
  for (auto& rotator : rotators) rotator->OnLinkLost(failed);
  // A new registry opens every device afresh.
  for (Flow& flow : flows) flow = Flow();
}
