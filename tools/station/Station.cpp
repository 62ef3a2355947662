#include "Station.h"

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

}  // namespace

Station::Station(const StationOptions& options) : options(options) {
  DaemonLink::Callbacks callbacks;
  callbacks.connected = [this](bool quietly) { OnConnected(quietly); };
  callbacks.bearing = [this](int id, int bearing) { OnBearing(id, bearing); };
  callbacks.lost = [this](bool failed) { OnLinkLost(failed); };
  link = std::make_unique<DaemonLink>(options.daemonHost, options.daemonPort, callbacks);
  for (const RotatorSetup& setup : options.rotators) {
    rotators.push_back(std::make_unique<StationRotator>(setup, *link));
  }
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
  if (options.httpPort != 0) {
    web = std::make_unique<WebFront>(options, rotators, *link);
    if (!web->Open(error)) return false;
  }
  if (options.logger.port != 0) {
    logger = std::make_unique<N1mmFront>(options, rotators);
    if (!logger->Open(error)) return false;
  }
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
    // Commands handed over let their sessions go on, which may queue more.
    bool sent = true;
    while (sent) {
      sent = SendCommands();
      for (auto& listener : listeners) listener->Service(now);
    }
    if (web) web->Service(now);
    if (logger) logger->Service(now);

    Clock::time_point next = std::min(watchAt, link->NextDeadline());
    for (auto& rotator : rotators) next = std::min(next, rotator->NextDeadline());
    for (auto& listener : listeners) next = std::min(next, listener->NextDeadline());
    if (web) next = std::min(next, web->NextDeadline());
    if (logger) next = std::min(next, logger->NextDeadline());
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

bool Station::SendCommands() {
  if (!link->Idle()) return false;
  std::vector<std::string> lines;
  std::vector<StationRotator*> senders;
  std::string line;
  for (auto& rotator : rotators) {
    if (!rotator->TakeCommand(line)) continue;
    lines.push_back(line);
    senders.push_back(rotator.get());
  }
  if (lines.empty()) return false;
  if (link->SendBatch(lines)) return true;
  for (StationRotator* rotator : senders) rotator->NotSent();  // the link failed at once
  return false;
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
}
